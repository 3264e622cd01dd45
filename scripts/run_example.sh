#!/usr/bin/env bash
# Configures, builds and runs the main example.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/deps.sh
qrx_ensure_packages
build_dir=${QRX_BUILD_DIR:-build}
cmake -S . -B "$build_dir" -DCMAKE_BUILD_TYPE=Release -DQRX_SYCL=host
cmake --build "$build_dir" -j "$(nproc)" --target qrx_main_example
"$build_dir/bin/qrx_main_example"
