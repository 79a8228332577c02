#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The project as integrators and distributions build, install and package it, checked:
#
#   ship_check.sh clang    DEV_BUILD          every translation unit of the tree, read by
#                                             clang with the project's warnings (no code)
#   ship_check.sh cross    BOARD_BUILD WORK   an integrator's cross build (a toolchain file
#                                             with the compilers only, Release, prefix /usr)
#                                             gives the board preset's firmware
#   ship_check.sh packages RELEASE_BUILD BOARD_BUILD WORK
#                                             the packages unpack, run, build a client and
#                                             pass lintian; the firmware archive is whole
#
# Each ends with status 1 and says why when its check fails.
set -euo pipefail
src=$(cd "$(dirname "$0")/.." && pwd)
jobs=$(nproc)
fail() { echo "ship check: $*" >&2; exit 1; }

# ---- clang -------------------------------------------------------------------------------
check_clang() {
  local build=$1 list
  list=$(mktemp)
  trap 'rm -f "$list"' RETURN
  cmake -DBUILD_DIR="$build" -DOUTPUT="$list" -P "$src/tests/clang_compile.cmake"
  # Each command's output is kept apart, so that a failure is read whole.
  if ! xargs -d '\n' -P "$jobs" -I{} sh -c '{} 2>&1 || { echo "FAILED: {}"; exit 255; }' \
      <"$list" >"$list.out"; then
    cat "$list.out"; rm -f "$list.out"
    fail "clang does not compile the tree warning-free"
  fi
  rm -f "$list.out"
  echo "clang: $(wc -l <"$list") translation units compile warning-free"
}

# ---- the outside cross build -------------------------------------------------------------
needed() { arm-linux-gnueabi-readelf -d "$1" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p' | sort; }
imports() { arm-linux-gnueabi-nm -D --undefined-only "$1" | awk '{print $NF}' | sed 's/@.*//' | sort -u; }
# File calls whose 32-bit forms fail on a file of 2 GiB or more (the C library's names).
file_calls_32='^(open|openat|creat|fopen|freopen|stat|fstat|lstat|fstatat|__xstat|__fxstat|__lxstat|lseek|ftruncate|truncate|readdir|statfs|fstatfs|statvfs|mmap|pread|pwrite|ftello|fseeko|getdents|fgetpos|fsetpos|sendfile)$'

check_cross() {
  local board=$1 work=$2 name verdict=0
  cmake -S "$src" -B "$work" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$src/tests/outside-toolchain.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr >"$work.configure.log" 2>&1 ||
    { cat "$work.configure.log"; fail "the outside cross build does not configure"; }
  cmake --build "$work" -j "$jobs" >"$work.build.log" 2>&1 ||
    { tail -50 "$work.build.log"; fail "the outside cross build does not build"; }
  for program in "$board"/bin/*; do
    name=$(basename "$program")
    [ -f "$work/bin/$name" ] || { echo "$name: missing from the outside build"; verdict=1; continue; }
    if [ "$(needed "$program")" != "$(needed "$work/bin/$name")" ]; then
      echo "$name needs other libraries than the board preset's:"
      diff <(needed "$program") <(needed "$work/bin/$name") || true
      verdict=1
    fi
    if imports "$work/bin/$name" | grep -Eq "$file_calls_32"; then
      echo "$name calls 32-bit file functions: $(imports "$work/bin/$name" | grep -E "$file_calls_32" | tr '\n' ' ')"
      verdict=1
    fi
    if grep -q KV_SYSROOT "$work/bin/$name"; then
      echo "$name has the board root (KV_SYSROOT) compiled in"
      verdict=1
    fi
  done
  if ! "$src/cmake/footprint.sh" "$work" >"$work.footprint.txt"; then
    grep stripped "$work.footprint.txt"; verdict=1
  fi
  [ "$verdict" -eq 0 ] || fail "the outside cross build is not the board preset's firmware"
  echo "cross: the outside toolchain file gives the board preset's firmware" \
    "($(ls "$board"/bin | wc -l) programs: libraries, 64-bit file calls, no board root, within budget)"
}

# ---- packages ----------------------------------------------------------------------------
check_packages() {
  local release=$1 board=$2 work=$3 deb root
  rm -rf "$work"; mkdir -p "$work"
  (cd "$release" && cpack -G DEB >"$work/cpack.log" 2>&1) || { cat "$work/cpack.log"; fail "cpack (DEB) failed"; }
  root=$work/root
  for deb in "$release"/packages/*.deb; do
    dpkg-deb -x "$deb" "$root"
    if command -v lintian >/dev/null; then
      lintian --fail-on error --suppress-tags-from-file /dev/null "$deb" >"$work/lintian.txt" 2>&1 ||
        { cat "$work/lintian.txt"; fail "lintian reports errors in $(basename "$deb")"; }
    elif [ "${CI:-}" = true ]; then
      fail "lintian is not installed (required in CI)"
    else
      echo "lintian not installed: packages not checked by it"
    fi
  done
  # The workstation package: the tool runs from where it was unpacked, its page renders.
  "$root/usr/bin/kv_export" --version | grep -q '^kv_export ' || fail "kv_export --version"
  MANWIDTH=80 man -l "$root/usr/share/man/man1/kv_export.1.gz" 2>&1 | grep -q '^NAME' ||
    fail "kv_export's manual page does not render"
  # The development package: a C program builds with pkg-config, and a C-only CMake project
  # with the CMake package, both from the unpacked tree.
  local pc
  pc=$(dirname "$(find "$root" -name kvinterface.pc | head -n 1)")
  [ -d "$pc" ] || fail "libkvinterface-dev has no pkg-config file"
  cat >"$work/client.c" <<'C'
#include <kv/kv_msg_drv.h>
#include <kv/msg_util.h>
#include <kv/sem_util.h>
#include <math.h>
int main(void) {
  SemHandl_t lock = MakeSem();
  (void)Msg_Init;
  (void)KVDrvInit;
  return DestroySem(lock) + (int)floor(0.5);
}
C
  # shellcheck disable=SC2046
  cc -std=c99 -Wall -Werror "$work/client.c" -o "$work/client" \
    $(PKG_CONFIG_PATH=$pc pkg-config --cflags --libs kvinterface) ||
    fail "a C client does not build with pkg-config from libkvinterface-dev"
  "$work/client" || fail "the C client built from libkvinterface-dev does not run"
  mkdir -p "$work/cmake-client"
  cp "$work/client.c" "$work/cmake-client/client.c"
  cat >"$work/cmake-client/CMakeLists.txt" <<'CM'
cmake_minimum_required(VERSION 3.25)
project(client LANGUAGES C)
find_package(kvinterface REQUIRED)
add_executable(client client.c)
target_link_libraries(client PRIVATE kv::kvinterface)
CM
  cmake -S "$work/cmake-client" -B "$work/cmake-client/build" -G Ninja \
    -DCMAKE_PREFIX_PATH="$root/usr" >"$work/cmake-client.log" 2>&1 &&
    cmake --build "$work/cmake-client/build" >>"$work/cmake-client.log" 2>&1 ||
    { cat "$work/cmake-client.log"; fail "a C-only CMake project does not link kv::kvinterface"; }
  [ -f "$root/usr/share/doc/libkvinterface-dev/html/index.html" ] ||
    fail "libkvinterface-dev has no reference"
  echo "packages: $(cd "$release/packages" && ls ./*.deb | sed 's|^\./||' | tr '\n' ' ')unpack, run and build clients; lintian without errors"

  # The firmware archive, from the board build where there is one.
  if [ ! -f "$board/CPackConfig.cmake" ]; then
    [ "${CI:-}" = true ] && fail "no board build for the firmware archive (required in CI)"
    echo "firmware archive skipped: no board build"
    return
  fi
  (cd "$board" && cpack >"$work/cpack-board.log" 2>&1) || { cat "$work/cpack-board.log"; fail "cpack (firmware) failed"; }
  local archive listing
  archive=$(ls "$board"/packages/kvrecorder-firmware-*.tar.gz)
  listing=$(tar tzf "$archive")
  for want in etc/init.d/S40kvrecorder usr/bin/kv_sentinel usr/bin/kv_navlink usr/bin/i2c_rw \
      usr/share/man/man8/kv_navlink.8.gz usr/share/man/man7/kvrecorder-board.7.gz \
      usr/share/doc/kvrecorder/LICENSE; do
    grep -qx "\(\./\)\?$want" <<<"$listing" || fail "the firmware archive lacks $want"
  done
  echo "firmware archive: $(basename "$archive") holds the programs, the start-up script, the pages and the licence"
}

abs() { realpath -m "$1"; }
case "${1:-}" in
  clang) check_clang "$(abs "${2:?dev build}")" ;;
  cross) check_cross "$(abs "${2:?board build}")" "$(abs "${3:?work folder}")" ;;
  packages) check_packages "$(abs "${2:?release build}")" "$(abs "${3:?board build}")" "$(abs "${4:?work folder}")" ;;
  *) sed -n '2,13p' "$0"; exit 2 ;;
esac
