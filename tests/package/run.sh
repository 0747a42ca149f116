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

mkdir -p "$work/examples"
cp -R "$source_dir/examples/generate_only" "$source_dir/examples/windows_help" \
      "$source_dir/examples/help.txt" "$work/examples/"

# consumer_builds LABEL SOURCE NAME TEXT SCRIPT [cmake arguments...]: builds the
# consumer in SOURCE with each generator, where it must make SCRIPT (relative
# to the build folder) from TEXT, do nothing on a second build, and remake
# SCRIPT after TEXT is edited.
consumer_builds() {
  local label=$1 source=$2 name=$3 text=$4 script=$5
  shift 5
  local generator build
  for generator in Ninja "Unix Makefiles"; do
    build=$work/build-$label-${generator// /-}
    cp "$text" "$work/text.orig"
    if ! quietly cmake -S "$source" -B "$build" -G "$generator" "$@" || ! quietly cmake --build "$build"; then
      fail "$label with $generator does not build"
      continue
    fi
    "$prefix/bin/lorvex" "$name" "$text" "$work/expected.rc"
    check_same "$label with $generator makes the script" "$work/expected.rc" "$build/$script"

    # A build with nothing changed must not run lorvex again.
    local before
    before=$(date -r "$build/$script" +%s.%N)
    sleep 1.1
    cmake --build "$build" > "$work/again.log" 2>&1
    if [[ $(date -r "$build/$script" +%s.%N) != "$before" ]] || grep -q "lorvex:" "$work/again.log"; then
      fail "$label with $generator: a build with no edits ran lorvex again"
    else
      echo "ok: $label with $generator: a build with no edits leaves the script alone"
    fi

    echo 'One more line, "quoted".' >> "$text"
    quietly cmake --build "$build"
    "$prefix/bin/lorvex" "$name" "$text" "$work/expected.rc"
    check_same "$label with $generator remakes the script after an edit" "$work/expected.rc" "$build/$script"
    cp "$work/text.orig" "$text"
  done
}

# ---- the generate-only example through find_package
consumer_builds find_package "$work/examples/generate_only" HELP_TEXT "$work/examples/help.txt" \
  help.rc -DCMAKE_PREFIX_PATH="$prefix"

# ---- FetchContent (and so add_subdirectory) from the source tree, with an
# output in a folder of its own and blanks and ';' in the text's path
fetch=$work/fetch
mkdir -p "$fetch/notes dir"
notes="$fetch/notes dir/help text;1.txt"
printf 'Fetched "text"\r\nwith C:\\paths\n' > "$notes"
cat > "$fetch/CMakeLists.txt" <<CMAKE
cmake_minimum_required(VERSION 3.25)
project(fetch_consumer LANGUAGES NONE)
include(FetchContent)
FetchContent_Declare(lorvex SOURCE_DIR "$source_dir")
FetchContent_MakeAvailable(lorvex)
lorvex_add_rcdata(generated/notes.rc NAME NOTES INPUT "notes dir/help text;1.txt")
add_custom_target(notes ALL DEPENDS \${CMAKE_CURRENT_BINARY_DIR}/generated/notes.rc)
add_subdirectory(more)
CMAKE
# A script for a target of the parent folder, made from a subfolder.
mkdir -p "$fetch/more"
echo 'More notes.' > "$fetch/more/more.txt"
echo 'lorvex_add_rcdata(more.rc NAME MORE INPUT more.txt TARGET notes)' > "$fetch/more/CMakeLists.txt"
consumer_builds FetchContent "$fetch" NOTES "$notes" generated/notes.rc -DCMAKE_BUILD_TYPE=Release
for generator in Ninja "Unix Makefiles"; do
  if [[ -s $work/build-FetchContent-${generator// /-}/more/more.rc ]]; then
    echo "ok: FetchContent with $generator makes a subfolder's script for the parent's target"
  else
    fail "FetchContent with $generator: no script for the parent's target from a subfolder"
  fi
done

# ---- the Windows example, cross-built against the installed (native) lorvex
if [[ -z $toolchain ]] || ! command -v x86_64-w64-mingw32-g++ > /dev/null || ! command -v wine > /dev/null; then
  echo "skipped: the Windows example (needs the MinGW-w64 toolchain and Wine)"
else
  text=$work/examples/help.txt
  # The stored text: the help text with CR LF read as LF, then a NUL.
  { tr -d '\r' < "$text"; printf '\0'; } > "$work/stored.txt"
  for generator in Ninja "Unix Makefiles"; do
    windows=$work/windows_help-${generator// /-}
    quietly cmake -S "$work/examples/windows_help" -B "$windows" -G "$generator" --toolchain "$toolchain" \
          -DCMAKE_BUILD_TYPE=Release -Dlorvex_DIR="$prefix/lib/cmake/lorvex"
    quietly cmake --build "$windows"
    WINEDEBUG=-all wine "$windows/show_help.exe" < /dev/null > "$work/shown.txt" 2> /dev/null
    check_same "the Windows example built with $generator prints its help text" "$work/stored.txt" "$work/shown.txt"
  done
fi

finish_checks "package checks"
