# The browser's drive box and folder list, with the mount-table reader behind them and the
# pictures they draw.
add_library(tunedeck_filctl95 STATIC
    ${CMAKE_CURRENT_LIST_DIR}/FilCtl95.cpp
    ${CMAKE_CURRENT_LIST_DIR}/FilCtl95Pictures.cpp
    ${CMAKE_CURRENT_LIST_DIR}/FolderReader.cpp
    ${CMAKE_CURRENT_LIST_DIR}/MountTable.cpp)
add_library(Tunedeck::FilCtl95 ALIAS tunedeck_filctl95)
target_include_directories(tunedeck_filctl95 PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(tunedeck_filctl95 PUBLIC Qt6::Widgets Tunedeck::FileNames
    PRIVATE Threads::Threads Tunedeck::Warnings)

if(TUNEDECK_TESTS)
    td_add_qttest(MountTableTest LABEL unit
        SOURCES ${CMAKE_CURRENT_LIST_DIR}/tests/MountTableTest.cpp LIBS Tunedeck::FilCtl95)
    td_add_qttest(FilCtl95Test LABEL unit
        SOURCES ${CMAKE_CURRENT_LIST_DIR}/tests/FilCtl95Test.cpp LIBS Tunedeck::FilCtl95)
endif()
