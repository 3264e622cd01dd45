# Construction: the dispatcher and its kernels, one generated translation
# unit per (element type, spline kind) so that the instantiations build in
# parallel.
set(_qrx_construct_sources)
foreach(_qrx_kind linear_spline::default_type cubic_spline::hermite cubic_spline::natural cubic_spline::akima
        cubic_spline::bessel cubic_spline::hyman)
  foreach(QRX_FP_TYPE float double)
    set(QRX_SPLINE_TYPE ${_qrx_kind})
    string(REGEX REPLACE ".*::" "" _qrx_name "${_qrx_kind}")
    if(_qrx_name STREQUAL "default_type")
      set(_qrx_name linear)
    endif()
    set(_qrx_source ${CMAKE_CURRENT_BINARY_DIR}/construct/dispatch_construct_${_qrx_name}_${QRX_FP_TYPE}.cpp)
    configure_file(${CMAKE_CURRENT_LIST_DIR}/construct/dispatch_construct_instance.cpp.in ${_qrx_source} @ONLY)
    list(APPEND _qrx_construct_sources ${_qrx_source})
  endforeach()
endforeach()
target_sources(qrx_data_fitting_objects PRIVATE ${_qrx_construct_sources})
set_source_files_properties(${_qrx_construct_sources} TARGET_DIRECTORY qrx_data_fitting_objects
  PROPERTIES COMPILE_OPTIONS "${QRX_KERNEL_FP_FLAGS}")
