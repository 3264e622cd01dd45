# Smoothing and least-squares construction through the public interface, on
# the device given as the first argument (0 CPU, 1 GPU-class).
qrx_add_benchmark(bench_fitting
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/bench_fitting.cpp
  LIBS qrx_data_fitting)
