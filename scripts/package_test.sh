#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Package stage of the test command: builds the Debian package the way the
# README gives (a clean release build with Debian's hardening flags), installs
# it on this machine, runs the installed programs from /usr/bin, then removes
# the package again.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/package.sh

sudo_cmd=()
if [[ $(id -u) -ne 0 ]]; then
  sudo_cmd=(sudo)
fi
export DEBIAN_FRONTEND=noninteractive

deb=$(ls "$PWD"/build/package/*.deb)
package=$(dpkg-deb -f "$deb" Package)
remove() { "${sudo_cmd[@]}" apt-get remove -y -qq "$package" >/dev/null; }

"${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "$deb" >/dev/null
trap remove EXIT

echo "=== package: installed programs"
# The listing is read whole: grep -q stopping early would break the pipe.
contents=$(dpkg-deb -c "$deb")
if grep -q '/usr/bin/nx260ctl$' <<<"$contents"; then
  /usr/bin/nx260ctl --version
  [[ -f /usr/share/man/man1/nx260ctl.1.gz ]] || { echo "package: nx260ctl man page missing" >&2; exit 1; }
fi
/usr/bin/nx260-gateway-sim --help >/dev/null
/usr/bin/nx260-gateway-sim --version
QT_QPA_PLATFORM=offscreen /usr/bin/nx260-hgw --help >/dev/null
QT_QPA_PLATFORM=offscreen /usr/bin/nx260-hgw --version

# What the package promises besides the programs.
for f in /usr/share/man/man1/nx260-hgw.1.gz /usr/share/man/man1/nx260-gateway-sim.1.gz \
  /usr/share/doc/"$package"/copyright; do
  [[ -f $f ]] || { echo "package: $f missing" >&2; exit 1; }
done
grep -q '^License: GPL-3.0+' /usr/share/doc/"$package"/copyright ||
  { echo "package: copyright does not name GPL-3.0+" >&2; exit 1; }
grep -q '<project_license>GPL-3.0-or-later</project_license>' /usr/share/metainfo/*.NX260Config.metainfo.xml ||
  { echo "package: metainfo does not name GPL-3.0-or-later" >&2; exit 1; }
ls /usr/share/applications/*.NX260Config.desktop /usr/share/metainfo/*.NX260Config.metainfo.xml \
  /usr/share/icons/hicolor/48x48/apps/*.NX260Config.png >/dev/null
zip=build/package/nx260ctl-windows-x86_64.zip
if command -v x86_64-w64-mingw32-g++-posix >/dev/null; then
  listing=$(cmake -E tar tf "$zip")
  [[ $listing == *nx260ctl.exe* && $listing == *README.txt* && $listing == *LICENSE.txt* ]] || { echo "package: $zip incomplete" >&2; exit 1; }
fi
echo "=== package: ok"
