#!/usr/bin/env bash
# Converts generated text files of ordinary lines (1 MiB and 128 MiB by
# default) and compares lorvex's CPU time (user + system) with that of
# `dd bs=4K` copying the same file: the same 4096-byte reads and writes with
# no work per byte. Also reports lorvex's peak resident memory.
#
#   bench/run.sh [path/to/lorvex [path/to/baseline/lorvex]]
#
# A baseline, such as the build of an earlier commit, is measured in the same
# turns and reported on a line of its own, so that a change is compared with
# what came before under the same conditions.
# Environment: SIZES_MIB (default "1 128"), RUNS per command (default 9),
# BENCH_DIR for the data (default: a temporary directory under TMPDIR, on disk
# like a build tree; removed afterwards). The two commands take turns, each
# after a sync so that neither pays for the other's writeback, and each keeps
# its best run.
# Targets: CPU time at most MAX_RATIO (default 1.5) times dd's, peak memory
# under 4 MiB. Exits 1 when a target is missed.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
tool=${1:-$here/../build/default/lorvex}
baseline=${2:-}
sizes=${SIZES_MIB:-1 128}
runs=${RUNS:-9}
max_ratio=${MAX_RATIO:-1.5}
max_rss_kib=4096

if [[ ! -x $tool ]]; then
  echo "no lorvex executable at $tool; build it first (see README.md)" >&2
  exit 2
fi
cxx=${CXX:-c++}
if ! command -v "$cxx" > /dev/null; then
  echo "a C++ compiler is needed to build the timing helper (set CXX)" >&2
  exit 2
fi

if [[ -n ${BENCH_DIR:-} ]]; then
  work=$BENCH_DIR
  mkdir -p "$work"
else
  work=$(mktemp -d)
  trap 'rm -rf "$work"' EXIT
fi

# The timing helper reports CPU time to the microsecond; /usr/bin/time
# rounds it to hundredths, too coarse for a ratio near its target.
cpu_time=$work/cpu_time
"$cxx" -O2 -o "$cpu_time" "$here/cpu_time.cpp"

# Lines of 4 to 18 common words, a few with quotes or a backslash path, as
# in a help text. Deterministic: the same seed gives the same file.
generate() {
  local mib=$1 file=$2
  [[ -s $file ]] && return
  awk -v target=$((mib * 1024 * 1024)) 'BEGIN {
    srand(7)
    n = split("the of and to in a is that for it as was with be by on not he this are " \
              "or his from at which but have an they you were her she there been one all " \
              "we their has would when if so no will more can may into than out them only " \
              "other its some what time these two any first new like made also after over " \
              "my our well did just very Press Enter to continue", word, " ")
    size = 0
    while (size < target) {
      count = 4 + int(rand() * 15)
      line = word[int(rand() * n) + 1]
      for (i = 1; i < count; i++) line = line " " word[int(rand() * n) + 1]
      if (rand() < 0.1) line = line " \"quoted\""
      if (rand() < 0.05) line = line " C:\\help\\file.txt"
      line = line "."
      if (size + length(line) + 1 > target) line = substr(line, 1, target - size - 1)
      print line
      size += length(line) + 1
    }
  }' > "$file"
}

# Runs a command that writes the file named first; prints its CPU seconds
# (user + system) and peak KiB. The file is removed beforehand so that
# neither command pays for emptying the last run's output.
measure_once() {
  local user sys rss
  rm -f "$1"
  shift
  sync
  read -r user sys rss < <({ "$cpu_time" "$@" > /dev/null; } 2>&1 | tail -n 1)
  awk -v u="$user" -v s="$sys" -v r="$rss" 'BEGIN { printf "%.4f %d\n", u + s, r }'
}

# Keeps the lesser of two CPU figures.
least() { awk -v a="$1" -v b="$2" 'BEGIN { print (b == "" || a < b) ? a : b }'; }

status=0
printf '%-8s %12s %12s %8s %14s\n' "input" "lorvex cpu" "dd cpu" "ratio" "lorvex peak"
for mib in $sizes; do
  text=$work/text-${mib}MiB.txt
  generate "$mib" "$text"
  tool_cpu="" dd_cpu="" tool_rss=0 base_cpu="" base_rss=0
  for ((i = 0; i < runs; i++)); do
    read -r cpu rss < <(measure_once "$work/out.rc" "$tool" BENCH_TEXT "$text" "$work/out.rc")
    tool_cpu=$(least "$cpu" "$tool_cpu")
    ((rss > tool_rss)) && tool_rss=$rss
    if [[ -n $baseline ]]; then
      read -r cpu rss < <(measure_once "$work/out.rc" "$baseline" BENCH_TEXT "$text" "$work/out.rc")
      base_cpu=$(least "$cpu" "$base_cpu")
      ((rss > base_rss)) && base_rss=$rss
    fi
    read -r cpu _ < <(measure_once "$work/copy.txt" dd if="$text" of="$work/copy.txt" bs=4K status=none)
    dd_cpu=$(least "$cpu" "$dd_cpu")
  done
  ratio=$(awk -v a="$tool_cpu" -v b="$dd_cpu" 'BEGIN { if (b > 0) printf "%.3fx", a / b; else print "n/a" }')
  printf '%-8s %11ss %11ss %8s %11s KiB\n' "${mib} MiB" "$tool_cpu" "$dd_cpu" "$ratio" "$tool_rss"
  if [[ -n $baseline ]]; then
    base_ratio=$(awk -v a="$base_cpu" -v b="$dd_cpu" 'BEGIN { if (b > 0) printf "%.3fx", a / b; else print "n/a" }')
    printf '%-8s %11ss %12s %8s %11s KiB  (baseline)\n' "" "$base_cpu" "" "$base_ratio" "$base_rss"
  fi
  if ((tool_rss >= max_rss_kib)); then
    echo "  peak memory ${tool_rss} KiB is not under ${max_rss_kib} KiB" >&2
    status=1
  fi
  # Below about 50 ms the clock's granularity decides the ratio; only large inputs count.
  if ((mib >= 64)) && [[ $ratio != n/a ]] &&
     awk -v r="${ratio%x}" -v m="$max_ratio" 'BEGIN { exit !(r > m) }'; then
    echo "  CPU time is more than ${max_ratio}x that of dd" >&2
    status=1
  fi
done
rm -f "$work/out.rc" "$work/copy.txt"
exit $status
