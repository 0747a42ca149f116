#!/usr/bin/env bash
# Two clones of the same commit, in different folders, with the same
# SOURCE_DATE_EPOCH, must make byte-identical packages.
#
#   reproducible.sh <lorvex source dir, a git checkout>
set -euo pipefail

source_dir=$(cd "$1" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export SOURCE_DATE_EPOCH=$(git -C "$source_dir" log -1 --format=%ct)
for clone in first "second clone"; do
  git clone --quiet "$source_dir" "$work/$clone"
  (cd "$work/$clone" && cmake --workflow --preset package > "$work/$clone.log" 2>&1) ||
    { cat "$work/$clone.log" >&2; exit 1; }
done
status=0
for package in "$work/first/build/package/"*.{deb,zip}; do
  name=$(basename "$package")
  if cmp "$package" "$work/second clone/build/package/$name"; then
    echo "ok: $name is the same from both clones ($(sha256sum < "$package" | cut -c1-16))"
  else
    echo "FAILED: $name differs between the clones" >&2
    status=1
  fi
done
exit $status
