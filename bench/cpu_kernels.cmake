# CPU kernel library throughput, driven through the front-end. One thread:
# taskset -c 0 build/bin/bench_cpu_kernels; otherwise the threader uses its
# thread-count limit (every core the process may run on).
qrx_add_benchmark(bench_cpu_kernels
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/bench_cpu_kernels.cpp
  LIBS qrx_data_fitting_objects)
