#!/usr/bin/env bash
# lorvex in a user's build: installs the build tree into a temporary prefix,
# then builds separate consumer projects against it: the examples through
# find_package(lorvex), and a project that brings lorvex in with FetchContent.
# Checks that the script is made, remade after the text changes, and not
# remade when nothing changed, also by switching configurations; cross-builds
# the Windows example and a FetchContent consumer without an emulator and runs
# them under Wine when the MinGW toolchain and Wine are there.
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
# Only a man that renders a page named by its path (-l) can check it (the
# one of older macOS cannot): tried on a page that surely renders.
printf '.TH PROBE 1\n.SH NAME\nprobe\n' > "$work/probe.1"
if ! command -v man > /dev/null || ! man -l "$work/probe.1" 2>&1 | grep -q NAME; then
  echo "skipped: the manual page check (this man cannot render a page by its path)"
elif ! man -l "$prefix/share/man/man1/lorvex.1" 2>&1 | grep -q "EXIT STATUS"; then
  fail "the installed manual page does not render"
fi

mkdir -p "$work/examples"
cp -R "$source_dir/examples/generate_only" "$source_dir/examples/windows_help" \
      "$source_dir/examples/help.txt" "$work/examples/"

# consumer_builds LABEL SOURCE NAME TEXT SCRIPT [cmake arguments...]: builds the
# consumer in SOURCE with each of $generators, where it must make SCRIPT (relative
# to the build folder) from TEXT, do nothing on a second build, and remake
# SCRIPT after TEXT is edited.
consumer_builds() {
  local label=$1 source=$2 name=$3 text=$4 script=$5
  shift 5
  local generator build
  for generator in "${generators[@]}"; do
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
generators=(Ninja "Unix Makefiles")
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
generators+=("Ninja Multi-Config")  # whose configurations each built lorvex
consumer_builds FetchContent "$fetch" NOTES "$notes" generated/notes.rc -DCMAKE_BUILD_TYPE=Release
for generator in "${generators[@]}"; do
  if [[ -s $work/build-FetchContent-${generator// /-}/more/more.rc ]]; then
    echo "ok: FetchContent with $generator makes a subfolder's script for the parent's target"
  else
    fail "FetchContent with $generator: no script for the parent's target from a subfolder"
  fi
done
# Each configuration of a multi-config build uses the same scripts (once
# remade for the text restored above).
quietly cmake --build "$work/build-FetchContent-Ninja-Multi-Config" --config Debug
for config in Release Debug Release; do
  cmake --build "$work/build-FetchContent-Ninja-Multi-Config" --config $config
done > "$work/configs.log" 2>&1
if grep -q "lorvex:" "$work/configs.log"; then
  fail "Ninja Multi-Config remakes the scripts for another configuration"
else
  echo "ok: Ninja Multi-Config makes the scripts once for Debug and Release"
fi

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
    under_wine "$work/shown.txt" "$windows/show_help.exe"
    check_same "the Windows example built with $generator prints its help text" "$work/stored.txt" "$work/shown.txt"
  done

  # A Windows program that brings lorvex in with FetchContent, cross-built as
  # CI often does: no emulator, and the cross compilers in CC and CXX. lorvex
  # comes from a nested native build, or from LORVEX_EXECUTABLE; lorvex.exe is
  # not built, and none of lorvex's files reach the consumer's install or zip.
  cross=$work/cross
  mkdir -p "$cross"
  cat > "$cross/CMakeLists.txt" <<CMAKE
cmake_minimum_required(VERSION 3.25)
project(cross_consumer VERSION 2.0 LANGUAGES CXX RC)
include(FetchContent)
FetchContent_Declare(lorvex SOURCE_DIR "$source_dir")
FetchContent_MakeAvailable(lorvex)
add_executable(show_help "$work/examples/windows_help/show_help.cpp")
lorvex_add_rcdata(help.rc NAME HELP_TEXT INPUT "$text" TARGET show_help)
install(TARGETS show_help)
set(CPACK_GENERATOR ZIP)
include(CPack)
CMAKE
  printf 'include("%s")\nunset(CMAKE_CROSSCOMPILING_EMULATOR)\n' "$toolchain" > "$work/no-emulator.cmake"
  for setup in "Ninja" "Unix Makefiles;-DLORVEX_EXECUTABLE=$prefix/bin/lorvex"; do
    IFS=";" read -r generator executable <<< "$setup"
    label="FetchContent for Windows without an emulator, $generator${executable:+, LORVEX_EXECUTABLE}"
    build=$work/cross-${generator// /-}
    if ! quietly env CC=x86_64-w64-mingw32-gcc CXX=x86_64-w64-mingw32-g++ cmake -S "$cross" -B "$build" \
           -G "$generator" --toolchain "$work/no-emulator.cmake" -DCMAKE_BUILD_TYPE=Release $executable ||
       ! quietly cmake --build "$build"; then
      fail "$label does not build"
      continue
    fi
    under_wine "$work/shown.txt" "$build/show_help.exe"
    check_same "$label: show_help prints its help text" "$work/stored.txt" "$work/shown.txt"
    [[ -z $(find "$build" -name lorvex.exe) ]] || fail "$label built lorvex.exe"
    [[ -z $executable || ! -e $build/_deps/lorvex-build/build-machine ]] ||
      fail "$label built a lorvex of its own"
    cmake --install "$build" --prefix "$work/installed-$generator" > /dev/null
    (cd "$build" && quietly cpack -G ZIP)
    installed=$(cd "$work/installed-$generator" && find . -type f)
    zipped=$(unzip -Z1 "$build"/cross_consumer-2.0-*.zip | grep -v '/$')
    if [[ $installed == ./bin/show_help.exe && $zipped == */bin/show_help.exe ]]; then
      echo "ok: $label: its install tree and zip hold its own files only"
    else
      fail "$label: lorvex's files in the consumer's install tree or zip: $installed $zipped"
    fi
  done
fi

finish_checks "package checks"
