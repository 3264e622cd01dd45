# Debian package of what `cmake --install` installs: the shared library and
# its soname links, the service and kernel stand-ins beside it, the public
# headers (with the bundled SYCL runtime's when the build uses it), the CMake
# package and the pkg-config file. `cpack -G DEB` in the build folder makes it.
#
# Everything the package installs finds its neighbours relative to itself
# (RUNPATH $ORIGIN, the CMake package's computed prefix, the pkg-config file's
# ${pcfiledir}), so the tree also works unpacked somewhere other than /usr.
set(CPACK_GENERATOR "DEB")
set(CPACK_PACKAGE_NAME "qrx_data_fitting")
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_VENDOR "qrx data fitting developers")
set(CPACK_PACKAGE_CONTACT "qrx data fitting developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
  "One-dimensional spline construction and evaluation for SYCL 2020 programs")
set(CPACK_PACKAGING_INSTALL_PREFIX "/usr")

# Debian package names admit no underscore.
set(CPACK_DEBIAN_PACKAGE_NAME "qrx-data-fitting")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${CPACK_PACKAGE_CONTACT}")
set(CPACK_DEBIAN_PACKAGE_SECTION "libdevel")
set(CPACK_DEBIAN_PACKAGE_PRIORITY "optional")
# CPack puts the summary first, as the synopsis line.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
  "Linear and cubic splines (Hermite, natural, Akima, Bessel, Hyman) built from
partitions and function values, evaluated with their derivatives at many
sites, on GPU-class and CPU SYCL devices. The package holds the shared
library, the run-time service and CPU kernel libraries it loads from beside
itself, the C++ headers, a CMake package and a pkg-config file.")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

# Run-time dependencies. dpkg-shlibdeps reads them from the ELF files (TBB
# through the service library and the bundled SYCL runtime, the C and C++
# runtimes, the sanitizer runtimes of an instrumented build). Without it the
# list is written out; TBB's run-time package is the one outside the base
# system. Libraries the package carries itself (the service library, the
# bundled SYCL runtime) are resolved inside the package through $ORIGIN.
find_program(QRX_DPKG_SHLIBDEPS dpkg-shlibdeps)
find_program(QRX_FILE_PROGRAM file)
mark_as_advanced(QRX_DPKG_SHLIBDEPS QRX_FILE_PROGRAM)
if(QRX_DPKG_SHLIBDEPS AND QRX_FILE_PROGRAM)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
else()
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6, libstdc++6, libgcc-s1, libtbb12")
endif()

include(CPack)
