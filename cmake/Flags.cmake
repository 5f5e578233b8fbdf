# Warnings, hardening and sanitizers for every target of the tree.
add_compile_options(-Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wno-sign-conversion
                    -Wnon-virtual-dtor -Wold-style-cast -Woverloaded-virtual -Wvla)
if(TAVRIN_WERROR)
  add_compile_options(-Werror)
endif()

# Sanitizer builds at -O1 with line tables only: reports keep their file and line,
# and the instrumented tests compile in half the time of -O2 -g.
if(TAVRIN_SANITIZE STREQUAL "address")
  add_compile_options(-O1 -g1 -fsanitize=address,undefined -fno-sanitize-recover=all
                      -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
elseif(TAVRIN_SANITIZE STREQUAL "thread")
  add_compile_options(-O1 -g1 -fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
elseif(TAVRIN_HARDEN)
  add_compile_definitions(_GLIBCXX_ASSERTIONS)
  if(NOT CMAKE_BUILD_TYPE STREQUAL "Debug")
    add_compile_options(-U_FORTIFY_SOURCE -D_FORTIFY_SOURCE=3)
  endif()
  add_compile_options(-fstack-protector-strong)
endif()

# In the fuzz build every library carries coverage instrumentation, so the fuzzers
# are guided through the code they call and not only through their own files.
if(TAVRIN_FUZZ)
  add_compile_options(-fsanitize=fuzzer-no-link)
endif()
