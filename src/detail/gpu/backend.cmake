# GPU back-end: the implementation object that drives the two dispatchers.
target_sources(qrx_data_fitting_objects PRIVATE ${CMAKE_CURRENT_LIST_DIR}/backend/gpu_spline_impl.cpp)
