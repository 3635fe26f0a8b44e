# The gradient title bar the main window paints above its client area.
add_library(tunedeck_gradientcaption STATIC GradientCaption.cpp GradientCaption.h)
add_library(Tunedeck::GradientCaption ALIAS tunedeck_gradientcaption)
target_include_directories(tunedeck_gradientcaption PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(tunedeck_gradientcaption PUBLIC Qt6::Widgets PRIVATE Tunedeck::Warnings)

if(TUNEDECK_TESTS)
    td_add_qttest(GradientCaptionTest LABEL unit
        SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/tests/GradientCaptionTest.cpp
        LIBS Tunedeck::GradientCaption)
endif()
