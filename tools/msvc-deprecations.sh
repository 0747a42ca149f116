#!/usr/bin/env bash
# Compiler launcher of the strict Windows build (LORVEX_STRICT_WARNINGS with
# MinGW-w64), this machine's model of MSVC's C4996: MinGW-w64 marks what
# Microsoft's C runtime deprecates (tmpfile, fopen, getenv, the POSIX names)
# when __MINGW_MSVC_COMPAT_WARNINGS is defined, and every such use fails the
# compile here, as /WX makes it fail there. memcpy and memmove are left out,
# and their warnings not shown: MinGW-w64 marks them too, MSVC only when a
# program asks for it (_CRT_SECURE_DEPRECATE_MEMORY).
set -uo pipefail
diagnostics=$(mktemp)
trap 'rm -f "$diagnostics"' EXIT
"$@" -fno-caret-diagnostics 2> "$diagnostics"
status=$?
# Each diagnostic with the include lines before it and the notes after it.
awk -v memory="'(memcpy|memmove)' is deprecated" '
  function flush() { if (group != "" && !dropped) printf "%s", group; group = ""; dropped = 0; main = 0 }
  /^In file included from / { if (main) flush(); group = group $0 "\n"; next }
  /: (warning|error|fatal error): / { if (main) flush(); main = 1; if ($0 ~ memory) dropped = 1 }
  /^[0-9]+ warnings? generated\.$/ { next }
  { group = group $0 "\n" }
  END { flush() }
' "$diagnostics" >&2
if grep -E "warning: '[^']+' is deprecated" "$diagnostics" | grep -qvE "'(memcpy|memmove)'"; then
  echo "MSVC deprecates the call above (C4996), an error under /WX" >&2
  status=1
fi
exit "$status"
