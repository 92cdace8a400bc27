#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds the Debian package into build/package/ and checks it with lintian.
#
#   scripts/package.sh              clean release build (Debian's hardening
#                                   flags) in build/package-build, then package
#   scripts/package.sh --reuse DIR  package an existing build tree instead
#                                   (the test command reuses build/default)
#
# Where the mingw-w64 compiler is installed it also builds nx260ctl.exe
# (windows preset) and zips it with its README beside the package.
set -euo pipefail
cd "$(dirname "$0")/.."

reuse=
if [[ ${1:-} == --reuse ]]; then
  reuse=${2:?--reuse needs a build directory}
fi

out=build/package
rm -rf "$out"
mkdir -p "$out"

if [[ -z $reuse ]]; then
  scripts/setup.sh
  bdir=build/package-build
  rm -rf "$bdir"
  # Debian's full hardening (fortify, stack protector, PIE, relro, bindnow).
  export DEB_BUILD_MAINT_OPTIONS=hardening=+all
  cxxflags="$(dpkg-buildflags --get CXXFLAGS) $(dpkg-buildflags --get CPPFLAGS)"
  ldflags=$(dpkg-buildflags --get LDFLAGS)
  # No -Werror here: a newer compiler's new warning must not stop a release
  # build (the development presets keep it).
  cmake -S . -B "$bdir" -DCMAKE_BUILD_TYPE=Release -DNX_WERROR=OFF \
    -DCMAKE_CXX_FLAGS="$cxxflags" -DCMAKE_EXE_LINKER_FLAGS="$ldflags" >/dev/null
else
  bdir=$reuse
  if [[ ! -f $bdir/CMakeCache.txt ]]; then
    echo "package.sh: $bdir is not a configured build tree" >&2
    exit 1
  fi
  cmake "$bdir" >/dev/null
fi

# Only what the package holds; the tests are not needed for it.
cmake --build "$bdir" -j"$(nproc)" --target nx_package_contents

cpack --config "$bdir/CPackConfig.cmake" -B "$PWD/$out" >/dev/null
rm -rf "$out/_CPack_Packages"

deb=$(ls "$out"/*.deb)
echo "package: $deb"

if command -v appstreamcli >/dev/null; then
  appstreamcli validate --no-net --explain "$bdir"/packaging/*.metainfo.xml
fi
if command -v lintian >/dev/null; then
  # Errors fail the build; warnings are listed (each one that remains is
  # explained in packaging/Packaging.cmake).
  lintian --fail-on error --info "$deb"
fi

# The command-line tool for Windows service laptops.
if command -v x86_64-w64-mingw32-g++-posix >/dev/null; then
  cmake --preset windows -DNX_WERROR=OFF >/dev/null
  cmake --build --preset windows -j"$(nproc)" --target nx260ctl
  zipdir=$(mktemp -d)
  cp build/windows/nx260ctl/nx260ctl.exe packaging/windows/README.txt "$zipdir"/
  cp LICENSE "$zipdir"/LICENSE.txt
  version=$(dpkg-deb -f "$deb" Version)
  sed -i "1s/\$/ $version/" "$zipdir"/README.txt
  (cd "$zipdir" && cmake -E tar cf "$OLDPWD/$out/nx260ctl-windows-x86_64.zip" --format=zip nx260ctl.exe README.txt LICENSE.txt)
  rm -rf "$zipdir"
  echo "package: $out/nx260ctl-windows-x86_64.zip"
fi
