# File names as the bytes the file system uses, for everything that crosses into files.
add_library(tunedeck_filenames STATIC FileNames.cpp PathList.cpp)
add_library(Tunedeck::FileNames ALIAS tunedeck_filenames)
target_include_directories(tunedeck_filenames PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(tunedeck_filenames PUBLIC Qt6::Core PRIVATE Tunedeck::Warnings)

# Play-list files (".tdl").
add_library(tunedeck_playlistfile STATIC PlayListFile.cpp)
add_library(Tunedeck::PlayListFile ALIAS tunedeck_playlistfile)
target_include_directories(tunedeck_playlistfile PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(tunedeck_playlistfile PUBLIC Qt6::Core Tunedeck::FileNames PRIVATE Tunedeck::Warnings)

if(TUNEDECK_TESTS)
    td_add_qttest(PlayListFileTest LABEL unit
        SOURCES tests/PlayListFileTest.cpp LIBS Tunedeck::PlayListFile)
    td_add_qttest(PathListTest LABEL unit
        SOURCES tests/PathListTest.cpp LIBS Tunedeck::FileNames)
endif()

if(TUNEDECK_TESTS)
    add_executable(playlist_bench ${CMAKE_SOURCE_DIR}/bench/playlist_bench.cpp)
    target_link_libraries(playlist_bench PRIVATE Tunedeck::PlayListFile Tunedeck::Warnings)
endif()
