#!/usr/bin/env bash
# The whole test suite, as CI runs it: installs what it needs; runs the static
# checks; builds both Windows builds, with MinGW-w64's GCC and with Clang, and
# runs their unit and end-to-end suites under Wine (windows-cross,
# windows-cross-clang); builds for 64-bit Arm, 32-bit Arm and 64-bit RISC-V
# Linux and runs the same suites under qemu-user (linux-aarch64, linux-armhf,
# linux-riscv64); builds and tests the native build, with the package
# tests and the windows.* tests against the Windows executable (ci); runs the
# native suite again under AddressSanitizer and UndefinedBehaviorSanitizer
# (asan); and fuzzes the conversion for a bounded time (fuzz).
set -euo pipefail
cd "$(dirname "$0")/.."

tools/install-deps.sh
tools/check-static.sh

# One Wine prefix inside the build tree and one persistent wineserver for the
# whole run, so that each start of a Windows program is quick.
export WINEDEBUG=-all
export WINEPREFIX=${WINEPREFIX:-$PWD/build/wine-prefix}
export WINEDLLOVERRIDES="mscoree=;mshtml="  # no Mono or Gecko installer prompts
mkdir -p "$WINEPREFIX"
wineserver -p > /dev/null 2>&1 || true  # already running for this prefix: use that one
trap 'wineserver -k || true' EXIT
start=$SECONDS
# Its notes on a new prefix are no news; its services must not hold a pipe.
wineboot --init > /dev/null 2>&1
echo "-- Wine prefix ready in $((SECONDS - start)) s"

start=$SECONDS
cmake --workflow --preset windows-cross
cmake --workflow --preset windows-cross-clang
echo "-- Windows builds (GCC and Clang) and their tests under Wine took $((SECONDS - start)) s"

start=$SECONDS
cmake --workflow --preset linux-aarch64
cmake --workflow --preset linux-armhf
cmake --workflow --preset linux-riscv64
echo "-- Linux builds for aarch64, armhf and riscv64 and their tests under qemu-user took $((SECONDS - start)) s"

cmake --workflow --preset ci
cmake --workflow --preset asan
cmake --workflow --preset fuzz
