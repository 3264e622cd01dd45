# Chooses the SYCL implementation and exposes it as one interface target,
# qrx_sycl, that every SYCL-using target links.
#   auto  : AdaptiveCpp if find_package finds it, else -fsycl if the compiler
#           accepts it, else the bundled host runtime
#   host  : the bundled host runtime (hostsycl/)
#   acpp  : AdaptiveCpp
#   fsycl : a compiler driven with -fsycl
include(CheckCXXCompilerFlag)

set(_qrx_sycl "${QRX_SYCL}")
if(_qrx_sycl STREQUAL "auto")
  find_package(AdaptiveCpp QUIET CONFIG)
  if(AdaptiveCpp_FOUND)
    set(_qrx_sycl acpp)
  else()
    set(CMAKE_REQUIRED_LINK_OPTIONS -fsycl)
    check_cxx_compiler_flag(-fsycl QRX_COMPILER_HAS_FSYCL)
    unset(CMAKE_REQUIRED_LINK_OPTIONS)
    if(QRX_COMPILER_HAS_FSYCL)
      set(_qrx_sycl fsycl)
    else()
      set(_qrx_sycl host)
    endif()
  endif()
endif()

add_library(qrx_sycl INTERFACE)
if(_qrx_sycl STREQUAL "host")
  # Where the bundled runtime's headers (sycl/sycl.hpp, ...) install,
  # relative to the include folder: inside the library's own folder, never
  # <prefix>/include/sycl, where they would shadow the headers of a SYCL
  # implementation installed on the same system for every program there.
  # Callers reach them through the CMake package and the pkg-config file.
  set(QRX_HOSTSYCL_INCLUDE_SUBDIR qrx_data_fitting/hostsycl)
  add_subdirectory(${PROJECT_SOURCE_DIR}/hostsycl ${PROJECT_BINARY_DIR}/hostsycl)
  target_link_libraries(qrx_sycl INTERFACE hostsycl)
elseif(_qrx_sycl STREQUAL "acpp")
  find_package(AdaptiveCpp REQUIRED CONFIG)
  # The runtime is linked through qrx_sycl so that consumers of the installed
  # package get it too; acpp itself compiles each target that qrx_sycl_target
  # marks.
  target_link_libraries(qrx_sycl INTERFACE AdaptiveCpp::acpp-rt)
elseif(_qrx_sycl STREQUAL "fsycl")
  target_compile_options(qrx_sycl INTERFACE -fsycl)
  target_link_options(qrx_sycl INTERFACE -fsycl)
else()
  message(FATAL_ERROR "QRX_SYCL must be auto, host, acpp or fsycl, not '${QRX_SYCL}'")
endif()
set(QRX_SYCL_IMPL "${_qrx_sycl}" CACHE INTERNAL "the SYCL implementation in use")
message(STATUS "qrx: SYCL implementation: ${_qrx_sycl}")

# Marks a target as SYCL code: it links the SYCL implementation and, with
# AdaptiveCpp, acpp compiles and links it. Call it after the target's last
# target_sources(), since AdaptiveCpp ties its rule file to the sources known
# at that point. Every target that includes <sycl/sycl.hpp> goes through here.
function(qrx_sycl_target target)
  target_link_libraries(${target} PRIVATE qrx_sycl)
  if(QRX_SYCL_IMPL STREQUAL "acpp")
    get_target_property(_sources ${target} SOURCES)
    if(_sources)
      add_sycl_to_target(TARGET ${target} SOURCES ${_sources})
    else()
      add_sycl_to_target(TARGET ${target})
    endif()
  endif()
endfunction()
