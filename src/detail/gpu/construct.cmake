# Construction: the dispatcher and its kernels, one translation unit per
# (element type, spline kind) so that the instantiations build in parallel.
set(_qrx_construct_sources
  ${CMAKE_CURRENT_LIST_DIR}/construct/dispatch_construct_linear_float.cpp
  ${CMAKE_CURRENT_LIST_DIR}/construct/dispatch_construct_linear_double.cpp
  ${CMAKE_CURRENT_LIST_DIR}/construct/dispatch_construct_cubic_hermite_float.cpp
  ${CMAKE_CURRENT_LIST_DIR}/construct/dispatch_construct_cubic_hermite_double.cpp)
target_sources(qrx_data_fitting_objects PRIVATE ${_qrx_construct_sources})
set_source_files_properties(${_qrx_construct_sources} TARGET_DIRECTORY qrx_data_fitting_objects
  PROPERTIES COMPILE_OPTIONS "${QRX_KERNEL_FP_FLAGS}")
