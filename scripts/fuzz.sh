#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds the libFuzzer targets (clang, AddressSanitizer + UBSan) in build/fuzz
# and runs every one of them.
#   scripts/fuzz.sh         100000 runs per target with a fixed seed (the test run)
#   scripts/fuzz.sh N       N runs per target
#   scripts/fuzz.sh long    5 minutes per target, random seed (NX_FUZZ_SECONDS to change)
# Saved reproducers in fuzz/regressions/<target>/ are replayed first. Fuzzing
# starts from a scratch copy of fuzz/corpus/<target>/ in fuzz/corpus-run/, so
# the checked-in seeds stay as they are. A failing input is saved under
# build/fuzz/findings/<target>/ and makes the script exit non-zero.
set -euo pipefail
cd "$(dirname "$0")/.."

mode=${1:-100000}
if [[ $mode == long ]]; then
  limit=(-max_total_time="${NX_FUZZ_SECONDS:-300}")
elif [[ $mode =~ ^[0-9]+$ ]]; then
  # A fixed seed keeps the short run the same from one run to the next.
  limit=(-runs="$mode" -seed=1)
else
  echo "usage: $0 [RUNS | long]" >&2
  exit 2
fi

targets=(fuzz_config_replies fuzz_hart_command0 fuzz_hart_command3 fuzz_hart_manual_entry fuzz_hart_reader
  fuzz_exchange_receive)
# Longest input worth trying: a reply is at most 255 bytes; the engine's
# records also need room for chunks past 255 and requests past 504 bytes.
declare -A max_len=(
  [fuzz_config_replies]=300 [fuzz_hart_command0]=300 [fuzz_hart_command3]=300
  [fuzz_hart_manual_entry]=64 [fuzz_hart_reader]=300 [fuzz_exchange_receive]=1200
)

scripts/setup.sh

build=build/fuzz
jobs=$(nproc)
((jobs > 2)) && jobs=2
echo "=== fuzz: configure and build"
CC=clang CXX=clang++ cmake -S . -B "$build" -DNX_FUZZ=ON -DNX_WERROR=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j"$jobs" >/dev/null

export ASAN_OPTIONS=detect_leaks=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1

failed=0
for t in "${targets[@]}"; do
  bin=$build/fuzz/$t
  findings=$build/findings/$t
  logs=$build/logs
  scratch=fuzz/corpus-run/$t
  rm -rf "$scratch" "$findings"
  mkdir -p "$scratch" "$findings" "$logs"

  shopt -s nullglob
  regressions=(fuzz/regressions/"$t"/*)
  seeds=(fuzz/corpus/"$t"/*)
  shopt -u nullglob

  if ((${#regressions[@]})); then
    if ! "$bin" "${regressions[@]}" >"$logs/$t.regressions.log" 2>&1; then
      echo "fuzz: $t FAILED on a saved reproducer in fuzz/regressions/$t (log: $logs/$t.regressions.log)"
      grep -E "fuzz check failed|ERROR: |runtime error|Running: " "$logs/$t.regressions.log" | tail -n 5 || true
      failed=1
      continue
    fi
  fi

  ((${#seeds[@]})) && cp "${seeds[@]}" "$scratch/"
  options=(-max_len="${max_len[$t]}" -timeout=10 -print_final_stats=1 -artifact_prefix="$findings/")
  [[ -f fuzz/dict/$t.dict ]] && options+=(-dict="fuzz/dict/$t.dict")

  if "$bin" "${limit[@]}" "${options[@]}" "$scratch" >"$logs/$t.log" 2>&1; then
    execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$logs/$t.log" | tail -n 1)
    echo "fuzz: $t ${execs:-?} executions, 0 crashes"
  else
    echo "fuzz: $t FAILED (log: $logs/$t.log, input saved in $findings/)"
    grep -E "fuzz check failed|ERROR: |runtime error|SUMMARY" "$logs/$t.log" | head -n 5 || true
    failed=1
  fi
done

exit "$failed"
