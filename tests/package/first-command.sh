#!/usr/bin/env bash
# The README's first command, pasted as it stands by root on a bare Debian 12:
# runs it in a fresh copy of a minimal root (debootstrap, minbase) holding the
# committed tree, in a chroot, and compares the script it prints with what the
# given lorvex makes of the example; then runs it again with no network, as
# the tools are present now. The root is made once and kept as a tarball.
# Needs root (chroot, mount) and the Debian mirror (LORVEX_DEBIAN_MIRROR to
# use another); it fails without either.
#
#   first-command.sh <lorvex source dir, a git checkout> <root tarball to keep> <lorvex>
set -euo pipefail

if [[ $(id -u) -ne 0 ]]; then
  command -v sudo > /dev/null || { echo "FAILED: chroot and mount need root, and there is no sudo" >&2; exit 1; }
  echo "not root: running as root through sudo, for chroot and mount"
  exec sudo -n -- bash "$0" "$@"
fi
PATH=$PATH:/usr/sbin:/sbin
source_dir=$(cd "$1" && pwd)
cache=$(realpath -m "$2")
lorvex=$(realpath "$3")
mirror=${LORVEX_DEBIAN_MIRROR:-http://deb.debian.org/debian}
mkdir -p "$(dirname "$cache")"
TMPDIR=$(dirname "$cache") . "$(dirname "$0")/checks.sh"  # the roots beside the tarball, not in /tmp

# Every mount is made in a private mount namespace that ends with the command:
# the host never sees one, even when this script is killed, so removing the
# scratch folder can never reach the host's /proc or /dev.
in_mount_namespace() { unshare --mount --propagation private -- "$@"; }

if [[ ! -f $cache ]]; then
  command -v debootstrap > /dev/null || { fail "debootstrap is missing: tools/install-deps.sh installs it"; exit 1; }
  echo "making a minimal Debian 12 root from $mirror, kept in $cache"
  if ! in_mount_namespace debootstrap --variant=minbase bookworm "$work/base" "$mirror" \
      > "$work/debootstrap.log" 2>&1; then
    tail -n 20 "$work/debootstrap.log" >&2
    fail "debootstrap could not make a Debian 12 root from $mirror (is it reachable?)"
    exit 1
  fi
  rm -f "$work/base/var/cache/apt/archives/"*.deb  # debootstrap's downloads: a bare machine has none
  tar -C "$work/base" --numeric-owner -czf "$work/base.tar.gz" .
  mv "$work/base.tar.gz" "$cache"
  rm -rf "$work/base"
fi

root=$work/root
mkdir "$root"
tar -C "$root" --numeric-owner -xzf "$cache"
cp -L /etc/resolv.conf "$root/etc/resolv.conf"
mkdir "$root/root/lorvex"
git -c safe.directory="$source_dir" -C "$source_dir" archive HEAD | tar -C "$root/root/lorvex" -x ||
  { fail "no committed tree to copy from $source_dir"; exit 1; }

command=$(awk '/^```sh$/ { inside = 1; next } inside && /^```$/ { exit } inside' "$root/root/lorvex/README.md")
[[ -n $command && $command != *$'\n'* ]] ||
  { fail "README.md's first sh block is not one command line: $command"; exit 1; }
echo "the README's first command: $command"

run_in_root() {  # output: runs the command as root in the root, from the tree's top
  in_mount_namespace bash -c '
    mount --bind /proc "$1/proc" && mount --bind /dev "$1/dev" || exit 1
    chroot "$1" /usr/bin/env -i -C /root/lorvex HOME=/root \
      PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin /bin/bash -c "$2"
    status=$?
    umount "$1/dev" "$1/proc"
    exit $status' run_in_root "$root" "$command" > "$work/$1" 2>&1
}

"$lorvex" HELP_TEXT "$root/root/lorvex/examples/help.txt" "$work/expected.rc"
check_printed() {  # what output: the output ends with the example's script
  tail -c "$(stat -c %s "$work/expected.rc")" "$work/$2" > "$work/$2.rc"
  check_same "$1" "$work/expected.rc" "$work/$2.rc"
}

start=$SECONDS
if ! run_in_root first.log; then
  tail -n 30 "$work/first.log" >&2
  if grep -q "Failed to fetch" "$work/first.log"; then fail "apt in the root could not reach the Debian mirror"; fi
  fail "the README's first command failed in a bare Debian 12 root"
  exit 1
fi
check_printed "a bare Debian 12 root: the first command built lorvex and printed the script ($((SECONDS - start)) s)" first.log

: > "$root/etc/resolv.conf"  # no name lookups: with everything present, nothing is fetched
start=$SECONDS
run_in_root again.log || { tail -n 30 "$work/again.log" >&2; fail "the first command failed when run again offline"; }
check_printed "run again with the tools present and no network ($((SECONDS - start)) s)" again.log

finish_checks "bare Debian checks"
