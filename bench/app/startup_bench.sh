#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Start-up benchmark of the configuration window, side by side with CuteCom
# (the reference serial terminal) in the same run and on the same X server:
#   - start-up: from fork to the mapping of the main window (startup_probe
#     waits on the X server's MapNotify), a fresh process each run;
#   - memory: resident set (VmRSS) and proportional set (Pss) after 3 s idle.
# Median of NX_BENCH_RUNS runs (default 5) per program, after one discarded
# warm-up run each; the two programs take turns. Target: the window starts no
# slower and stays no larger than CuteCom; the exit status says whether it does.
#   NX_BUILD_DIR=DIR  build in DIR instead of the default preset's folder
set -euo pipefail
cd "$(dirname "$0")/../.."

runs=${NX_BENCH_RUNS:-5}

if [[ ${1:-} != --measure ]]; then
  scripts/setup.sh
  if ! command -v cutecom >/dev/null; then
    echo "installing the reference program (cutecom)"
    sudo_cmd=()
    [[ $(id -u) -ne 0 ]] && sudo_cmd=(sudo)
    export DEBIAN_FRONTEND=noninteractive
    "${sudo_cmd[@]}" apt-get update -qq
    "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends cutecom
  fi
  if [[ -n ${NX_BUILD_DIR:-} ]]; then
    bin=$NX_BUILD_DIR
    cmake -S . -B "$bin" >/dev/null
    cmake --build "$bin" -j2 --target nx260-hgw startup_probe
  else
    bin=build/default
    cmake --preset default >/dev/null
    cmake --build --preset default -j2 --target nx260-hgw startup_probe
  fi
  # One virtual X server for every run of both programs.
  exec xvfb-run -a -s "-screen 0 1280x1024x24" "$0" --measure "$bin"
fi

bin=$2
probe=$bin/bench/app/startup_probe
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# A fresh home: CuteCom starts without saved sessions and leaves the user's
# own settings alone; the window reads and writes no settings at all.
export HOME=$work/home XDG_CONFIG_HOME=$work/home/.config
mkdir -p "$XDG_CONFIG_HOME"

declare -A cmd=([nx260-hgw]="$bin/app/nx260-hgw" [cutecom]="cutecom")
names=(nx260-hgw cutecom)

measure() { # name -> "mapped_ms rss_kb pss_kb"
  local line
  line=$("$probe" --idle-ms 3000 -- ${cmd[$1]} 2>/dev/null | tail -n 1)
  sed -E 's/mapped_ms=([0-9.]+) rss_kb=([0-9-]+) pss_kb=([0-9-]+)/\1 \2 \3/' <<<"$line"
}

median() { sort -g | awk '{ v[NR] = $1 } END { if (NR % 2) print v[(NR + 1) / 2]; else print (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

for n in "${names[@]}"; do
  measure "$n" >/dev/null # warm-up: file cache, font cache
done
for ((r = 1; r <= runs; ++r)); do
  for n in "${names[@]}"; do
    read -r ms rss pss < <(measure "$n")
    if [[ -z ${ms:-} ]]; then
      echo "$n showed no window" >&2
      exit 1
    fi
    printf 'run %d  %-10s %8.1f ms  RSS %6d kB  PSS %6d kB\n' "$r" "$n" "$ms" "$rss" "$pss"
    echo "$ms" >>"$work/$n.ms"
    echo "$rss" >>"$work/$n.rss"
    echo "$pss" >>"$work/$n.pss"
  done
done

echo
printf '%-10s  %16s  %16s  %16s\n' program "start-up (ms)" "RSS after 3 s" "PSS after 3 s"
declare -A ms rss pss
for n in "${names[@]}"; do
  ms[$n]=$(median <"$work/$n.ms")
  rss[$n]=$(median <"$work/$n.rss")
  pss[$n]=$(median <"$work/$n.pss")
  printf '%-10s  %16.1f  %13.1f MB  %13.1f MB\n' "$n" "${ms[$n]}" \
    "$(awk -v k="${rss[$n]}" 'BEGIN { print k / 1024 }')" "$(awk -v k="${pss[$n]}" 'BEGIN { print k / 1024 }')"
done
echo "(median of $runs runs each)"

ok=1
awk -v a="${ms[nx260-hgw]}" -v b="${ms[cutecom]}" 'BEGIN { exit !(a <= b) }' || ok=0
awk -v a="${rss[nx260-hgw]}" -v b="${rss[cutecom]}" 'BEGIN { exit !(a <= b) }' || ok=0
if ((ok)); then
  echo "target met: nx260-hgw starts no slower and is no larger than cutecom"
else
  echo "target missed: nx260-hgw starts slower or is larger than cutecom"
  exit 1
fi
