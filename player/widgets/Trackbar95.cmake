# Trackbar95: the position bar with its four style properties.
add_library(tunedeck_trackbar95 STATIC ${CMAKE_CURRENT_LIST_DIR}/Trackbar95.cpp)
add_library(Tunedeck::Trackbar95 ALIAS tunedeck_trackbar95)
target_include_directories(tunedeck_trackbar95 PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(tunedeck_trackbar95 PUBLIC Qt6::Widgets PRIVATE Tunedeck::Warnings)
set_target_properties(tunedeck_trackbar95 PROPERTIES AUTOMOC ON)

if(TUNEDECK_TESTS)
    td_add_qttest(Trackbar95Test LABEL unit
        SOURCES ${CMAKE_CURRENT_LIST_DIR}/tests/Trackbar95Test.cpp
        LIBS Tunedeck::Trackbar95)
endif()
