# Programs bench/light.sh measures: the bare Qt window the program's start-up is compared with,
# and the engine's figures.
add_executable(barewindow ${CMAKE_CURRENT_LIST_DIR}/bare_window.cpp)
target_link_libraries(barewindow PRIVATE Qt6::Widgets Tunedeck::Warnings)
add_executable(lightbench ${CMAKE_CURRENT_LIST_DIR}/light_bench.cpp)
target_link_libraries(lightbench PRIVATE Tunedeck::Engine Tunedeck::TestSupport Tunedeck::Warnings)
