# The scrolling text panel (TScrollTextPanel) and its tick worker (TTickTimer).
add_library(tunedeck_scrolltext STATIC
    ${CMAKE_CURRENT_LIST_DIR}/TickTimer.cpp
    ${CMAKE_CURRENT_LIST_DIR}/ScrollTextPanel.cpp)
add_library(Tunedeck::ScrollText ALIAS tunedeck_scrolltext)
target_include_directories(tunedeck_scrolltext PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(tunedeck_scrolltext PUBLIC Qt6::Widgets Threads::Threads PRIVATE Tunedeck::Warnings)

if(TUNEDECK_TESTS)
    td_add_qttest(TickTimerTest LABEL integration
        SOURCES ${CMAKE_CURRENT_LIST_DIR}/tests/TickTimerTest.cpp
        LIBS Tunedeck::ScrollText)
endif()

if(TUNEDECK_TESTS)
    td_add_qttest(ScrollTextPanelTest LABEL unit
        SOURCES ${CMAKE_CURRENT_LIST_DIR}/tests/ScrollTextPanelTest.cpp
        LIBS Tunedeck::ScrollText)
endif()

if(TUNEDECK_TESTS)
    td_add_qttest(ScrollTextPanelThreadTest LABEL integration
        SOURCES ${CMAKE_CURRENT_LIST_DIR}/tests/ScrollTextPanelThreadTest.cpp
        LIBS Tunedeck::ScrollText)
endif()


# Timing figures for bench/scrolltext.sh.
if(TUNEDECK_BENCH)
    add_executable(scrolltext_bench ${CMAKE_SOURCE_DIR}/bench/scrolltext_bench.cpp)
    target_link_libraries(scrolltext_bench PRIVATE Tunedeck::ScrollText Tunedeck::Warnings)
endif()
