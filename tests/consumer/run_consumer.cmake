# Builds the consumer project against an installed tree and runs it.
#   QRX_PREFIX          the installed tree; when empty, the build in
#                       QRX_BUILD_DIR is installed into QRX_SCRATCH/prefix
#   QRX_PKG_CONFIG_PATH when set, the consumer finds the library through the
#                       pkg-config file in this folder instead of find_package
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
