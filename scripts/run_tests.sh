#!/usr/bin/env bash
# Configures, builds and runs every test suite.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/deps.sh
qrx_ensure_packages
build_dir=${QRX_BUILD_DIR:-build}
cmake -S . -B "$build_dir" -DCMAKE_BUILD_TYPE=Release -DQRX_SYCL=host "$@"
cmake --build "$build_dir" -j "$(nproc)"
ctest --test-dir "$build_dir" --output-on-failure -j "$(nproc)"
