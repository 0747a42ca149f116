#!/usr/bin/env bash
# The packages as users get them: makes the Debian package and the Windows zip
# with `cmake --workflow --preset package`, runs lintian, installs the .deb
# into a scratch root and builds against it (natively, as a 32-bit MinGW
# consumer, and with Meson, natively and for Windows, also with lorvex as a
# subproject), runs the zip's lorvex.exe under Wine and checks that its
# package is refused on Linux.
#
#   packages.sh <lorvex source dir>
set -euo pipefail

source_dir=$(cd "$1" && pwd)
. "$(dirname "$0")/checks.sh"

# ---- the packages
export SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(git -C "$source_dir" log -1 --format=%ct 2> /dev/null || echo 1)}
(cd "$source_dir" && quietly cmake --workflow --preset package)
version=$(cat "$source_dir/VERSION")
deb=$source_dir/build/package/lorvex_${version}_$(dpkg --print-architecture).deb
zip=$source_dir/build/package/lorvex-${version}-win64.zip
[[ -f $deb && -f $zip ]] || { fail "the workflow left no $deb or $zip"; exit 1; }
echo "ok: packages $(stat -c '%n %s bytes' "$deb" "$zip" | tr '\n' ' ')"

if lintian --pedantic -I --fail-on error,warning,info,pedantic "$deb" > "$work/lintian.log" 2>&1; then
  echo "ok: lintian --pedantic -I finds nothing"
else
  cat "$work/lintian.log" >&2
  fail "lintian"
fi

# ---- the .deb in a scratch root
root=$work/root
dpkg-deb -x "$deb" "$root"
mkdir -p "$work/examples"
cp -R "$source_dir/examples/." "$work/examples/"
text=$work/examples/help.txt
"$root/usr/bin/lorvex" HELP_TEXT "$text" "$work/expected.rc"
"$source_dir/build/package/lorvex" HELP_TEXT "$text" "$work/built.rc"
check_same "the packaged lorvex converts as the one built" "$work/built.rc" "$work/expected.rc"
if zcat "$root/usr/share/man/man1/lorvex.1.gz" | grep -q '^\.SH "FAILURE GUARANTEES"' &&
   [[ -s $root/usr/share/doc/lorvex/copyright ]]; then
  echo "ok: the manual page and the copyright file are there"
else
  fail "manual page or copyright file missing"
fi
quietly cmake -S "$work/examples/generate_only" -B "$work/generate_only" -G Ninja \
  -Dlorvex_DIR="$root/usr/lib/cmake/lorvex"
quietly cmake --build "$work/generate_only"
check_same "find_package from the .deb makes the script" "$work/expected.rc" "$work/generate_only/help.rc"

# A 32-bit consumer: the package is for the build machine, whatever the target.
if command -v i686-w64-mingw32-g++ > /dev/null; then
  quietly cmake -S "$work/examples/windows_help" -B "$work/help32" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    --toolchain "$source_dir/tests/package/mingw-w64-i686.cmake" -Dlorvex_DIR="$root/usr/lib/cmake/lorvex"
  quietly cmake --build "$work/help32"
  if i686-w64-mingw32-objdump -f "$work/help32/show_help.exe" | grep -q 'pei-i386'; then
    echo "ok: a 32-bit MinGW consumer builds with lorvex_add_rcdata"
  else
    fail "the 32-bit consumer is not a 32-bit program"
  fi
else
  fail "no i686-w64-mingw32-g++ for the 32-bit consumer"
fi

# ---- the Windows zip
unzip -q "$zip" -d "$work/zip"
top=$work/zip/lorvex-${version}-win64
for file in bin/lorvex.exe lorvex.txt LICENSE README.md lib/cmake/lorvex/lorvexConfig.cmake; do
  [[ -f $top/$file ]] || fail "the zip has no $file"
done
if LC_ALL=C grep -q -P '[^\x00-\x7F]|[^\r]$|^$' "$top/lorvex.txt"; then
  fail "the zip's lorvex.txt is not ASCII with CR LF line ends"
else
  echo "ok: the zip's lorvex.txt is ASCII with CR LF line ends"
fi
under_wine /dev/null "$top/bin/lorvex.exe" HELP_TEXT "$text" "$work/from_zip.rc"
check_same "the zip's lorvex.exe converts under Wine" "$work/expected.rc" "$work/from_zip.rc"
# Its package is for Windows build machines: refused here, and for its reason.
if cmake -S "$work/examples/generate_only" -B "$work/zip_consumer" -Dlorvex_DIR="$top/lib/cmake/lorvex" \
     > "$work/refused.log" 2>&1 || ! tr -s ' \n' ' ' < "$work/refused.log" |
     grep -q "holds a lorvex for Windows, which cannot run on this Linux build machine"; then
  cat "$work/refused.log" >&2
  fail "the zip's package is not refused on Linux with its reason"
else
  echo "ok: the zip's package is refused on Linux, saying why"
fi

# ---- Meson, natively with the packaged lorvex, then for Windows
export PATH=$root/usr/bin:$PATH
meson_dir=$work/examples/meson
quietly meson setup "$work/meson" "$meson_dir"
quietly meson compile -C "$work/meson"
check_same "Meson makes the script" "$work/expected.rc" "$work/meson/help.rc"
if meson compile -C "$work/meson" | grep -q "no work to do"; then
  echo "ok: a second Meson build does nothing"
else
  fail "a second Meson build did work"
fi
echo 'One more line, "quoted".' >> "$text"
"$root/usr/bin/lorvex" HELP_TEXT "$text" "$work/expected.rc"
quietly meson compile -C "$work/meson"
check_same "Meson remakes the script after an edit" "$work/expected.rc" "$work/meson/help.rc"

quietly meson setup "$work/meson-windows" "$meson_dir" --cross-file "$meson_dir/mingw-w64.ini"
quietly meson compile -C "$work/meson-windows"
under_wine "$work/shown.txt" "$work/meson-windows/show_help.exe"
{ tr -d '\r' < "$text"; printf '\0'; } > "$work/stored.txt"
check_same "the Meson cross build's show_help prints its text under Wine" "$work/stored.txt" "$work/shown.txt"

# lorvex as the example's subproject (its wrap), built for the build machine
# in the cross build.
ln -s "$source_dir" "$meson_dir/subprojects/lorvex"
quietly meson setup "$work/meson-subproject" "$meson_dir" --cross-file "$meson_dir/mingw-w64.ini" \
  --wrap-mode=forcefallback
quietly meson compile -C "$work/meson-subproject"
under_wine "$work/shown.txt" "$work/meson-subproject/show_help.exe"
check_same "lorvex as a Meson subproject in the cross build: show_help prints its text" \
  "$work/stored.txt" "$work/shown.txt"
[[ $("$work/meson-subproject/subprojects/lorvex/lorvex" --version) == "lorvex $version" ]] ||
  fail "the subproject's lorvex does not run on the build machine"

finish_checks "checks of the packages"
