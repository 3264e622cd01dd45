# GPU-back-end throughput on the GPU-class device. Interpolation calls the
# dispatcher directly; construction goes through the public spline.
qrx_add_benchmark(bench_gpu_interpolate
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/bench_gpu_interpolate.cpp
  LIBS qrx_data_fitting_objects)
qrx_add_benchmark(bench_gpu_construct
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/bench_gpu_construct.cpp
  LIBS qrx_data_fitting)
