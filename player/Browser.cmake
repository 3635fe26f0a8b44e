# The browser's and play list's handlers are part of tunedeck_player (see Program.cmake); their
# tests and the benchmark program for bench/browser.sh live here.
if(TUNEDECK_TESTS)
    td_add_qttest(BrowserTest LABEL integration
        SOURCES ${CMAKE_CURRENT_LIST_DIR}/tests/BrowserTest.cpp
        LIBS Tunedeck::Player Tunedeck::FilCtl95)
endif()

if(TUNEDECK_BENCH)
    add_executable(browser_bench ${CMAKE_SOURCE_DIR}/bench/browser_bench.cpp)
    target_link_libraries(browser_bench PRIVATE Tunedeck::Player Tunedeck::FilCtl95 Tunedeck::Warnings)
endif()
