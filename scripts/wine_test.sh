#!/usr/bin/env bash
# Builds the Windows (mingw-w64) preset and runs its tests under Wine: the
# serial behaviour suite against pseudo-terminals mapped as COM ports and
# played by the native nxserial-peer, and nx260ctl.exe against the native
# simulator. Uses a throw-away Wine prefix; needs the default build's native
# helpers (built here if missing).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
jobs=$(nproc)

echo "=== windows: configure and build"
cmake --preset windows -DNX_WERROR=ON >/dev/null
cmake --build --preset windows -j"$jobs"
cmake --preset default -DNX_WERROR=ON >/dev/null
native=(nxserial-peer)
[[ -d nx260ctl ]] && native+=(nx260ctl nx260-gateway-sim)
cmake --build build/default -j"$jobs" --target "${native[@]}"

wine64=/usr/lib/wine/wine64
wineserver=/usr/lib/wine/wineserver
export WINEPREFIX
WINEPREFIX=$(mktemp -d /tmp/nx-wine.XXXXXX)
export WINEDEBUG=-all
# No Mono/Gecko installers, no USB or HID drivers (a Wine USB thread can
# outlive its process and hold the output open).
export WINEDLLOVERRIDES="mscoree,mshtml=;wineusb.sys,winebus.sys=d"
server_pid=
peer_pid=
cleanup() {
  [[ -n $peer_pid ]] && kill "$peer_pid" 2>/dev/null || true
  "$wineserver" -k 2>/dev/null || true
  [[ -n $server_pid ]] && wait "$server_pid" 2>/dev/null || true
  rm -rf "$WINEPREFIX"
}
trap cleanup EXIT

# The server runs in the foreground of this session: started by wine it
# would lead a session of its own, and then a pseudo-terminal it opens as a
# COM port becomes its controlling terminal, so a device going away would
# send it SIGHUP.
"$wineserver" -f -p &
server_pid=$!
echo "=== windows: Wine prefix"
"$wine64" wineboot -i >/dev/null 2>&1

echo "=== windows: serial behaviour suite under Wine"
coproc PEER { exec "$root/build/default/tests/serial/nxserial-peer" "$WINEPREFIX/dosdevices" 5; }
peer_pid=$PEER_PID
read -r port <&"${PEER[0]}"
NX_SERIAL_PEER=127.0.0.1:$port timeout 300 "$wine64" build/windows/tests/serial/tst_serial_behaviour.exe </dev/null
kill "$peer_pid" 2>/dev/null || true
wait "$peer_pid" 2>/dev/null || true
peer_pid=

if [[ -x scripts/wine_nx260ctl.sh && -f build/windows/nx260ctl/nx260ctl.exe ]]; then
  echo "=== windows: nx260ctl.exe under Wine against the simulator"
  scripts/wine_nx260ctl.sh
fi
echo "=== windows: passed"
