# Warnings live in a private interface target so that they never leak into
# the targets of projects that consume the installed package.
add_library(qrx_warnings INTERFACE)
# GoogleTest's typed-suite macros leave a variadic argument empty, which
# clang's -Wpedantic reports; the flag must come after -Wpedantic.
target_compile_options(qrx_warnings INTERFACE -Wall -Wextra -Wpedantic
  $<$<CXX_COMPILER_ID:Clang>:-Wno-gnu-zero-variadic-macro-arguments>)
if(DEFINED ENV{CI} AND NOT "$ENV{CI}" STREQUAL "" AND NOT "$ENV{CI}" STREQUAL "false")
  target_compile_options(qrx_warnings INTERFACE -Werror)
  message(STATUS "qrx: CI is set, warnings are errors")
endif()
