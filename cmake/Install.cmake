# What `cmake --install` puts on a machine: the programs, the desktop launcher and
# entry, the icon in the hicolor theme, the polkit action for pkexec, the README.

install(TARGETS Ovlank RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
if(TAVRIN_APP)
  install(TARGETS tavrinctl RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()
install(FILES README.md DESTINATION ${CMAKE_INSTALL_DOCDIR})

if(TAVRIN_APP AND TAVRIN_GUI)
  set(TAVRIN_BINARY ${CMAKE_INSTALL_FULL_BINDIR}/Tavrin)
  set(desktop ${PROJECT_SOURCE_DIR}/app/res/desktop)
  configure_file(${desktop}/tavrin-launch.in ${PROJECT_BINARY_DIR}/install/tavrin-launch @ONLY)
  configure_file(${desktop}/tavrin.policy.in
                 ${PROJECT_BINARY_DIR}/install/org.tavrin.Tavrin.policy @ONLY)

  install(TARGETS Tavrin RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(PROGRAMS ${PROJECT_BINARY_DIR}/install/tavrin-launch
          DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES ${desktop}/tavrin.desktop
          DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/applications)
  install(FILES ${PROJECT_BINARY_DIR}/install/org.tavrin.Tavrin.policy
          DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/polkit-1/actions)
  foreach(size 16 22 24 32 48 64 128 256)
    install(FILES ${PROJECT_SOURCE_DIR}/app/res/icons/tavrin-${size}.png
            DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/icons/hicolor/${size}x${size}/apps
            RENAME tavrin.png)
  endforeach()
  install(FILES ${PROJECT_SOURCE_DIR}/app/res/icons/tavrin.svg
          DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/icons/hicolor/scalable/apps)
endif()
