#!/bin/sh
# Runs a Windows program under Wine for the build and the tests, passing on
# its output and exit status. Its output goes through files: the first Wine
# program of a session starts Wine's background services, which would
# otherwise inherit the caller's pipes and keep a build or test run waiting
# for them to close. Now and then Wine fails to start a program and ends with
# status 1 without a word; the programs run here never do so, and such a
# start is tried again, twice at most.
out=$(mktemp) || exit 125
err=$(mktemp) || exit 125
for attempt in 1 2 3; do
  WINEDEBUG=${WINEDEBUG:--all} wine "$@" < /dev/null > "$out" 2> "$err"
  status=$?
  if [ "$status" -ne 1 ] || [ -s "$out" ] || [ -s "$err" ]; then break; fi
done
cat "$out"
cat "$err" >&2
rm -f "$out" "$err"
exit $status
