# The browser's and play list's handlers are part of tunedeck_player (see Program.cmake); their
# tests and the benchmark program for bench/browser.sh live here.
if(TUNEDECK_TESTS)
    td_add_qttest(BrowserTest LABEL integration
        SOURCES ${CMAKE_CURRENT_LIST_DIR}/tests/BrowserTest.cpp
        LIBS Tunedeck::Player Tunedeck::FilCtl95)
    # Dragging with the pointer needs a platform that drops: xcb on a private X server. Without
    # xvfb-run the test starts on the offscreen platform and skips, saying why.
    qt_add_executable(BrowserDragTest ${CMAKE_CURRENT_LIST_DIR}/tests/BrowserDragTest.cpp)
    target_link_libraries(BrowserDragTest PRIVATE Qt6::Test Tunedeck::Warnings Tunedeck::Player)
    find_program(TUNEDECK_XVFB_RUN xvfb-run)
    if(TUNEDECK_XVFB_RUN)
        add_test(NAME BrowserDragTest COMMAND ${TUNEDECK_XVFB_RUN} -a $<TARGET_FILE:BrowserDragTest>)
        set(browser_drag_env ${TUNEDECK_TEST_ENV})
        list(FILTER browser_drag_env EXCLUDE REGEX "^QT_QPA_PLATFORM=")
        list(APPEND browser_drag_env "QT_QPA_PLATFORM=xcb")
    else()
        add_test(NAME BrowserDragTest COMMAND BrowserDragTest)
        set(browser_drag_env ${TUNEDECK_TEST_ENV})
    endif()
    set_tests_properties(BrowserDragTest PROPERTIES LABELS integration
        ENVIRONMENT "${browser_drag_env}")
endif()

add_executable(browser_bench EXCLUDE_FROM_ALL ${CMAKE_SOURCE_DIR}/bench/browser_bench.cpp)
target_link_libraries(browser_bench PRIVATE Tunedeck::Player Tunedeck::FilCtl95 Tunedeck::Warnings)
