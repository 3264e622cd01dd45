#!/usr/bin/env bash
# CI stage: every test under AddressSanitizer with UndefinedBehaviorSanitizer,
# under ThreadSanitizer (with the suppressions of tests/tsan.supp, which ctest
# hands to every test of such a build), and in a Debug build. Each job
# configures, builds and runs ctest in its own folder; the time each took is
# printed as it ends and again at the end.
set -euo pipefail
cd "$(dirname "$0")/.."

common=(-DQRX_SYCL=host -DQRX_BUILD_BENCH=OFF)
times=()

# job NAME DIR CMAKE-ARGS...: configure, build and test one build folder.
job() {
  local name=$1 dir=$2
  shift 2
  local start
  start=$(date +%s)
  echo "== ${name}: configure, build and test in ${dir}"
  cmake -S . -B "${dir}" "${common[@]}" "$@"
  cmake --build "${dir}" -j2
  ctest --test-dir "${dir}" --output-on-failure -j2
  times+=("${name}: $(($(date +%s) - start)) s")
  echo "== ${name} took $(($(date +%s) - start)) s"
}

# No report is suppressed; the first one ends the suite with a failure.
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
job "ASan+UBSan" build-asan -DQRX_SANITIZE=address,undefined -DCMAKE_BUILD_TYPE=RelWithDebInfo
job "TSan" build-tsan -DQRX_SANITIZE=thread -DCMAKE_BUILD_TYPE=RelWithDebInfo
job "Debug" build-debug -DQRX_SANITIZE= -DCMAKE_BUILD_TYPE=Debug

echo "== sanitizer stage times"
printf '  %s\n' "${times[@]}"
