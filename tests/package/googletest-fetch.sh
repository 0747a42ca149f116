#!/usr/bin/env bash
# The GoogleTest fetch that builds without an installed GoogleTest (MSVC, a
# bare machine) use, tried here without the network: an archive of Debian's
# GoogleTest sources stands in for the pinned release. With its SHA-256 the
# unit tests build and pass; with another, configuring must fail.
#
#   googletest-fetch.sh <lorvex source dir> [GoogleTest source dir]
set -euo pipefail

source_dir=$(cd "$1" && pwd)
googletest=${2:-/usr/src/googletest}
. "$(dirname "$0")/checks.sh"

[[ -f $googletest/CMakeLists.txt ]] || { fail "no GoogleTest sources in $googletest"; exit 1; }
archive=$work/googletest.tar.gz
tar -czf "$archive" -C "$(dirname "$googletest")" "$(basename "$googletest")"
sha256=$(sha256sum "$archive" | cut -d' ' -f1)

configure() {  # build dir, SHA-256
  cmake -S "$source_dir" -B "$1" -G Ninja -DCMAKE_BUILD_TYPE=Release -DLORVEX_LTO=OFF \
    -DLORVEX_BUILD_TESTS=ON -DLORVEX_PACKAGE_TESTS=OFF -DLORVEX_FETCH_GOOGLETEST=ON \
    -DLORVEX_GOOGLETEST_URL="file://$archive" -DLORVEX_GOOGLETEST_SHA256="$2"
}

if quietly configure "$work/fetched" "$sha256" && quietly cmake --build "$work/fetched" --target lorvex_unit_tests &&
   quietly "$work/fetched/tests/lorvex_unit_tests"; then
  echo "ok: the unit tests build and pass with GoogleTest fetched by URL and SHA-256"
else
  fail "the unit tests with GoogleTest fetched from $archive"
fi
if grep -q "^GTest_DIR:PATH=/" "$work/fetched/CMakeCache.txt"; then
  fail "an installed GoogleTest was used instead of the fetched one"
fi

if configure "$work/tampered" "$(printf '%064d' 0)" > "$work/tampered.log" 2>&1 ||
   ! grep -q "SHA256 hash of" "$work/tampered.log"; then
  fail "an archive with another SHA-256 was not refused for its hash"
else
  echo "ok: an archive with another SHA-256 is refused"
fi

finish_checks "checks of the GoogleTest fetch"
