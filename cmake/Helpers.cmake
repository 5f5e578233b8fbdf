# Test programs compile at -O1 with line tables: the code they test keeps the
# tree's own flags, and failures still point at file and line. Their compile time
# is most of a build's; this takes a third off it.
set(TAVRIN_TEST_COMPILE_OPTIONS -O1 -g1)

# tavrin_add_gtest(NAME SOURCES ... LIBS ... [LABELS ...] [TIMEOUT s])
# One GoogleTest executable registered as one CTest test. Labels pick the test in
# scripts/test.sh: "unit" runs everywhere, "asan" also under the sanitizer build,
# "tsan" under the thread sanitizer, "root" needs root and network namespaces.
function(tavrin_add_gtest name)
  cmake_parse_arguments(T "" "TIMEOUT" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gmock GTest::gtest_main
                                        Threads::Threads)
  target_include_directories(${name} PRIVATE ${PROJECT_BINARY_DIR}/tests)
  target_compile_options(${name} PRIVATE ${TAVRIN_TEST_COMPILE_OPTIONS})
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/tests/bin)
  add_test(NAME ${name} COMMAND ${name} --gtest_color=no)
  if(NOT T_LABELS)
    set(T_LABELS unit)
  endif()
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 300)
  endif()
  set_tests_properties(${name} PROPERTIES LABELS "${T_LABELS}" TIMEOUT ${T_TIMEOUT})
endfunction()

# tavrin_add_qtest(NAME SOURCES ... [LIBS ...] [LABELS ...] [TIMEOUT s])
# One QtTest executable for one window class, run under the offscreen platform so
# that no display is needed. Links the window library and the core's test harness.
function(tavrin_add_qtest name)
  cmake_parse_arguments(T "" "TIMEOUT" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  set_target_properties(${name} PROPERTIES AUTOMOC ON
                        RUNTIME_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/tests/bin)
  target_link_libraries(${name} PRIVATE tavrin_ui Qt6::Test tavrin_test_support ovlank_engine
                                        ${T_LIBS})
  target_include_directories(${name} PRIVATE ${PROJECT_BINARY_DIR}/tests
                             ${PROJECT_SOURCE_DIR}/tests/gui ${PROJECT_SOURCE_DIR}/tests/core
                             ${PROJECT_SOURCE_DIR}/tests/driver/engine)
  target_compile_options(${name} PRIVATE ${TAVRIN_TEST_COMPILE_OPTIONS})
  add_test(NAME ${name} COMMAND ${name})
  if(NOT T_LABELS)
    set(T_LABELS unit)
  endif()
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 300)
  endif()
  set_tests_properties(${name} PROPERTIES LABELS "${T_LABELS}" TIMEOUT ${T_TIMEOUT}
                       ENVIRONMENT "QT_QPA_PLATFORM=offscreen")
endfunction()
