#!/usr/bin/env bash
# lorvex in a user's build: installs the build tree into a temporary prefix,
# then builds separate consumer projects against it: the examples through
# find_package(lorvex), and a project that brings lorvex in with FetchContent.
# Checks that the script is made, remade after the text changes, and not
# remade when nothing changed; cross-builds the Windows example and runs it
# under Wine when the MinGW toolchain and Wine are there.
#
#   run.sh <lorvex source dir> <lorvex build dir> [toolchain file]
set -euo pipefail

source_dir=$1
build_dir=$2
toolchain=${3:-}
. "$(dirname "$0")/checks.sh"

# ---- install
prefix=$work/prefix
cmake --install "$build_dir" --prefix "$prefix" > /dev/null
for file in bin/lorvex share/man/man1/lorvex.1 lib/cmake/lorvex/lorvexConfig.cmake \
            lib/cmake/lorvex/lorvexConfigVersion.cmake lib/cmake/lorvex/lorvexTargets.cmake \
            lib/cmake/lorvex/lorvex-functions.cmake; do
  [[ -e $prefix/$file ]] || fail "install did not put $file in the prefix"
done
if command -v man > /dev/null && ! man -l "$prefix/share/man/man1/lorvex.1" 2>&1 | grep -q "EXIT STATUS"; then
  fail "the installed manual page does not render"
fi

# ---- the generate-only example through find_package
mkdir -p "$work/examples"
cp -R "$source_dir/examples/generate_only" "$source_dir/examples/windows_help" \
      "$source_dir/examples/help.txt" "$work/examples/"
text=$work/examples/help.txt
consumer=$work/generate_only-build
cmake -S "$work/examples/generate_only" -B "$consumer" -G Ninja \
      -DCMAKE_PREFIX_PATH="$prefix" > /dev/null
cmake --build "$consumer" > /dev/null
"$prefix/bin/lorvex" HELP_TEXT "$text" "$work/expected.rc"
check_same "find_package build makes the script" "$work/expected.rc" "$consumer/help.rc"

# A build with nothing changed must not run lorvex again.
before=$(date -r "$consumer/help.rc" +%s.%N)
sleep 1.1
cmake --build "$consumer" > "$work/again.log"
if [[ $(date -r "$consumer/help.rc" +%s.%N) != "$before" ]] ||
   grep -q "lorvex:" "$work/again.log"; then
  fail "a build with no edits ran lorvex again"
else
  echo "ok: a build with no edits leaves the script alone"
fi

# Editing the text must remake the script.
echo 'One more line, "quoted".' >> "$text"
cmake --build "$consumer" > /dev/null
"$prefix/bin/lorvex" HELP_TEXT "$text" "$work/expected.rc"
check_same "an edited text remakes the script" "$work/expected.rc" "$consumer/help.rc"

# ---- FetchContent (and so add_subdirectory) from the source tree
fetch=$work/fetch
mkdir -p "$fetch"
printf 'Fetched "text"\r\nwith C:\\paths\n' > "$fetch/notes.txt"
cat > "$fetch/CMakeLists.txt" <<CMAKE
cmake_minimum_required(VERSION 3.25)
project(fetch_consumer LANGUAGES NONE)
include(FetchContent)
FetchContent_Declare(lorvex SOURCE_DIR "$source_dir")
FetchContent_MakeAvailable(lorvex)
lorvex_add_rcdata(scripts/notes.rc NAME NOTES INPUT notes.txt)
add_custom_target(notes ALL DEPENDS \${CMAKE_CURRENT_BINARY_DIR}/scripts/notes.rc)
CMAKE
cmake -S "$fetch" -B "$fetch/build" -G Ninja -DCMAKE_BUILD_TYPE=Release > /dev/null
cmake --build "$fetch/build" > /dev/null
"$prefix/bin/lorvex" NOTES "$fetch/notes.txt" "$work/notes.rc"
check_same "FetchContent build makes the script with the lorvex it builds" \
           "$work/notes.rc" "$fetch/build/scripts/notes.rc"

# ---- the Windows example, cross-built against the installed (native) lorvex
if [[ -z $toolchain ]] || ! command -v x86_64-w64-mingw32-g++ > /dev/null || ! command -v wine > /dev/null; then
  echo "skipped: the Windows example (needs the MinGW-w64 toolchain and Wine)"
else
  windows=$work/windows_help-build
  cmake -S "$work/examples/windows_help" -B "$windows" -G Ninja --toolchain "$toolchain" \
        -DCMAKE_BUILD_TYPE=Release -Dlorvex_DIR="$prefix/lib/cmake/lorvex" > /dev/null
  cmake --build "$windows" > /dev/null
  WINEDEBUG=-all wine "$windows/show_help.exe" > "$work/shown.txt"
  # The stored text: the help text with CR LF read as LF, then a NUL.
  { tr -d '\r' < "$text"; printf '\0'; } > "$work/stored.txt"
  check_same "the Windows example prints its embedded help text" "$work/stored.txt" "$work/shown.txt"
fi

finish_checks "package checks"
