#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
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
  [[ -n ${sim_pid:-} ]] && kill "$sim_pid" 2>/dev/null || true
  [[ -n ${ser2net_pid:-} ]] && kill "$ser2net_pid" 2>/dev/null || true
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
run_suite() {
  local port status=0
  coproc PEER { exec "$root/build/default/tests/serial/nxserial-peer" "$WINEPREFIX/dosdevices" 5; }
  peer_pid=$PEER_PID
  read -r port <&"${PEER[0]}"
  NX_SERIAL_PEER=127.0.0.1:$port timeout 120 "$wine64" build/windows/tests/serial/tst_serial_behaviour.exe </dev/null ||
    status=$?
  kill "$peer_pid" 2>/dev/null || true
  wait "$peer_pid" 2>/dev/null || true
  peer_pid=
  return "$status"
}
# Wine (not Windows) has once been seen to leave a cancelled write on a
# pseudo-terminal pending for good. A run that hangs is reported and tried
# once more; a failing check fails at once.
status=0
run_suite || status=$?
if ((status == 124)); then
  echo "windows: the serial suite hung under Wine (a cancelled write never completed); trying once more" >&2
  status=0
  run_suite || status=$?
fi
((status == 0)) || exit "$status"

# nx260ctl.exe must read and configure the gateway exactly as the Linux build
# does: each command runs against a fresh simulator (same seed, so the same
# process values) once natively and once under Wine, the simulator's port
# mapped as COM7; the JSON documents must be identical (line ends aside).
sim_pid=
run_against_sim() { # SIM_OPTIONS... -- NX260CTL_ARGS...
  local sim_args=() link
  while [[ $1 != -- ]]; do sim_args+=("$1"); shift; done
  shift
  link=$WINEPREFIX/dosdevices/com7
  rm -f "$link"
  build/default/sim/nx260-gateway-sim --quiet --seed 7 --link "$link" "${sim_args[@]}" &
  sim_pid=$!
  for _ in $(seq 100); do [[ -e $link ]] && break; sleep 0.05; done
  "$@" && local rc=0 || local rc=$?
  kill "$sim_pid" 2>/dev/null || true
  wait "$sim_pid" 2>/dev/null || true
  sim_pid=
  return $rc
}
if [[ -f build/windows/nx260ctl/nx260ctl.exe ]]; then
  echo "=== windows: nx260ctl.exe under Wine against the simulator"
  out=$(mktemp -d)
  cases=("show::show" "hart read:--transparent:hart read")
  for c in "${cases[@]}"; do
    IFS=: read -r name sim_opt args <<<"$c"
    read -r -a args <<<"$args"
    sim_opts=()
    [[ -n $sim_opt ]] && sim_opts=("$sim_opt")
    run_against_sim "${sim_opts[@]}" -- \
      build/default/nx260ctl/nx260ctl --port "$WINEPREFIX/dosdevices/com7" --json "${args[@]}" >"$out/linux.json"
    run_against_sim "${sim_opts[@]}" -- \
      timeout 60 "$wine64" build/windows/nx260ctl/nx260ctl.exe --port COM7 --json "${args[@]}" </dev/null \
      | tr -d '\r' >"$out/windows.json"
    if ! diff -u "$out/linux.json" "$out/windows.json"; then
      echo "nx260ctl $name: the Windows build differs from the Linux build" >&2
      exit 1
    fi
    [[ -s $out/linux.json ]] || { echo "nx260ctl $name: no output" >&2; exit 1; }
    echo "nx260ctl --json $name: same output ($(wc -c <"$out/linux.json") bytes)"
  done
  rm -rf "$out"
fi

# The same through a serial device server: ser2net in front of the
# simulator, reached raw and with RFC 2217 by nx260ctl.exe over Winsock; the
# documents must match the Linux build's over the pseudo-terminal.
ser2net_pid=
run_behind_ser2net() { # SIM_OPTIONS... -- COMMAND... (NX_PTY, NX_RAW and NX_RFC name the ports)
  # With SER2NET_LATE=SECONDS the server starts that long after the command.
  local sim_args=() dir ports rc=0
  while [[ $1 != -- ]]; do sim_args+=("$1"); shift; done
  shift
  dir=$(mktemp -d /tmp/nx-ser2net.XXXXXX)
  build/default/sim/nx260-gateway-sim --quiet --seed 7 --link "$dir/gw" "${sim_args[@]}" >/dev/null &
  sim_pid=$!
  for _ in $(seq 100); do [[ -e $dir/gw ]] && break; sleep 0.05; done
  read -r -a ports < <(python3 -c 'import socket
s=[socket.socket() for _ in range(2)]
[x.bind(("127.0.0.1",0)) for x in s]
print(*[x.getsockname()[1] for x in s])')
  bash -c 'sleep "$0"; exec "$@"' "${SER2NET_LATE:-0}" /usr/sbin/ser2net -n -u -P "$dir/pid" -Y "connection: &raw#  accepter: tcp,127.0.0.1,${ports[0]}#  connector: serialdev,$dir/gw,9600n81,local#connection: &rfc#  accepter: telnet(rfc2217),tcp,127.0.0.1,${ports[1]}#  connector: serialdev,$dir/gw,9600n81,local" >/dev/null 2>&1 &
  ser2net_pid=$!
  # Listening, read off the kernel's table: a probe connection would make
  # ser2net take the device and turn the next client away for a moment.
  listening() { awk -v p=":$(printf %04X "$1")" '$2 ~ p"$" && $4 == "0A" {f=1} END {exit !f}' /proc/net/tcp; }
  for _ in $(seq 100); do
    [[ -n ${SER2NET_LATE:-} ]] || { listening "${ports[0]}" && listening "${ports[1]}"; } && break
    sleep 0.05
  done
  NX_PTY=$dir/gw NX_RAW=tcp://127.0.0.1:${ports[0]} NX_RFC=rfc2217://127.0.0.1:${ports[1]} "$@" || rc=$?
  kill "$ser2net_pid" "$sim_pid" 2>/dev/null || true
  wait "$ser2net_pid" "$sim_pid" 2>/dev/null || true
  ser2net_pid= sim_pid=
  rm -rf "$dir"
  return $rc
}
if [[ -f build/windows/nx260ctl/nx260ctl.exe && -x /usr/sbin/ser2net ]]; then
  echo "=== windows: nx260ctl.exe through ser2net (raw TCP and RFC 2217)"
  out=$(mktemp -d)
  run_behind_ser2net -- bash -c 'build/default/nx260ctl/nx260ctl --port "$NX_PTY" --json show' >"$out/linux.json"
  for kind in RAW RFC; do
    run_behind_ser2net -- bash -c 'timeout 60 "$0" "$1" --port "${!2}" --json show </dev/null' \
      "$wine64" build/windows/nx260ctl/nx260ctl.exe "NX_$kind" | tr -d '\r' >"$out/windows.json"
    if ! diff -u "$out/linux.json" "$out/windows.json"; then
      echo "nx260ctl show over ${kind,,}: the Windows build differs from the Linux build over the pty" >&2
      exit 1
    fi
    echo "nx260ctl.exe --json show over ${kind,,}: same output"
  done
  # --wait-port: a device server that comes up late is waited for; a COM
  # port that is there is not waited for at all.
  SER2NET_LATE=2 run_behind_ser2net -- bash -c 'timeout 60 "$0" "$1" --wait-port 30 --port "$NX_RAW" show </dev/null' \
    "$wine64" build/windows/nx260ctl/nx260ctl.exe >/dev/null || { echo "nx260ctl.exe --wait-port: the late server was not waited for" >&2; exit 1; }
  started=$SECONDS
  run_against_sim -- timeout 60 "$wine64" build/windows/nx260ctl/nx260ctl.exe --wait-port 30 --port COM7 show </dev/null >/dev/null
  if ((SECONDS - started > 15)); then
    echo "nx260ctl.exe --wait-port waited $((SECONDS - started)) s for a COM port that was there" >&2
    exit 1
  fi
  echo "nx260ctl.exe --wait-port: a late device server waited for, a present COM port not"
  # A server that is not listening: the port error, with the system's reason.
  # The port stays bound meanwhile, so that no connection of ours can land
  # on it from the same port number (a loopback connection to itself).
  coproc HOLD { exec python3 -c 'import socket,time
s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1], flush=True); time.sleep(300)'; }
  read -r closed <&"${HOLD[0]}"
  for attempt in 1 2; do
    rc=0
    timeout 60 "$wine64" build/windows/nx260ctl/nx260ctl.exe --port "tcp://127.0.0.1:$closed" show </dev/null \
      2>"$out/err" >"$out/out" || rc=$?
    # Once seen in CI: exit 1 with nothing written at all, which the program
    # never does; taken for Wine losing the process, and tried once more.
    ((rc == 1)) && [[ ! -s $out/err && ! -s $out/out ]] || break
    echo "windows: nx260ctl.exe ended with exit 1 and no output under Wine; trying once more" >&2
  done
  kill "$HOLD_PID" 2>/dev/null || true
  if ((rc != 3)) || ! grep -q "cannot open port tcp://127.0.0.1:$closed: .*refused" "$out/err"; then
    echo "nx260ctl.exe against a closed port: exit $rc, $(cat "$out/err" "$out/out")" >&2
    exit 1
  fi
  echo "nx260ctl.exe against a closed port: exit 3, $(tr -d '\r' <"$out/err")"
  rm -rf "$out"
fi
echo "=== windows: passed"
