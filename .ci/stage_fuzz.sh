#!/usr/bin/env bash
# CI stage: builds the three libFuzzer harnesses with clang-16 and address
# and undefined-behaviour sanitizers into build-fuzz/, then runs each for a
# bounded time from a scratch copy of its seeds. Exits non-zero on any
# finding (crash, sanitizer report, broken invariant, time-out, memory limit)
# and on a build failure. FUZZ_SECONDS overrides the time per harness.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds="${FUZZ_SECONDS:-60}"
build_dir=build-fuzz
harnesses=(fuzz_public_api fuzz_cpu_kernels fuzz_cell_search)

if ! command -v clang++-16 >/dev/null 2>&1; then
  if [ "$(id -u)" -eq 0 ]; then
    apt-get update -qq && apt-get install -y -qq clang-16
  else
    echo "clang++-16 is missing; install it with:"
    echo "  sudo apt-get install -y clang-16"
    exit 1
  fi
fi

cmake -S . -B "$build_dir" -DQRX_SYCL=host -DQRX_BUILD_FUZZERS=ON -DQRX_SANITIZE=address,undefined \
  -DCMAKE_CXX_COMPILER=clang++-16 -DCMAKE_C_COMPILER=clang-16 \
  -DQRX_BUILD_TESTS=OFF -DQRX_BUILD_EXAMPLES=OFF -DQRX_BUILD_BENCH=OFF
cmake --build "$build_dir" -j2 --target "${harnesses[@]}"

# Without coverage counters in the code under test the harnesses still run,
# but mutate blindly; make that a build failure instead of a quiet loss.
for lib in "$build_dir"/lib/libqrx_data_fitting.so "$build_dir"/lib/libqrx_df_kernels.so; do
  if ! nm -D "$lib" | grep __sanitizer_cov_8bit_counters_init >/dev/null; then
    echo "$lib carries no coverage instrumentation"
    exit 1
  fi
done

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
failed=()
for h in "${harnesses[@]}"; do
  echo "== $h: ${seconds} s"
  mkdir -p "$work/$h/corpus" "$work/$h/findings"
  cp fuzz/corpus/"$h"/* "$work/$h/corpus/"
  if ! "$build_dir/bin/$h" "$work/$h/corpus" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=4096 \
      -print_final_stats=1 -artifact_prefix="$work/$h/findings/" > "$work/$h/log" 2>&1; then
    failed+=("$h")
    echo "$h found a failure; the end of its log:"
    tail -n 60 "$work/$h/log"
    for f in "$work/$h/findings"/*; do
      [ -e "$f" ] && echo "input $(basename "$f"), base64: $(base64 -w0 "$f")"
    done
  fi
  grep -E '^#[0-9]+[[:space:]]+DONE|stat::number_of_executed_units|stat::peak_rss_mb' "$work/$h/log" || true
done

if [ ${#failed[@]} -gt 0 ]; then
  echo "fuzzing found failures in: ${failed[*]}"
  exit 1
fi
echo "fuzzing: ${#harnesses[@]} harnesses ran ${seconds} s each without a finding"
