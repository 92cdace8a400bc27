#!/usr/bin/env bash
# Sets up, builds and runs every test: the normal build, the
# AddressSanitizer/UBSan build, short libFuzzer runs of the decoders,
# ThreadSanitizer for the threaded libraries, then the Windows build with its
# tests under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh

jobs=$(nproc)
for preset in default asan fuzz tsan windows; do
  if [[ $preset == fuzz ]]; then
    scripts/fuzz.sh
    continue
  fi
  if [[ $preset == windows ]]; then
    scripts/wine_test.sh
    continue
  fi
  echo "=== $preset: configure and build"
  cmake --preset "$preset" -DNX_WERROR=ON >/dev/null
  if [[ $preset == tsan ]]; then
    # Only the threaded libraries' tests run under tsan: Qt itself is not instrumented.
    cmake --build --preset "$preset" -j"$jobs" --target nx_tsan_tests
  else
    cmake --build --preset "$preset" -j"$jobs"
  fi
  echo "=== $preset: test"
  ctest --preset "$preset" -j"$jobs"
done
