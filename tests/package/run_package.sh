#!/bin/sh
# Makes the Debian package of the build in QRX_BUILD_DIR, unpacks it under
# QRX_SCRATCH and builds tests/consumer/project against the unpacked tree
# through the CMake package and through pkg-config. The variables come from
# the ctest entry (tests/package/CMakeLists.txt). Exit status 77: skipped.
set -eu

skip() {
  echo "package_deb: skipped: $*"
  exit 77
}
fail() {
  echo "package_deb: FAILED: $*" >&2
  exit 1
}

case "$QRX_SYCL_IMPL" in
  host) ;;
  acpp) skip "the build uses AdaptiveCpp; the package would need its runtime (AdaptiveCpp::acpp-rt), which no Debian package provides" ;;
  *) skip "the build uses the SYCL implementation '$QRX_SYCL_IMPL', whose runtime the package cannot carry" ;;
esac
command -v dpkg-deb >/dev/null 2>&1 || skip "dpkg-deb is not available"
"$QRX_CPACK" --help | grep -Eq '^ +DEB += ' || skip "cpack offers no DEB generator"
command -v pkg-config >/dev/null 2>&1 || skip "pkg-config is not available"

# Nothing from the caller's loader path: the unpacked tree must find its own
# libraries.
unset LD_LIBRARY_PATH
rm -rf "$QRX_SCRATCH"
mkdir -p "$QRX_SCRATCH"

echo "== cpack -G DEB"
"$QRX_CPACK" -G DEB --config "$QRX_BUILD_DIR/CPackConfig.cmake" -B "$QRX_SCRATCH/out" \
  || fail "cpack -G DEB"
set -- "$QRX_SCRATCH"/out/*.deb
[ $# -eq 1 ] && [ -f "$1" ] || fail "expected one .deb in $QRX_SCRATCH/out, found: $*"
deb=$1

echo "== $(basename "$deb"): $(stat -c %s "$deb") bytes"
dpkg-deb -f "$deb" Package Version Architecture Section Maintainer Depends
dpkg-deb -c "$deb"
dpkg-deb -c "$deb" | awk '{ print $6 }' | grep -v '^\./usr/' \
  && fail "the package installs files outside /usr"

root=$QRX_SCRATCH/root
dpkg-deb -x "$deb" "$root"
prefix=$root/usr
lib=$prefix/$QRX_LIBDIR
inc=$prefix/$QRX_INCLUDEDIR

# test -e follows symbolic links, so a dangling soname link counts as missing.
missing=
for f in \
  "$lib/libqrx_data_fitting.so" \
  "$lib/libqrx_data_fitting.so.$QRX_SOVERSION" \
  "$lib/libqrx_data_fitting.so.$QRX_VERSION" \
  "$lib/libqrx_lumo_thread.so.2" \
  "$lib/libqrx_df_kernels.so" \
  "$lib/libhostsycl.so.$QRX_SOVERSION" \
  "$inc/$QRX_HOSTSYCL_INCLUDE_SUBDIR/sycl/sycl.hpp" \
  "$lib/cmake/qrx_data_fitting/qrx_data_fitting-config.cmake" \
  "$lib/cmake/qrx_data_fitting/qrx_data_fitting-config-version.cmake" \
  "$lib/cmake/qrx_data_fitting/qrx_data_fitting-targets.cmake" \
  "$lib/pkgconfig/qrx_data_fitting.pc"; do
  [ -e "$f" ] || missing="$missing ${f#"$root"}"
done
for h in "$QRX_SOURCE_DIR"/include/data_fitting/*.hpp; do
  f=$inc/data_fitting/$(basename "$h")
  [ -e "$f" ] || missing="$missing ${f#"$root"}"
done
[ -z "$missing" ] || fail "missing from the package:$missing"
# The bundled runtime's headers sit in the library's own folder: a sycl/
# folder at the top of the include tree would shadow the headers of any
# other SYCL implementation on the system.
[ ! -e "$inc/sycl" ] || fail "the package installs ${inc#"$root"}/sycl"

# The CMake package and the pkg-config file locate the tree from their own
# folder: no path of this build, nor its configured prefix, may be written in.
for p in "$QRX_BUILD_DIR" "$QRX_SOURCE_DIR" "$QRX_INSTALL_PREFIX"; do
  [ "$p" = /usr ] && continue
  if grep -rlF "$p" "$lib/cmake/qrx_data_fitting" "$lib/pkgconfig"; then
    fail "the files above name $p"
  fi
done

echo "== pkg-config on the unpacked tree"
PKG_CONFIG_PATH=$lib/pkgconfig pkg-config --variable=prefix qrx_data_fitting
PKG_CONFIG_PATH=$lib/pkgconfig pkg-config --cflags --libs qrx_data_fitting
# Both ways in name the bundled runtime's include folder, and the pkg-config
# file no other folder holding sycl/sycl.hpp: the consumer could otherwise
# compile against some other SYCL implementation's headers.
sycl_dirs=
for flag in $(PKG_CONFIG_PATH=$lib/pkgconfig pkg-config --cflags-only-I qrx_data_fitting); do
  d=${flag#-I}
  [ -e "$d/sycl/sycl.hpp" ] && sycl_dirs="$sycl_dirs $(realpath "$d")"
done
[ "$sycl_dirs" = " $(realpath "$inc/$QRX_HOSTSYCL_INCLUDE_SUBDIR")" ] \
  || fail "the pkg-config file's folders with sycl/sycl.hpp are '$sycl_dirs', not ${inc#"$root"}/$QRX_HOSTSYCL_INCLUDE_SUBDIR"
grep -qF "$QRX_HOSTSYCL_INCLUDE_SUBDIR" "$lib/cmake/qrx_data_fitting/qrx_data_fitting-targets.cmake" \
  || fail "the CMake package's include folders miss $QRX_HOSTSYCL_INCLUDE_SUBDIR"

# consumer NAME [-DVAR=VALUE...]: builds and runs the consumer project against
# the unpacked tree, then runs it again with the loader's trace to check that
# every library of the package, the dynamically loaded kernel library
# included, comes from the unpacked tree.
consumer() {
  name=$1
  shift
  echo "== consumer through $name"
  "$QRX_CMAKE" \
    -DQRX_CONSUMER_SOURCE="$QRX_SOURCE_DIR/tests/consumer/project" \
    -DQRX_SCRATCH="$QRX_SCRATCH/consumer-$name" \
    -DQRX_PREFIX="$prefix" \
    -DQRX_CXX_COMPILER="$QRX_CXX_COMPILER" \
    -DQRX_PREFIX_PATH="$QRX_PREFIX_PATH" \
    -DQRX_ACPP_TARGETS="$QRX_ACPP_TARGETS" \
    -DQRX_SANITIZE="$QRX_SANITIZE" \
    -DQRX_INCLUDEDIR="$QRX_INCLUDEDIR" \
    -DQRX_HOSTSYCL_INCLUDE_SUBDIR="$QRX_HOSTSYCL_INCLUDE_SUBDIR" \
    "$@" \
    -P "$QRX_SOURCE_DIR/tests/consumer/run_consumer.cmake" \
    || fail "consumer through $name"
  loaded=$(LD_DEBUG=libs "$QRX_SCRATCH/consumer-$name/build/consumer" 2>&1 >/dev/null \
    | sed -n 's/.*calling init: //p' | grep -E 'lib(qrx_|hostsycl)' || true)
  echo "$loaded"
  for l in libqrx_data_fitting.so libqrx_lumo_thread.so libqrx_df_kernels.so libhostsycl.so; do
    echo "$loaded" | grep -q "^$lib/$l" || fail "$l was not loaded from $lib"
  done
}
consumer find_package
consumer pkg-config -DQRX_PKG_CONFIG_PATH="$lib/pkgconfig"
echo "package_deb: ok"
