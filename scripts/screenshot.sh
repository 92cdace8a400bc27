#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds the tool, walks through a short session against the simulated
# gateway on a virtual X server (open the port, communication query, system
# parameters, instrument table, transparent mode, HART command 0 and 3) and
# saves the window as docs/screenshot.png (or the first path given); then
# opens the traffic monitor and the HART trend, watches the instrument for a
# few seconds and saves docs/monitor.png (or the second path given); then
# reads "HART Device Details" and saves docs/hart-details.png (or the third);
# last, the same session in Simplified Chinese saves docs/screenshot_zh_CN.png
# (or the fourth path given).
#   NX_BUILD_DIR=DIR  build in DIR instead of the default preset's folder
set -euo pipefail
cd "$(dirname "$0")/.."

out=${1:-docs/screenshot.png}
monitor=${2:-docs/monitor.png}
details=${3:-docs/hart-details.png}
chinese=${4:-docs/screenshot_zh_CN.png}

# A font with Chinese characters, for the Chinese picture.
NX_SETUP_EXTRA="${NX_SETUP_EXTRA:-} fonts-wqy-zenhei" scripts/setup.sh
if [[ -n ${NX_BUILD_DIR:-} ]]; then
  bin=$NX_BUILD_DIR
  cmake -S . -B "$bin" >/dev/null
  cmake --build "$bin" -j2 --target e2e_screenshot
else
  bin=build/default
  cmake --preset default >/dev/null
  cmake --build --preset default -j2 --target e2e_screenshot
fi

# A fixed screen larger than the window; the picture is of the window only.
export LANG=C.UTF-8
xvfb-run -a -s "-screen 0 1280x1024x24" "$bin/tests/e2e/e2e_screenshot" "$out" "$monitor" "$details"
LANG=zh_CN.UTF-8 xvfb-run -a -s "-screen 0 1280x1024x24" "$bin/tests/e2e/e2e_screenshot" "$chinese"
