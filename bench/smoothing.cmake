# Smoothing spline kernels called directly, given lambda and chosen by
# cross-validation: build/bin/bench_smoothing.
qrx_add_benchmark(bench_smoothing
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/bench_smoothing.cpp
  LIBS qrx_df_kernels_objects qrx_lumo_thread)
