# `cmake --install <build> --prefix P`: the programs, the maker's library and its header, the help
# file beside the program (where it looks for it), and the desktop entry with its icons and the
# play-list file type. Installed programs find the library through a relative RUNPATH.
include(GNUInstallDirs)

set_target_properties(tunedeck PROPERTIES INSTALL_RPATH "$ORIGIN/../${CMAKE_INSTALL_LIBDIR}")
install(TARGETS tunedeck keysweep RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
# The sound module, where the program looks for it (player/device/CMakeLists.txt).
install(TARGETS tunedeck_sound LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}/tunedeck)
install(TARGETS orvkit
    LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} NAMELINK_COMPONENT Development)
install(FILES ${CMAKE_SOURCE_DIR}/orvkit/include/orvkit/orvkit.h
    DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/orvkit)
install(FILES ${CMAKE_SOURCE_DIR}/player/Tunedeck.hlp DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${CMAKE_SOURCE_DIR}/player/tunedeck.desktop
    DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${CMAKE_SOURCE_DIR}/player/tunedeck-mime.xml
    DESTINATION ${CMAKE_INSTALL_DATADIR}/mime/packages RENAME tunedeck.xml)
foreach(size 48 64 128 256)
    install(FILES ${CMAKE_SOURCE_DIR}/player/icons/hicolor/${size}x${size}/tunedeck.png
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps)
endforeach()
