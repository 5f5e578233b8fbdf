# Every build option in one place.
option(TAVRIN_WERROR "Treat warnings as errors" ON)
option(TAVRIN_TESTS "Build the tests" ON)
option(TAVRIN_BENCH "Build the benchmarks" ON)
option(TAVRIN_APP "Build the program side (model, core, tavrinctl)" ON)
option(TAVRIN_GUI "Build the Qt program Tavrin" ON)
option(TAVRIN_FUZZ "Build fuzz targets with libFuzzer (needs clang)" OFF)
option(TAVRIN_HARDEN "Hardening defines (_FORTIFY_SOURCE, _GLIBCXX_ASSERTIONS)" ON)
set(TAVRIN_HOME_PAGE "https://tavrin.example.org/" CACHE STRING
    "The project's web page, opened by the help menu")
# The installed layout: the daemon is no program a user starts, so it lives apart
# from them (PREFIX/lib/tavrin); the settings of the installed program are the
# system's.
set(TAVRIN_DAEMON_DIR "lib/tavrin" CACHE STRING
    "Folder of the installed daemon, relative to the install prefix")
set(TAVRIN_SETTINGS_DIR "/var/lib/tavrin" CACHE PATH
    "Settings folder of the installed program (Setting.ini, ExternalCommand.ini)")
set(TAVRIN_SANITIZE "" CACHE STRING "Sanitizers: empty, address (with undefined), or thread")
set_property(CACHE TAVRIN_SANITIZE PROPERTY STRINGS "" address thread)

# A machine with ccache reuses objects across build folders, work trees and clones:
# paths are hashed relative to this source tree, wherever it was cloned, so a fresh
# clone of the same commit builds from the cache. A machine without it builds as before.
find_program(TAVRIN_CCACHE ccache)
if(TAVRIN_CCACHE AND NOT CMAKE_CXX_COMPILER_LAUNCHER)
  set(CMAKE_CXX_COMPILER_LAUNCHER ${CMAKE_COMMAND} -E env CCACHE_BASEDIR=${PROJECT_SOURCE_DIR}
                                  CCACHE_NOHASHDIR=1 ${TAVRIN_CCACHE})
endif()
