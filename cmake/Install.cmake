# What `cmake --install` and the package put on a machine: the programs, the daemon
# apart from them (PREFIX/lib/tavrin), the desktop launcher and entry, the icon in
# the hicolor theme, the polkit action for pkexec, the service, the manual pages,
# the bash completion and the README.
#
# Files that name installed paths (the launcher, the policy, the service, the
# manual pages) are made at install time, from the prefix of that install: the
# package installs under /usr whatever prefix the build was configured with.
set(tavrin_generated ${PROJECT_BINARY_DIR}/install)
install(CODE "
  set(TAVRIN_SOURCE_DIR \"${PROJECT_SOURCE_DIR}\")
  set(TAVRIN_GENERATED \"${tavrin_generated}\")
  set(TAVRIN_BINDIR \"${CMAKE_INSTALL_BINDIR}\")
  set(TAVRIN_DOCDIR \"${CMAKE_INSTALL_DOCDIR}\")
  set(TAVRIN_DAEMON_DIR \"${TAVRIN_DAEMON_DIR}\")
  set(TAVRIN_SETTINGS_DIR \"${TAVRIN_SETTINGS_DIR}\")
  set(PROJECT_VERSION \"${PROJECT_VERSION}\")
  include(\"${PROJECT_SOURCE_DIR}/cmake/InstallFiles.cmake\")
")

install(TARGETS Ovlank RUNTIME DESTINATION ${TAVRIN_DAEMON_DIR})
install(FILES ${tavrin_generated}/man/Ovlank.8.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man8)
install(FILES README.md DESTINATION ${CMAKE_INSTALL_DOCDIR})
if(TAVRIN_APP)
  install(TARGETS tavrinctl RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES ${tavrin_generated}/man/tavrinctl.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  install(FILES ${tavrin_generated}/tavrin.service DESTINATION lib/systemd/system)
  install(FILES ${PROJECT_SOURCE_DIR}/app/res/completion/tavrinctl
          DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/bash-completion/completions)
endif()

if(TAVRIN_APP AND TAVRIN_GUI)
  set(desktop ${PROJECT_SOURCE_DIR}/app/res/desktop)
  install(TARGETS Tavrin RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(PROGRAMS ${tavrin_generated}/tavrin-launch DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES ${tavrin_generated}/man/Tavrin.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  install(FILES ${desktop}/tavrin.desktop
          DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/applications)
  install(FILES ${tavrin_generated}/org.tavrin.Tavrin.policy
          DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/polkit-1/actions)
  foreach(size 16 22 24 32 48 64 128 256)
    install(FILES ${PROJECT_SOURCE_DIR}/app/res/icons/tavrin-${size}.png
            DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/icons/hicolor/${size}x${size}/apps
            RENAME tavrin.png)
  endforeach()
  install(FILES ${PROJECT_SOURCE_DIR}/app/res/icons/tavrin.svg
          DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/icons/hicolor/scalable/apps)
endif()

include(cmake/Package.cmake)
