# The play list's names (PathList) and play-list files (".tdl").
add_library(tunedeck_playlistfile STATIC PathList.cpp PlayListFile.cpp SongFiles.cpp)
add_library(Tunedeck::PlayListFile ALIAS tunedeck_playlistfile)
target_include_directories(tunedeck_playlistfile PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(tunedeck_playlistfile PUBLIC Qt6::Core Tunedeck::FileNames PRIVATE Tunedeck::FilCtl95 Tunedeck::Warnings)

if(TUNEDECK_TESTS)
    td_add_qttest(PlayListFileTest LABEL unit
        SOURCES tests/PlayListFileTest.cpp LIBS Tunedeck::PlayListFile)
    td_add_qttest(PathListTest LABEL unit
        SOURCES tests/PathListTest.cpp LIBS Tunedeck::PlayListFile)
endif()

if(TUNEDECK_BENCH)
    add_executable(playlist_bench ${CMAKE_SOURCE_DIR}/bench/playlist_bench.cpp)
    target_link_libraries(playlist_bench PRIVATE Tunedeck::PlayListFile Qt6::Widgets Tunedeck::Warnings)
endif()
