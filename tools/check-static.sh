#!/usr/bin/env bash
# Static checks that CI runs: clang-format must leave every C++ file as it is,
# no runtime if or while may test a condition known at compile time (MSVC's
# C4127; the strict Windows build models its C4996), clang-tidy (the checks
# in .clang-tidy, all as errors) must find nothing in the sources and tests,
# actionlint nothing in the hosted CI workflows, whose actions must all run
# on Node 24, and every preset this machine can configure must configure.
set -euo pipefail
cd "$(dirname "$0")/.."

mapfile -t files < <(git ls-files '*.cpp' '*.hpp')
clang-format --dry-run --Werror "${files[@]}"
echo "-- clang-format: ${#files[@]} files formatted"
# MSVC's C4127 at /W4: no runtime if over a condition known at compile time.
python3 tools/check-constant-conditions.py "${files[@]}"
echo "-- constant conditions: none"

cmake -S . -B build/lint -G Ninja -DCMAKE_BUILD_TYPE=Debug -DLORVEX_LTO=OFF \
      -DLORVEX_BUILD_TESTS=ON -DCMAKE_EXPORT_COMPILE_COMMANDS=ON > /dev/null
# The Windows-only sources are checked by the cross build's warnings instead.
# Its counts of warnings in system headers (suppressed) are left out, and
# the rest shown only when it finds something.
if ! run-clang-tidy -quiet -p build/lint -j "$(nproc)" \
       'src/.*\.cpp$' 'tests/(unit|e2e|support)/.*\.cpp$' > build/lint/clang-tidy.log 2>&1; then
  sed -E 's/[0-9]+ warnings? generated\.//; /^clang-tidy-?[0-9]* /d; /^(\x1b\[[0-9;]*m)*$/d' \
    build/lint/clang-tidy.log
  echo "-- clang-tidy: findings above" >&2
  exit 1
fi
echo "-- clang-tidy: no findings"

node tools/lint-workflows.cjs build/tools .github/workflows

# Every preset this machine can configure: the Windows-only ones leave the
# list by their condition. Each goes to its own build folder, as it would.
presets=$(cmake --list-presets | sed -n 's/^  "\([^"]*\)".*/\1/p')
for preset in $presets; do
  if ! cmake --preset "$preset" > "build/lint/preset-$preset.log" 2>&1; then
    cat "build/lint/preset-$preset.log"
    echo "-- presets: $preset does not configure" >&2
    exit 1
  fi
done
echo "-- presets: configured" $presets
