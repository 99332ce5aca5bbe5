#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (ASan + UBSan) and runs each for a
# bounded time on its seed corpus. Any crash, leak, timeout or sanitizer report
# fails the run; the input that caused it is left in build/fuzz/findings/.
#   bash scripts/fuzz.sh [SECONDS_PER_TARGET]   (default 60)
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-60}"
bash scripts/setup-deps.sh
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j "$(nproc)"

work=build/fuzz/work
findings=build/fuzz/findings
mkdir -p "$findings"
status=0
for target in Formula Paint Vokt Bmp Jpeg Png Picture LineList Recipe Slider; do
  mkdir -p "$work/$target"
  log="build/fuzz/$target.log"
  # New inputs go to the work folder; the seeds in the repository stay as they are.
  # A small quarantine keeps freed memory from counting against the limit.
  if ASAN_OPTIONS=detect_leaks=1:quarantine_size_mb=64 ./build/fuzz/fuzz_$target -max_total_time="$seconds" -timeout=10 \
      -rss_limit_mb=4096 -max_len=8192 -print_final_stats=1 -artifact_prefix="$findings/$target-" \
      "$work/$target" "fuzz/corpus/$target" >"$log" 2>&1; then
    runs=$(grep -m1 'stat::number_of_executed_units' "$log" | awk '{print $2}')
    echo "fuzz $target: ${runs:-?} executions, no findings"
  else
    echo "fuzz $target: FAILED (see $log)"
    grep -E 'ERROR|SUMMARY|runtime error|Test unit written' "$log" | head -20
    status=1
  fi
done
exit $status
