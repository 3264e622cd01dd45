# Installs the library with an exported, namespaced CMake package and a
# pkg-config file.
include(CMakePackageConfigHelpers)

install(TARGETS qrx_data_fitting qrx_sycl EXPORT qrx_data_fitting_targets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(DIRECTORY include/data_fitting DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(EXPORT qrx_data_fitting_targets
  NAMESPACE velora::
  FILE qrx_data_fitting-targets.cmake
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/qrx_data_fitting)

configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/qrx_data_fitting-config.cmake.in
  ${PROJECT_BINARY_DIR}/qrx_data_fitting-config.cmake
  INSTALL_DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/qrx_data_fitting)
write_basic_package_version_file(${PROJECT_BINARY_DIR}/qrx_data_fitting-config-version.cmake
  VERSION ${PROJECT_VERSION}
  COMPATIBILITY SameMinorVersion)
install(FILES
  ${PROJECT_BINARY_DIR}/qrx_data_fitting-config.cmake
  ${PROJECT_BINARY_DIR}/qrx_data_fitting-config-version.cmake
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/qrx_data_fitting)

if(QRX_SYCL_IMPL STREQUAL "host")
  set(QRX_PC_SYCL_LIBS " -lhostsycl")
elseif(QRX_SYCL_IMPL STREQUAL "fsycl")
  set(QRX_PC_SYCL_LIBS " -fsycl")
endif()
configure_file(${PROJECT_SOURCE_DIR}/cmake/qrx_data_fitting.pc.in
  ${PROJECT_BINARY_DIR}/qrx_data_fitting.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/qrx_data_fitting.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
