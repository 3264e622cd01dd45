# Builds the consumer project against an installed tree and runs it.
#   QRX_PREFIX          the installed tree; when empty, the build in
#                       QRX_BUILD_DIR is installed into QRX_SCRATCH/prefix
#   QRX_PKG_CONFIG_PATH when set, the consumer finds the library through the
#                       pkg-config file in this folder instead of find_package
#   QRX_USE_PKG_CONFIG  when ON, the same through the tree's own pkg-config
#                       folder, QRX_PREFIX/QRX_LIBDIR/pkgconfig
#   QRX_INCLUDEDIR      the tree's include folder, relative to QRX_PREFIX
#   QRX_HOSTSYCL_INCLUDE_SUBDIR  where in it the bundled SYCL runtime's
#                       headers are, empty when the build does not use it
file(REMOVE_RECURSE ${QRX_SCRATCH})
function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "failed (${rc}): ${ARGN}")
  endif()
endfunction()
if(NOT QRX_PREFIX)
  set(QRX_PREFIX ${QRX_SCRATCH}/prefix)
  run(${CMAKE_COMMAND} --install ${QRX_BUILD_DIR} --prefix ${QRX_PREFIX})
endif()
if(QRX_USE_PKG_CONFIG)
  set(QRX_PKG_CONFIG_PATH ${QRX_PREFIX}/${QRX_LIBDIR}/pkgconfig)
endif()

# The only sycl/sycl.hpp of the tree is the bundled runtime's, in the
# library's own include folder, and only when the build uses that runtime: a
# sycl/ folder at the top of the include tree would shadow the headers of any
# other SYCL implementation on the system.
if(NOT QRX_INCLUDEDIR)
  set(QRX_INCLUDEDIR include)
endif()
cmake_path(ABSOLUTE_PATH QRX_INCLUDEDIR BASE_DIRECTORY ${QRX_PREFIX} OUTPUT_VARIABLE include_dir)
if(EXISTS ${include_dir}/sycl)
  message(FATAL_ERROR "the tree has ${include_dir}/sycl")
endif()
file(GLOB_RECURSE sycl_headers ${QRX_PREFIX}/sycl.hpp)
set(expected)
if(QRX_HOSTSYCL_INCLUDE_SUBDIR)
  set(expected ${include_dir}/${QRX_HOSTSYCL_INCLUDE_SUBDIR}/sycl/sycl.hpp)
endif()
if(NOT "${sycl_headers}" STREQUAL "${expected}")
  message(FATAL_ERROR "sycl.hpp in the tree: '${sycl_headers}'; expected: '${expected}'")
endif()

# The search prefixes go through the environment, whose list separator is
# ':', so that several of them reach the consumer's configuration intact.
if(QRX_PKG_CONFIG_PATH)
  # The tree is left out of the prefixes, which pkg_check_modules would search
  # as well: the library must be found through PKG_CONFIG_PATH alone.
  set(ENV{PKG_CONFIG_PATH} "${QRX_PKG_CONFIG_PATH}")
  string(REPLACE "|" ":" prefix_path "${QRX_PREFIX_PATH}")
  set(args -DQRX_CONSUMER_USE_PKG_CONFIG=ON)
else()
  string(REPLACE "|" ":" prefix_path "${QRX_PREFIX}|${QRX_PREFIX_PATH}")
  set(args)
endif()
string(REGEX REPLACE "^:+|:+$" "" prefix_path "${prefix_path}")
set(ENV{CMAKE_PREFIX_PATH} "${prefix_path}")
list(APPEND args -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_COMPILER=${QRX_CXX_COMPILER})
if(QRX_ACPP_TARGETS)
  list(APPEND args -DACPP_TARGETS=${QRX_ACPP_TARGETS})
endif()
if(QRX_SANITIZE)
  list(APPEND args "-DCMAKE_CXX_FLAGS=-fsanitize=${QRX_SANITIZE} -fno-omit-frame-pointer"
       "-DCMAKE_EXE_LINKER_FLAGS=-fsanitize=${QRX_SANITIZE}")
endif()
run(${CMAKE_COMMAND} -S ${QRX_CONSUMER_SOURCE} -B ${QRX_SCRATCH}/build ${args})
run(${CMAKE_COMMAND} --build ${QRX_SCRATCH}/build)
run(${QRX_SCRATCH}/build/consumer)
