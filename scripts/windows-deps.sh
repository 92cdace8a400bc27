#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The libraries the Windows window needs, cross-built with mingw-w64 from
# Debian's source packages (apt-get source checks them against Debian's signed
# index; nothing comes from anywhere else):
#   qt6-base       the same version as the host's Qt tools, which it builds with
#   qcustomplot    the trend's plot, with Debian's Qt 6 patch
# Each is installed into its own folder of a cache outside the clone, named by
# the versions and build options, and reused when present, so a machine builds
# them once. Prints the two prefixes as shell assignments:
#   NX_WIN_QT=/var/cache/nx260-windows-deps/qt6-base-...
#   NX_WIN_QCP=/var/cache/nx260-windows-deps/qcustomplot-...
# Fails loudly when a library can neither be found nor built.
set -euo pipefail

cache=${NX_WINDOWS_DEPS:-/var/cache/nx260-windows-deps}
jobs=${NX_DEPS_JOBS:-2}
triplet=x86_64-w64-mingw32
host_cmake=/usr/lib/x86_64-linux-gnu/cmake

log() { echo "windows-deps: $*" >&2; }
die() { log "FAILED: $*"; exit 1; }

as_root=()
[[ $(id -u) -eq 0 ]] || as_root=(sudo)

installed_version() { dpkg-query -W -f='${Version}' "$1" 2>/dev/null; }

need_tools() {
  local missing=() p
  for p in dpkg-dev g++-mingw-w64-x86-64-posix cmake ninja-build perl qt6-base-dev qt6-base-dev-tools; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  if ((${#missing[@]})); then
    log "installing ${missing[*]}"
    DEBIAN_FRONTEND=noninteractive "${as_root[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >&2
  fi
}

# apt-get source needs a deb-src entry for the suite the binaries come from;
# the archive's address is taken from the binary entry already configured.
ensure_deb_src() {
  local lists=() f
  for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list /etc/apt/sources.list.d/*.sources; do
    [[ -f "$f" ]] && lists+=("$f")
  done
  if cat "${lists[@]}" 2>/dev/null | grep -Eq '^(deb-src[[:space:]].*[[:space:]]bookworm[[:space:]]|Types:.*deb-src)'; then
    return 0
  fi
  local uri
  uri=$(awk '
    /^Types:/ { deb = ($0 ~ /[[:space:]]deb([[:space:]]|$)/) }
    /^URIs:/ { u = $2 }
    /^Suites:/ && deb && $0 ~ /[[:space:]]bookworm([[:space:]]|$)/ { print u; exit }
    /^deb[[:space:]]/ { sub(/\[[^]]*\][[:space:]]*/, ""); if ($3 == "bookworm") { print $2; exit } }
  ' "${lists[@]}" 2>/dev/null)
  [[ -n "$uri" ]] || die "no Debian bookworm entry in apt's sources to add source packages beside"
  log "adding deb-src for bookworm from $uri"
  "${as_root[@]}" tee /etc/apt/sources.list.d/nx260-deb-src.sources >/dev/null <<EOF
Types: deb-src
URIs: $uri
Suites: bookworm bookworm-updates
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
EOF
  "${as_root[@]}" apt-get update -qq >&2
}

# Unpacks source package $1 at version $2 into $3 (patches applied), once.
fetch_source() {
  local pkg=$1 ver=$2 into=$3
  mkdir -p "$into"
  if ! (cd "$into" && apt-get source -qq --only-source "$pkg=$ver" >&2); then
    "${as_root[@]}" apt-get update -qq >&2
    (cd "$into" && apt-get source -qq --only-source "$pkg=$ver" >&2) ||
      die "apt-get source $pkg=$ver"
  fi
}

toolchain() {
  cat <<EOF
# SPDX-License-Identifier: GPL-3.0-or-later
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_C_COMPILER $triplet-gcc-posix)
set(CMAKE_CXX_COMPILER $triplet-g++-posix)
set(CMAKE_RC_COMPILER $triplet-windres)
set(CMAKE_FIND_ROOT_PATH /usr/$triplet)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
EOF
}

strip_dlls() {
  find "$1" -name '*.dll' -exec "$triplet-strip" --strip-unneeded {} +
}

# Only what the window and its tests use: Widgets, PrintSupport (the plot) and
# Test. The +dfsg source lacks wintab.h, hence no tablet events.
qt_options=(
  -DCMAKE_BUILD_TYPE=Release -DBUILD_SHARED_LIBS=ON
  -DQT_BUILD_TESTS=OFF -DQT_BUILD_EXAMPLES=OFF -DQT_BUILD_BENCHMARKS=OFF
  -DFEATURE_sql=OFF -DFEATURE_network=OFF -DFEATURE_opengl=OFF -DFEATURE_dbus=OFF
  -DFEATURE_vulkan=OFF -DFEATURE_concurrent=OFF -DFEATURE_xml=OFF -DFEATURE_jpeg=OFF
  -DFEATURE_tabletevent=OFF
  -DFEATURE_printsupport=ON -DFEATURE_testlib=ON -DFEATURE_widgets=ON
)

key_of() { printf '%s\n' "$@" | sha256sum | cut -c1-12; }

build_qt() {
  local ver gcc key prefix
  ver=$(installed_version qt6-base-dev)
  [[ -n "$ver" ]] || die "qt6-base-dev is not installed (its host tools build Qt for Windows)"
  gcc=$(installed_version g++-mingw-w64-x86-64-posix)
  key=$(key_of "$ver" "$gcc" "${qt_options[@]}")
  prefix="$cache/qt6-base-${ver//[:~]/_}-$key"
  if [[ -f "$prefix/.complete" ]]; then
    echo "$prefix"
    return 0
  fi
  ensure_deb_src
  local work="$cache/work/qt6-base-$key"
  rm -rf "$prefix"
  # A build that was stopped goes on where it was.
  [[ -f "$work/build/build.ninja" ]] || { rm -rf "$work"; fetch_source qt6-base "$ver" "$work/src"; }
  local src
  src=$(find "$work/src" -mindepth 1 -maxdepth 1 -type d -name 'qt6-base-*' | head -n1)
  [[ -n "$src" ]] || die "qt6-base source did not unpack"
  mkdir -p "$prefix"
  toolchain >"$cache/mingw-w64-toolchain.cmake"
  log "building qtbase $ver for Windows into $prefix (log: $work/build.log)"
  local started=$SECONDS
  {
    cmake -G Ninja -S "$src" -B "$work/build" \
      -DCMAKE_TOOLCHAIN_FILE="$cache/mingw-w64-toolchain.cmake" \
      -DCMAKE_INSTALL_PREFIX="$prefix" \
      -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR="$host_cmake" \
      -DQt6HostInfo_DIR="$host_cmake/Qt6HostInfo" \
      "${qt_options[@]}" &&
      cmake --build "$work/build" -j "$jobs" &&
      cmake --install "$work/build"
  } >"$work/build.log" 2>&1 || { tail -n 40 "$work/build.log" >&2; die "qtbase build (log: $work/build.log)"; }
  strip_dlls "$prefix"
  log "qtbase built in $((SECONDS - started)) s"
  echo "$ver ${qt_options[*]}" >"$prefix/.complete"
  rm -rf "$work"
  echo "$prefix"
}

# QCustomPlot as one DLL with the CMake package Debian's libqcustomplot-dev
# names (QCustomPlotQt6::QCustomPlotQt6), so the project finds it the same way.
qcp_project() {
  cat <<'CMAKE'
# SPDX-License-Identifier: GPL-3.0-or-later
cmake_minimum_required(VERSION 3.25)
project(QCustomPlotQt6 VERSION 2.1.0 LANGUAGES CXX)
find_package(Qt6 REQUIRED COMPONENTS Widgets PrintSupport)
set(CMAKE_AUTOMOC ON)
add_library(QCustomPlotQt6 SHARED qcustomplot.cpp qcustomplot.h)
target_compile_definitions(QCustomPlotQt6 PRIVATE QCUSTOMPLOT_COMPILE_LIBRARY)
target_link_libraries(QCustomPlotQt6 PUBLIC Qt6::Widgets Qt6::PrintSupport)
target_include_directories(QCustomPlotQt6 INTERFACE $<INSTALL_INTERFACE:include>)
install(TARGETS QCustomPlotQt6 EXPORT QCustomPlotQt6Targets
  RUNTIME DESTINATION bin ARCHIVE DESTINATION lib LIBRARY DESTINATION lib)
install(FILES qcustomplot.h DESTINATION include)
install(EXPORT QCustomPlotQt6Targets NAMESPACE QCustomPlotQt6:: DESTINATION lib/cmake/QCustomPlotQt6)
file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/QCustomPlotQt6Config.cmake
  "include(CMakeFindDependencyMacro)\nfind_dependency(Qt6 COMPONENTS Widgets PrintSupport)\ninclude(\${CMAKE_CURRENT_LIST_DIR}/QCustomPlotQt6Targets.cmake)\n")
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/QCustomPlotQt6Config.cmake DESTINATION lib/cmake/QCustomPlotQt6)
CMAKE
}

build_qcp() {
  local qt=$1 ver key prefix
  ver=$(apt-cache policy libqcustomplot-dev 2>/dev/null | awk '/Candidate:/ { print $2 }')
  [[ -n "$ver" && "$ver" != "(none)" ]] || die "no qcustomplot source version known to apt"
  key=$(key_of "$ver" "$qt" "$(qcp_project)")
  prefix="$cache/qcustomplot-${ver//[:~]/_}-$key"
  if [[ -f "$prefix/.complete" ]]; then
    echo "$prefix"
    return 0
  fi
  ensure_deb_src
  local work="$cache/work/qcustomplot-$key"
  rm -rf "$work" "$prefix"
  fetch_source qcustomplot "$ver" "$work/src"
  local src
  src=$(find "$work/src" -mindepth 1 -maxdepth 1 -type d -name 'qcustomplot-*' | head -n1)
  [[ -f "$src/qcustomplot.cpp" ]] || die "qcustomplot source did not unpack"
  qcp_project >"$src/CMakeLists.txt"
  log "building QCustomPlot $ver for Windows into $prefix"
  {
    cmake -G Ninja -S "$src" -B "$work/build" -DCMAKE_BUILD_TYPE=Release \
      -DCMAKE_TOOLCHAIN_FILE="$qt/lib/cmake/Qt6/qt.toolchain.cmake" -DCMAKE_INSTALL_PREFIX="$prefix" &&
      cmake --build "$work/build" -j "$jobs" &&
      cmake --install "$work/build"
  } >"$work/build.log" 2>&1 || { tail -n 40 "$work/build.log" >&2; die "QCustomPlot build (log: $work/build.log)"; }
  strip_dlls "$prefix"
  echo "$ver" >"$prefix/.complete"
  rm -rf "$work"
  echo "$prefix"
}

main() {
  mkdir -p "$cache"
  exec 9>"$cache/.lock"
  flock 9
  need_tools
  local qt qcp
  qt=$(build_qt)
  qcp=$(build_qcp "$qt")
  echo "NX_WIN_QT=$qt"
  echo "NX_WIN_QCP=$qcp"
}

main "$@"
