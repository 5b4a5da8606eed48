# Installing Zentrow as a desktop app (GNUInstallDirs layout):
#   cmake --install build --prefix ~/.local
# The Debian package (debian/, `make package` or dpkg-buildpackage) is this same install under /usr.
include(GNUInstallDirs)

set(ZENTROW_APP_ID app.zentrow.Zentrow)
set(ZENTROW_SYSTEMD_USER_UNIT_DIR "lib/systemd/user" CACHE STRING
    "Where the backend's systemd user units go, relative to the install prefix")
set(_packaging ${CMAKE_CURRENT_SOURCE_DIR}/packaging)

install(TARGETS zentrow zentrow-backend RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${_packaging}/${ZENTROW_APP_ID}.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES ${_packaging}/zentrow-backend.socket DESTINATION ${ZENTROW_SYSTEMD_USER_UNIT_DIR})
# The icon theme folder: hicolor/<N>x<N>/apps and hicolor/scalable/apps.
install(DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR}/data/icons/hicolor DESTINATION ${CMAKE_INSTALL_DATADIR}/icons OPTIONAL)
install(FILES README.md DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/zentrow)
install(FILES ${_packaging}/man/zentrow.1 ${_packaging}/man/zentrow-backend.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
# The Plasma applet that shows the status text in a Plasma panel (Plasma's tray draws icons only).
# Plasma finds applets in <data>/plasma/plasmoids/<id>, the folder kpackagetool5 would install to.
set(ZENTROW_PLASMA_APPLET_ID app.zentrow.applet)
install(DIRECTORY ${_packaging}/plasma/${ZENTROW_PLASMA_APPLET_ID}
        DESTINATION ${CMAKE_INSTALL_DATADIR}/plasma/plasmoids)

# The menu entry and the service start the programs by their full path, which is only known at
# install time (`cmake --install --prefix` and the Debian rules choose it then), so both files are made then.
# Each prefix and staging folder gets its own scratch folder: installs may run side by side.
install(CODE "
    string(MD5 _scratch \"\$ENV{DESTDIR}|\${CMAKE_INSTALL_PREFIX}\")
    set(_scratch \"${CMAKE_BINARY_DIR}/packaging-install/\${_scratch}\")
    set(ZENTROW_EXEC \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/zentrow\")
    set(ZENTROW_BACKEND_EXEC \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/zentrow-backend\")
    configure_file(\"${_packaging}/${ZENTROW_APP_ID}.desktop.in\" \"\${_scratch}/${ZENTROW_APP_ID}.desktop\" @ONLY)
    configure_file(\"${_packaging}/zentrow-backend.service.in\" \"\${_scratch}/zentrow-backend.service\" @ONLY)
    file(INSTALL \"\${_scratch}/${ZENTROW_APP_ID}.desktop\"
         DESTINATION \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_DATADIR}/applications\")
    file(INSTALL \"\${_scratch}/zentrow-backend.service\"
         DESTINATION \"\${CMAKE_INSTALL_PREFIX}/${ZENTROW_SYSTEMD_USER_UNIT_DIR}\")
")
