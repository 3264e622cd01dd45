# GPU interpolation: cell search, the linear and cubic kernels and their
# dispatcher, one translation unit per spline kind.
set(_qrx_interpolate_sources
  ${CMAKE_CURRENT_LIST_DIR}/interpolate/dispatch_linear_interpolate.cpp
  ${CMAKE_CURRENT_LIST_DIR}/interpolate/dispatch_cubic_interpolate.cpp)
target_sources(qrx_data_fitting_objects PRIVATE ${_qrx_interpolate_sources})
# Source properties belong to the directory that defines the target.
set_source_files_properties(${_qrx_interpolate_sources} TARGET_DIRECTORY qrx_data_fitting_objects
  PROPERTIES COMPILE_OPTIONS "${QRX_KERNEL_FP_FLAGS}")
