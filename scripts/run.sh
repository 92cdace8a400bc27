#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Sets up, builds, starts the gateway simulator and opens the window with the
# simulator's port already chosen. The simulator stops when the window closes.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh
cmake --preset default >/dev/null
cmake --build --preset default -j"$(nproc)" --target nx260-hgw nx260-gateway-sim

bin=build/default
out=$(mktemp)
"$bin/sim/nx260-gateway-sim" >"$out" &
sim_pid=$!
trap 'kill $sim_pid 2>/dev/null || true; wait $sim_pid 2>/dev/null || true; rm -f "$out"' EXIT

link=""
for _ in $(seq 50); do
  link=$(sed -n 's/^link: //p' "$out")
  [[ -n $link ]] && break
  sleep 0.1
done
if [[ -z $link ]]; then
  echo "the gateway simulator did not start" >&2
  exit 1
fi
echo "simulated gateway on $link ($(sed -n 's/^port: //p' "$out"))"

if [[ -z ${DISPLAY:-} && -z ${WAYLAND_DISPLAY:-} ]]; then
  echo "no display found: starting the window on a virtual X server (xvfb-run)" >&2
  xvfb-run -a "$bin/app/nx260-hgw" --port "$link"
else
  "$bin/app/nx260-hgw" --port "$link"
fi
