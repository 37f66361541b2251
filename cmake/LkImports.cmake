# lk_check_imports(target...): every build of these programs runs cmake/CheckImports.cmake on
# them, so the build fails as soon as one imports a library outside the system's known ones; the
# same check is a test of its own (imports.<target>).
function(lk_check_imports)
  set(stamps "")
  foreach(target IN LISTS ARGN)
    if(NOT TARGET ${target})
      continue()
    endif()
    set(stamp ${CMAKE_BINARY_DIR}/imports/${target}.checked)
    set(check ${CMAKE_COMMAND} -DLK_OBJDUMP=${CMAKE_OBJDUMP} -DLK_PROGRAM=$<TARGET_FILE:${target}>)
    add_custom_command(OUTPUT ${stamp}
      COMMAND ${check} -DLK_STAMP=${stamp} -P ${PROJECT_SOURCE_DIR}/cmake/CheckImports.cmake
      DEPENDS ${target} ${PROJECT_SOURCE_DIR}/cmake/CheckImports.cmake
      COMMENT "Checking the imports of ${target}"
      VERBATIM)
    list(APPEND stamps ${stamp})
    if(LK_BUILD_TESTS)
      add_test(NAME imports.${target}
               COMMAND ${check} -P ${PROJECT_SOURCE_DIR}/cmake/CheckImports.cmake)
      set_tests_properties(imports.${target} PROPERTIES LABELS "imports")
    endif()
  endforeach()
  add_custom_target(lk_imports_checked ALL DEPENDS ${stamps})
endfunction()
