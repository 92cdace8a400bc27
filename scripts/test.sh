#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Sets up, builds and runs every test: the normal build, the Debian package
# (built from the normal build, installed, tried and removed), the
# AddressSanitizer/UBSan build, short libFuzzer runs of the decoders,
# ThreadSanitizer for the threaded libraries, then the Windows build with its
# tests under Wine. In each build the reliability soaks run after the other
# tests, alone.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh

jobs=$(nproc)
for preset in default package asan fuzz tsan windows; do
  if [[ $preset == fuzz ]]; then
    scripts/fuzz.sh
    continue
  fi
  if [[ $preset == package ]]; then
    echo "=== package: build, install, run, remove"
    scripts/package_test.sh
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
  # The soaks load the machine: they run on their own, after the
  # unit and end-to-end tests, so that no timing test ever runs beside them.
  ctest --preset "$preset" -j"$jobs" -LE reliability
  echo "=== $preset: reliability"
  ctest --preset "$preset" -L reliability
done
