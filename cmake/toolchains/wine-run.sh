#!/bin/sh
# Runs a Windows program under Wine for the build and the tests, passing on
# its output and exit status. Its output goes through files: the first Wine
# program of a session starts Wine's background services, which would
# otherwise inherit the caller's pipes and keep a build or test run waiting
# for them to close.
out=$(mktemp) || exit 125
err=$(mktemp) || exit 125
WINEDEBUG=${WINEDEBUG:--all} wine "$@" < /dev/null > "$out" 2> "$err"
status=$?
cat "$out"
cat "$err" >&2
rm -f "$out" "$err"
exit $status
