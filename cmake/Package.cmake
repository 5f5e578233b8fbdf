# The Debian package: `cmake --build build/default --target package` makes
# tavrin_VERSION_ARCH.deb from what the install rules put in place, under /usr.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tavrin)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR Tavrin)
set(CPACK_PACKAGE_CONTACT "Tavrin <tavrin@tavrin.example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "personal IPv4 packet filter with a Japanese window")
set(CPACK_PACKAGE_DESCRIPTION
    "Tavrin filters, throttles and watches this computer's IPv4 traffic: static and
dynamic filters, the TCP connections with their processes, host names and
bandwidth, captured packets sorted by filter, and external commands. It is the
desktop program Tavrin, its daemon Ovlank (a netfilter queue), tavrinctl for a
machine without a desktop, and the service tavrin.service.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_SET_DESTDIR ON)
set(CPACK_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE ${TAVRIN_HOME_PAGE})
# The shared libraries' packages, as dpkg-shlibdeps finds them; iptables for the
# daemon's chains, kmod for loading the queue facility, and Qt's platform plugins,
# without which the window cannot open (no library links them).
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "iptables, kmod, qt6-qpa-plugins")
# pkexec and xhost for the desktop launcher, a font with the window's Japanese
# characters.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS
    "pkexec | policykit-1, x11-xserver-utils, fonts-noto-cjk | fonts-ipafont-gothic")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "bash-completion, qt6-translations-l10n")

set(tavrin_package ${PROJECT_BINARY_DIR}/package)
foreach(script postinst prerm postrm)
  set(TAVRIN_BINARY ${CPACK_PACKAGING_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/Tavrin)
  set(TAVRIN_CTL_BINARY ${CPACK_PACKAGING_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/tavrinctl)
  set(TAVRIN_DAEMON_BINARY ${CPACK_PACKAGING_INSTALL_PREFIX}/${TAVRIN_DAEMON_DIR}/Ovlank)
  configure_file(${PROJECT_SOURCE_DIR}/app/res/package/${script}.in ${tavrin_package}/${script}
                 @ONLY FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ
                 GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
endforeach()
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    "${tavrin_package}/postinst;${tavrin_package}/prerm;${tavrin_package}/postrm")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# A source package holds the sources, not build folders or the history.
set(CPACK_SOURCE_GENERATOR TGZ)
set(CPACK_SOURCE_IGNORE_FILES "/build/" "/\\.git(/|$)" "/\\.cache/")
include(CPack)
