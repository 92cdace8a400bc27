#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Runs the soak and fault-injection tests (tests/reliability) at full size in
# the default build and prints their measured figures, the ones
# docs/reliability.md quotes.
#   scripts/soak.sh          full size: 100 MiB each way over the serial
#                            component, 1000 open/close and 1000 lost-port
#                            cycles, 10,000 window exchanges with faults
#   scripts/soak.sh 0.1      a tenth of that (any factor of the full size)
# NX_SOAK_SEED picks other random data (the seed is printed, so a failing run
# can be repeated); NX_BUILD_DIR uses an existing build tree instead of
# build/default. The normal test run (ctest) runs the same tests reduced.
set -euo pipefail
cd "$(dirname "$0")/.."

scale=${1:-full}
if [[ $scale != full && ! $scale =~ ^[0-9]*\.?[0-9]+$ ]]; then
  echo "usage: $0 [full | FACTOR]" >&2
  exit 2
fi

build=${NX_BUILD_DIR:-build/default}
if [[ -z ${NX_BUILD_DIR:-} ]]; then
  scripts/setup.sh
  cmake --preset default >/dev/null
fi
jobs=$(nproc)
((jobs > 2)) && jobs=2
echo "=== soak: build"
cmake --build "$build" -j"$jobs" --target tst_serial_soak tst_app_soak >/dev/null

export NX_SOAK_SCALE=$scale
export QT_QPA_PLATFORM=offscreen
logs=$build/soak
mkdir -p "$logs"

failed=0
for t in tst_serial_soak tst_app_soak; do
  log=$logs/$t.log
  echo "=== soak: $t (scale $scale)"
  started=$SECONDS
  if "$build/tests/reliability/$t" >"$log" 2>&1; then
    result=passed
  else
    result=FAILED
    failed=1
  fi
  grep '^soak: ' "$log" || true
  echo "soak: $t $result in $((SECONDS - started)) s (log: $log)"
  if [[ $result == FAILED ]]; then
    grep -E '^(FAIL!|   Loc|   Actual|   Expected|QWARN)' "$log" | head -n 20 || true
  fi
done
exit "$failed"
