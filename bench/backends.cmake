# The same public interpolate call on the GPU-class and on the CPU device.
qrx_add_benchmark(bench_backends
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/bench_backends.cpp
  LIBS qrx_data_fitting)
