# Warnings are errors in every build, with either compiler.
set(LK_WARNINGS -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor -Wold-style-cast
    -Wcast-align -Woverloaded-virtual -Wconversion -Wsign-conversion -Wnull-dereference
    -Wdouble-promotion -Wformat=2 -Wimplicit-fallthrough -Werror)
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
  list(APPEND LK_WARNINGS -Wduplicated-cond -Wlogical-op -Wuseless-cast)
endif()

# Applies the project's warnings to one of our own targets (not to googletest).
function(lk_warnings target)
  target_compile_options(${target} PRIVATE $<$<COMPILE_LANGUAGE:CXX>:${LK_WARNINGS}>)
endfunction()

# GCC 12 reports false null-dereference and restrict findings inside libstdc++ once it inlines at
# -O3; they stay warnings in optimised builds and errors in the debug builds the tests use.
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_BUILD_TYPE MATCHES "Release|RelWithDebInfo")
  list(APPEND LK_WARNINGS -Wno-error=null-dereference -Wno-error=restrict)
endif()
