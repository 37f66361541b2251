# Test registration.
#
# lk_add_test(NAME src...)  builds a GoogleTest executable and registers it:
#   native build: one ctest entry;
#   Windows build: one ctest entry per Wine prefix listed in PREFIXES (win32, win64, or a
#   private throw-away copy: win32-fresh, win64-fresh); pass PREFIXES win32 win64 for code that
#   touches the OS. The 64-bit build (preset mingw64) can only run in 64-bit prefixes: there the
#   win32 kinds are dropped, and a test that names only win32 kinds runs in win64 instead.
#   A machine that cannot execute 32-bit code skips the 32-bit build's tests (exit code 77).
# Extra keywords: LIBS (link libraries), PREFIXES, LABELS.
function(lk_add_test name)
  cmake_parse_arguments(ARG "" "" "LIBS;PREFIXES;LABELS" ${ARGN})
  add_executable(${name} ${ARG_UNPARSED_ARGUMENTS})
  lk_warnings(${name})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gtest GTest::gtest_main GTest::gmock)
  if(WIN32)
    if(NOT ARG_PREFIXES)
      set(ARG_PREFIXES win32)
    endif()
    if(CMAKE_SIZEOF_VOID_P EQUAL 8)
      set(kinds ${ARG_PREFIXES})
      list(FILTER kinds INCLUDE REGEX "^win64")
      if(NOT kinds)
        list(TRANSFORM ARG_PREFIXES REPLACE "^win32" "win64" OUTPUT_VARIABLE kinds)
      endif()
      set(ARG_PREFIXES ${kinds})
    endif()
    foreach(prefix IN LISTS ARG_PREFIXES)
      add_test(NAME ${name}.${prefix}
               COMMAND ${LK_WINE_RUN} ${prefix} $<TARGET_FILE:${name}>)
      set_tests_properties(${name}.${prefix} PROPERTIES LABELS "wine;${prefix};${ARG_LABELS}"
                           SKIP_RETURN_CODE 77)
    endforeach()
  else()
    add_test(NAME ${name} COMMAND ${name})
    set_tests_properties(${name} PROPERTIES LABELS "native;${ARG_LABELS}")
  endif()
endfunction()

if(WIN32)
  # Runs a Windows test executable in a Wine prefix of the build folder, creating it on first use.
  set(LK_WINE_RUN ${CMAKE_SOURCE_DIR}/scripts/wine-run.sh CACHE INTERNAL "")
  set(LK_WINE_PREFIX_ROOT ${CMAKE_BINARY_DIR}/wine CACHE INTERNAL "")
endif()
