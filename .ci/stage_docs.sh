#!/usr/bin/env bash
# CI stage: the API reference and the guide with Doxygen (Debian package
# doxygen), in the README's build folder; any Doxygen warning fails it.
set -euo pipefail
cd "$(dirname "$0")/.."

if ! command -v doxygen >/dev/null 2>&1; then
  if [ "$(id -u)" -eq 0 ]; then
    apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq doxygen
  else
    echo "doxygen is missing; install it with:"
    echo "  sudo apt-get install -y doxygen"
    exit 1
  fi
fi

build_dir=${QRX_BUILD_DIR:-build}
cmake -S . -B "$build_dir" -DQRX_SYCL=host >/dev/null
cmake --build "$build_dir" --target docs
