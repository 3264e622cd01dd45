# CPU kernel library throughput, driven through the front-end. One thread:
# taskset -c 0 build/bin/bench_cpu_kernels; otherwise the threader uses its
# thread-count limit (every core the process may run on).
# BM_Variant links the kernels themselves to run each instruction-set variant.
qrx_add_benchmark(bench_cpu_kernels
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/bench_cpu_kernels.cpp
  LIBS qrx_data_fitting_objects qrx_df_kernels_objects)
target_include_directories(bench_cpu_kernels PRIVATE ${PROJECT_SOURCE_DIR}/platform/df_kernels/src)

# The public interpolate call on a CPU queue against the kernel front-end on
# the same data: the cost around the kernel, from 1 site to 10^7.
qrx_add_benchmark(bench_public_call
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/bench_public_call.cpp
  LIBS qrx_data_fitting_objects)
