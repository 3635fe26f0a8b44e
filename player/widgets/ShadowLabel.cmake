# The shadowed label (TShadowLabel): the about window's name and the main window's "Playing:".
add_library(tunedeck_shadowlabel STATIC ${CMAKE_CURRENT_LIST_DIR}/ShadowLabel.cpp)
add_library(Tunedeck::ShadowLabel ALIAS tunedeck_shadowlabel)
target_include_directories(tunedeck_shadowlabel PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(tunedeck_shadowlabel PUBLIC Qt6::Widgets PRIVATE Tunedeck::Warnings)

if(TUNEDECK_TESTS)
    td_add_qttest(ShadowLabelTest LABEL unit
        SOURCES ${CMAKE_CURRENT_LIST_DIR}/tests/ShadowLabelTest.cpp
        LIBS Tunedeck::ShadowLabel)
endif()
