# The same public interpolate call on the GPU-class and on the CPU device.
qrx_add_benchmark(bench_backends
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/bench_backends.cpp
  LIBS qrx_data_fitting)

# Construction of every cubic kind on both devices.
qrx_add_benchmark(bench_construct_kinds
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/bench_construct_kinds.cpp
  LIBS qrx_data_fitting)

# Public interpolate against the number of sites, per partition hint and device.
qrx_add_benchmark(bench_sites
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/bench_sites.cpp
  LIBS qrx_data_fitting)

# Many functions over one partition: the public call on the CPU device
# against an OpenMP loop over the library's own coefficients.
qrx_add_benchmark(bench_many_functions
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/bench_many_functions.cpp
  LIBS qrx_data_fitting)
find_package(OpenMP)
if(OpenMP_CXX_FOUND)
  target_link_libraries(bench_many_functions PRIVATE OpenMP::OpenMP_CXX)
endif()
