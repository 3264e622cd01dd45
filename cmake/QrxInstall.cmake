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

set(QRX_PC_SYCL_CFLAGS "")
if(QRX_SYCL_IMPL STREQUAL "host")
  set(QRX_PC_SYCL_LIBS " -lhostsycl")
  set(QRX_PC_SYCL_CFLAGS " -I\${includedir}/${QRX_HOSTSYCL_INCLUDE_SUBDIR}")
elseif(QRX_SYCL_IMPL STREQUAL "fsycl")
  set(QRX_PC_SYCL_LIBS " -fsycl")
endif()
# The pkg-config file derives its prefix from its own folder, so that an
# installed tree still works when moved or unpacked from a package elsewhere
# (the package installs to /usr whatever CMAKE_INSTALL_PREFIX was). Absolute
# library or include folders cannot move with the tree and stay as given.
if(IS_ABSOLUTE "${CMAKE_INSTALL_LIBDIR}" OR IS_ABSOLUTE "${CMAKE_INSTALL_INCLUDEDIR}")
  set(QRX_PC_PREFIX "${CMAKE_INSTALL_PREFIX}")
  set(QRX_PC_LIBDIR "${CMAKE_INSTALL_FULL_LIBDIR}")
  set(QRX_PC_INCLUDEDIR "${CMAKE_INSTALL_FULL_INCLUDEDIR}")
else()
  file(RELATIVE_PATH _qrx_pc_up "/prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig" "/prefix")
  string(REGEX REPLACE "/$" "" _qrx_pc_up "${_qrx_pc_up}")
  set(QRX_PC_PREFIX "\${pcfiledir}/${_qrx_pc_up}")
  set(QRX_PC_LIBDIR "\${prefix}/${CMAKE_INSTALL_LIBDIR}")
  set(QRX_PC_INCLUDEDIR "\${prefix}/${CMAKE_INSTALL_INCLUDEDIR}")
endif()
configure_file(${PROJECT_SOURCE_DIR}/cmake/qrx_data_fitting.pc.in
  ${PROJECT_BINARY_DIR}/qrx_data_fitting.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/qrx_data_fitting.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
