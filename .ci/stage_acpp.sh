#!/usr/bin/env bash
# Builds and tests the project with AdaptiveCpp, a real SYCL 2020 compiler:
# every target with kernels compiled ahead of time for the host (omp), every
# suite, the main example; then the cross-device suite once more with the
# generic target, whose kernels are compiled at run time (the path closest
# to a GPU build). The toolchain comes from the shared folder beside the
# clone and is installed outside the clone.
set -euo pipefail
cd "$(dirname "$0")/.."
toolchain=../shared/toolchains/adaptivecpp
if [ ! -x "$toolchain/install.sh" ]; then
  echo "== AdaptiveCpp stage skipped: no toolchain at $toolchain"
  exit 0
fi
prefix=${QRX_ACPP_PREFIX:-${XDG_CACHE_HOME:-$HOME/.cache}/qrx_data_fitting/adaptivecpp}
"$toolchain/install.sh" "$prefix" | tail -n 1

jobs=$(nproc)
configure=(-DQRX_SYCL=acpp -DCMAKE_PREFIX_PATH="$prefix" -DCMAKE_BUILD_TYPE=Release
           -DCMAKE_CXX_COMPILER=clang++-16 -DCMAKE_C_COMPILER=clang-16)

stage_start=$(date +%s)
echo "== AdaptiveCpp, target omp: every target, every suite, the main example"
cmake -S . -B build-acpp "${configure[@]}" -DACPP_TARGETS=omp
cmake --build build-acpp -j "$jobs"
ctest --test-dir build-acpp --output-on-failure -j "$jobs"
build-acpp/bin/qrx_main_example
echo "== AdaptiveCpp omp took $(( $(date +%s) - stage_start )) s"

stage_start=$(date +%s)
echo "== AdaptiveCpp, target generic: the cross-device suite"
cmake -S . -B build-acpp-generic "${configure[@]}" -DACPP_TARGETS=generic \
  -DQRX_BUILD_BENCH=OFF -DQRX_BUILD_EXAMPLES=OFF
cmake --build build-acpp-generic -j "$jobs" --target backends_agree_test
ctest --test-dir build-acpp-generic -R '^backends_agree_test$' --output-on-failure
echo "== AdaptiveCpp generic took $(( $(date +%s) - stage_start )) s"
