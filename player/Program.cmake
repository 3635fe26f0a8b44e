# The Tunedeck program: its windows and sequencer as a library (linked by the program and by
# every player test), the help file beside the binary, and the thin main. The window's sources
# are all listed here; parts with a library of their own (the device, the play list, the widget
# families) come from their own fragments and are linked below.
set(tunedeck_player_sources
    ${CMAKE_CURRENT_LIST_DIR}/AboutFormUnit.cpp
    ${CMAKE_CURRENT_LIST_DIR}/DesktopFiles.cpp
    ${CMAKE_CURRENT_LIST_DIR}/FileView.cpp
    ${CMAKE_CURRENT_LIST_DIR}/HelpEngine.cpp
    ${CMAKE_CURRENT_LIST_DIR}/MenuButtonAccessible.cpp
    ${CMAKE_CURRENT_LIST_DIR}/MessageBoxes.cpp
    ${CMAKE_CURRENT_LIST_DIR}/Mpris.cpp
    ${CMAKE_CURRENT_LIST_DIR}/OrvkitCalls.cpp
    ${CMAKE_CURRENT_LIST_DIR}/PlayListDialog.cpp
    ${CMAKE_CURRENT_LIST_DIR}/Player.h
    ${CMAKE_CURRENT_LIST_DIR}/TunedeckApplication.cpp
    ${CMAKE_CURRENT_LIST_DIR}/TunedeckFormBrowser.cpp
    ${CMAKE_CURRENT_LIST_DIR}/TunedeckFormPlayListFiles.cpp
    ${CMAKE_CURRENT_LIST_DIR}/TunedeckFormUnit.cpp
    ${CMAKE_CURRENT_LIST_DIR}/UnitGenerale.cpp
)

add_library(tunedeck_player STATIC ${tunedeck_player_sources})
# The bus names the MIME types the desktop file lists: one list, read from there.
file(STRINGS ${CMAKE_CURRENT_LIST_DIR}/tunedeck.desktop tunedeck_mime_line REGEX "^MimeType=")
string(REPLACE "MimeType=" "" tunedeck_mime_types "${tunedeck_mime_line}")
string(REPLACE "\\" "" tunedeck_mime_types "${tunedeck_mime_types}")
string(REPLACE ";" "," tunedeck_mime_types "${tunedeck_mime_types}")
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${CMAKE_CURRENT_LIST_DIR}/tunedeck.desktop)
set_source_files_properties(${CMAKE_CURRENT_LIST_DIR}/Mpris.cpp PROPERTIES
    COMPILE_DEFINITIONS "TUNEDECK_MIME_TYPES=\"${tunedeck_mime_types}\"")
add_library(Tunedeck::Player ALIAS tunedeck_player)
target_include_directories(tunedeck_player PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(tunedeck_player
    PUBLIC Qt6::Widgets Qt6::DBus Tunedeck::MediaPlayer Tunedeck::PlayListFile Tunedeck::GradientCaption Tunedeck::Trackbar95 Tunedeck::ShadowLabel Tunedeck::ScrollText Tunedeck::FilCtl95
    PRIVATE Tunedeck::Warnings)
set_target_properties(tunedeck_player PROPERTIES AUTOMOC ON)
# The maker's shared library: the program needs it at load time and finds it beside itself
# ($ORIGIN).
target_link_libraries(tunedeck_player PUBLIC Tunedeck::Orvkit)
qt_add_resources(tunedeck_player tunedeck_player_icons
    PREFIX /
    BASE ${CMAKE_CURRENT_LIST_DIR}
    FILES ${CMAKE_CURRENT_LIST_DIR}/icons/tunedeck.png)

# The help file lives beside the program (and beside the tests, which share its folder).
set(tunedeck_help_output ${CMAKE_RUNTIME_OUTPUT_DIRECTORY}/Tunedeck.hlp)
add_custom_command(OUTPUT ${tunedeck_help_output}
    COMMAND ${CMAKE_COMMAND} -E copy_if_different
        ${CMAKE_CURRENT_LIST_DIR}/Tunedeck.hlp ${tunedeck_help_output}
    DEPENDS ${CMAKE_CURRENT_LIST_DIR}/Tunedeck.hlp
    COMMENT "Copying the help file beside the program")
add_custom_target(tunedeck_help ALL DEPENDS ${tunedeck_help_output})
add_dependencies(tunedeck_player tunedeck_help)

qt_add_executable(tunedeck ${CMAKE_CURRENT_LIST_DIR}/main.cpp)
target_link_libraries(tunedeck PRIVATE Tunedeck::Player Tunedeck::Warnings)
set_target_properties(tunedeck PROPERTIES
    WIN32_EXECUTABLE ON
    BUILD_RPATH "$ORIGIN")
# Install rules and the installed RUNPATH: cmake/TunedeckInstall.cmake.

if(TUNEDECK_TESTS)
    td_add_qttest(MessageBoxTest LABEL unit
        SOURCES ${CMAKE_CURRENT_LIST_DIR}/tests/MessageBoxTest.cpp
        LIBS Tunedeck::Player)
    td_add_qttest(AboutFormTest LABEL integration
        SOURCES ${CMAKE_CURRENT_LIST_DIR}/tests/AboutFormTest.cpp
        LIBS Tunedeck::Player)
    td_add_qttest(SequencerTextTest LABEL unit
        SOURCES ${CMAKE_CURRENT_LIST_DIR}/tests/SequencerTextTest.cpp
        LIBS Tunedeck::Player)
    td_add_qttest(PlayQueueTest LABEL integration
        SOURCES ${CMAKE_CURRENT_LIST_DIR}/tests/PlayQueueTest.cpp
        LIBS Tunedeck::Player Tunedeck::TestSupport)
    td_add_qttest(MainWindowTest LABEL integration
        SOURCES ${CMAKE_CURRENT_LIST_DIR}/tests/MainWindowTest.cpp
        LIBS Tunedeck::Player Tunedeck::TestSupport)
    # The window against a private PulseAudio server (skips without one).
    td_add_qttest(SoundServerTest LABEL integration
        SOURCES ${CMAKE_CURRENT_LIST_DIR}/tests/SoundServerTest.cpp
        LIBS Tunedeck::Player Tunedeck::TestSupport)
    td_add_qttest(DesktopTest LABEL integration
        SOURCES ${CMAKE_CURRENT_LIST_DIR}/tests/DesktopTest.cpp
        LIBS Tunedeck::Player Tunedeck::TestSupport)
    # The second start it runs is the real program.
    add_dependencies(DesktopTest tunedeck)
    td_add_qttest(PlayListFilesFormTest LABEL integration
        SOURCES ${CMAKE_CURRENT_LIST_DIR}/tests/PlayListFilesFormTest.cpp
        LIBS Tunedeck::Player Tunedeck::TestSupport)
endif()

# The calls into liborvkit: through the Help menu and the maker's line, and as the program's
# load-time binding.
if(TUNEDECK_TESTS)
    td_add_qttest(OrvkitCallsTest LABEL integration
        SOURCES ${CMAKE_CURRENT_LIST_DIR}/tests/OrvkitCallsTest.cpp
        LIBS Tunedeck::Player)
    add_test(NAME OrvkitBindingTest COMMAND ${CMAKE_COMMAND} -DREADELF=${CMAKE_READELF}
        -DNM=${CMAKE_NM} -DPROGRAM=$<TARGET_FILE:tunedeck>
        -P ${CMAKE_CURRENT_LIST_DIR}/tests/CheckOrvkitBinding.cmake)
    set_tests_properties(OrvkitBindingTest PROPERTIES LABELS unit)
    td_note_test_target(tunedeck unit)
endif()
