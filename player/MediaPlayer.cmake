# The media device (component LettoreMidi): TMediaPlayer over the engine's Device. Qt Core only.
add_library(tunedeck_mediaplayer STATIC
    ${CMAKE_CURRENT_LIST_DIR}/TMediaPlayer.cpp ${CMAKE_CURRENT_LIST_DIR}/TMediaPlayer.h)
add_library(Tunedeck::MediaPlayer ALIAS tunedeck_mediaplayer)
set_target_properties(tunedeck_mediaplayer PROPERTIES AUTOMOC ON)
target_include_directories(tunedeck_mediaplayer PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(tunedeck_mediaplayer
    PUBLIC Qt6::Core Tunedeck::Engine
    PRIVATE Tunedeck::FileNames Tunedeck::Warnings)

if(TUNEDECK_TESTS)
    td_add_qttest(TMediaPlayerTest LABEL integration
        SOURCES ${CMAKE_CURRENT_LIST_DIR}/tests/TMediaPlayerTest.cpp
        LIBS Tunedeck::MediaPlayer Tunedeck::FileNames Tunedeck::TestSupport)
endif()
