#!/usr/bin/env bash
# Converts generated text files of ordinary lines (1 MiB and 128 MiB by
# default) and compares lorvex's CPU time (user + system, each shown) with
# that of dd copying the same file with no work per byte: `dd bs=128K`, the
# floor for a program that reads every byte into memory and writes it out in
# large blocks, and `dd bs=4K`, which pays a system call for every 4096
# bytes. (cp and cat are no floor: they copy file to file inside the kernel.)
# Also reports lorvex's peak resident memory.
#
#   bench/run.sh [path/to/lorvex [path/to/baseline/lorvex]]
#
# A baseline, such as the build of an earlier commit, is measured in the same
# turns and reported on a line of its own, so that a change is compared with
# what came before under the same conditions.
# Environment: SIZES_MIB (default "1 128"), RUNS per command (default 9),
# BENCH_DIR for the data (default: a temporary directory under TMPDIR, on disk
# like a build tree; removed afterwards). The commands take turns, each after
# a sync so that none pays for another's writeback, and each keeps its best
# run (least CPU time), whose user and system times are shown.
# Targets, for inputs of 64 MiB and more: CPU time at most MAX_RATIO
# (default 1.5) times that of `dd bs=128K` and at most that of `dd bs=4K`;
# and for every input, peak memory under 4 MiB. Exits 1 when one is missed.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
tool_path=${1:-$here/../build/default/lorvex}
baseline=${2:-}
sizes=${SIZES_MIB:-1 128}
runs=${RUNS:-9}
max_ratio=${MAX_RATIO:-1.5}
max_rss_kib=4096

if [[ ! -x $tool_path ]]; then
  echo "no lorvex executable at $tool_path; build it first (see README.md)" >&2
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
# (user + system), user and system seconds, and peak KiB. The file is
# removed beforehand so that no command pays for emptying the last run's
# output.
measure_once() {
  local user sys rss
  rm -f "$1"
  shift
  sync
  read -r user sys rss < <({ "$cpu_time" "$@" > /dev/null; } 2>&1 | tail -n 1)
  awk -v u="$user" -v s="$sys" -v r="$rss" 'BEGIN { printf "%.4f %.4f %.4f %d\n", u + s, u, s, r }'
}

# The better of two "cpu user system peak" records: the lesser CPU time,
# with the greater peak of the two.
better() {
  awk -v a="$1" -v b="$2" 'BEGIN {
    if (b == "") { print a; exit }
    split(a, x, " "); split(b, y, " ")
    best = x[1] < y[1] ? a : b; split(best, z, " ")
    printf "%s %s %s %d\n", z[1], z[2], z[3], (x[4] > y[4] ? x[4] : y[4])
  }'
}

# a / b as a ratio, or n/a.
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%.2fx", a / b; else print "n/a" }'; }

# Whether CPU time a is more than factor times b.
exceeds() { awk -v a="$1" -v b="$2" -v f="$3" 'BEGIN { exit !(b > 0 && a > f * b) }'; }

# One line of the table: a name, a record, and the two ratios if any.
print_row() {
  local cpu user sys rss
  read -r cpu user sys rss <<< "$2"
  printf '%-8s %-10s %8ss %8ss %8ss %11s %9s %8s KiB\n' "" "$1" "$cpu" "$user" "$sys" \
    "${3:-}" "${4:-}" "$rss"
}

status=0
for mib in $sizes; do
  text=$work/text-${mib}MiB.txt
  generate "$mib" "$text"
  tool="" base="" dd_large="" dd_small=""
  for ((i = 0; i < runs; i++)); do
    tool=$(better "$(measure_once "$work/out.rc" "$tool_path" BENCH_TEXT "$text" "$work/out.rc")" "$tool")
    if [[ -n $baseline ]]; then
      base=$(better "$(measure_once "$work/out.rc" "$baseline" BENCH_TEXT "$text" "$work/out.rc")" "$base")
    fi
    dd_large=$(better "$(measure_once "$work/copy.txt" dd if="$text" of="$work/copy.txt" bs=128K status=none)" "$dd_large")
    dd_small=$(better "$(measure_once "$work/copy.txt" dd if="$text" of="$work/copy.txt" bs=4K status=none)" "$dd_small")
  done
  read -r large_cpu _ <<< "$dd_large"
  read -r small_cpu _ <<< "$dd_small"
  printf '%-8s %-10s %9s %9s %9s %11s %9s %12s\n' "${mib} MiB" "" "cpu" "user" "system" \
    "vs dd 128K" "vs dd 4K" "peak"
  read -r tool_cpu _ _ tool_rss <<< "$tool"
  large_ratio=$(ratio "$tool_cpu" "$large_cpu")
  small_ratio=$(ratio "$tool_cpu" "$small_cpu")
  print_row lorvex "$tool" "$large_ratio" "$small_ratio"
  if [[ -n $baseline ]]; then
    read -r base_cpu _ <<< "$base"
    print_row baseline "$base" "$(ratio "$base_cpu" "$large_cpu")" "$(ratio "$base_cpu" "$small_cpu")"
  fi
  print_row "dd bs=128K" "$dd_large"
  print_row "dd bs=4K" "$dd_small"
  if ((tool_rss >= max_rss_kib)); then
    echo "  peak memory ${tool_rss} KiB is not under ${max_rss_kib} KiB" >&2
    status=1
  fi
  # Below about 50 ms the clock's granularity decides the ratio; only large inputs count.
  if ((mib >= 64)); then
    if exceeds "$tool_cpu" "$large_cpu" "$max_ratio"; then
      echo "  CPU time is more than ${max_ratio}x that of dd bs=128K" >&2
      status=1
    fi
    if exceeds "$tool_cpu" "$small_cpu" 1; then
      echo "  CPU time is more than that of dd bs=4K" >&2
      status=1
    fi
  fi
done
rm -f "$work/out.rc" "$work/copy.txt"
exit $status
