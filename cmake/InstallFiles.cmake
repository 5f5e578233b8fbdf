# Run at install time (see Install.cmake): the files that name installed paths,
# made for the prefix of this install, into TAVRIN_GENERATED.
set(prefix "${CMAKE_INSTALL_PREFIX}")
set(TAVRIN_BINARY "${prefix}/${TAVRIN_BINDIR}/Tavrin")
set(TAVRIN_CTL_BINARY "${prefix}/${TAVRIN_BINDIR}/tavrinctl")
set(TAVRIN_DAEMON_BINARY "${prefix}/${TAVRIN_DAEMON_DIR}/Ovlank")
set(CMAKE_INSTALL_FULL_DOCDIR "${prefix}/${TAVRIN_DOCDIR}")
set(res "${TAVRIN_SOURCE_DIR}/app/res")

configure_file("${res}/desktop/tavrin-launch.in" "${TAVRIN_GENERATED}/tavrin-launch" @ONLY)
configure_file("${res}/desktop/tavrin.policy.in" "${TAVRIN_GENERATED}/org.tavrin.Tavrin.policy"
               @ONLY)
configure_file("${res}/service/tavrin.service.in" "${TAVRIN_GENERATED}/tavrin.service" @ONLY)
foreach(page tavrinctl.1 Tavrin.1 Ovlank.8)
  configure_file("${res}/man/${page}.in" "${TAVRIN_GENERATED}/man/${page}" @ONLY)
  # Compressed as Debian keeps manual pages; -n leaves out the time, so that the
  # same page gives the same bytes.
  execute_process(COMMAND gzip -9nf "${TAVRIN_GENERATED}/man/${page}" RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "cannot compress the manual page ${page}")
  endif()
endforeach()
