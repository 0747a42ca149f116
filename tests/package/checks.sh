# Shared by the package test scripts: a scratch folder removed at the end,
# and checks that report and count their failures. Source it, then call
# finish_checks last.
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0

fail() {
  echo "FAILED: $*" >&2
  failures=$((failures + 1))
}

check_same() {  # what expected actual
  if cmp -s "$2" "$3"; then echo "ok: $1"; else fail "$1 ($3 differs from $2)"; fi
}

quietly() {  # runs a command, showing its output only when it fails
  if ! "$@" > "$work/step.log" 2>&1; then cat "$work/step.log" >&2; return 1; fi
}

# under_wine OUTPUT PROGRAM [ARGUMENTS...]: runs a Windows program with its
# standard output in OUTPUT. Now and then Wine fails to start a program and
# ends with status 1 without output: such a start is tried once more.
under_wine() {
  local output=$1 status=0
  shift
  WINEDEBUG=-all wine "$@" < /dev/null > "$output" 2> /dev/null || status=$?
  if [[ $status -eq 1 && ! -s $output ]]; then
    status=0
    WINEDEBUG=-all wine "$@" < /dev/null > "$output" 2> /dev/null || status=$?
  fi
  ((status == 0)) || echo "FAILED: wine $* ended with status $status" >&2
  return "$status"
}

finish_checks() {
  if ((failures > 0)); then
    echo "$failures failed"
    exit 1
  fi
  echo "all $1 passed"
}
