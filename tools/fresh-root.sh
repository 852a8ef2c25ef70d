#!/usr/bin/env bash
# Runs one command in this checkout's commit inside a new, minimal Debian 12 root: the README's commands tried as on a fresh machine.
#
# Usage (as root): tools/fresh-root.sh COMMAND [ARGUMENT...]
#   e.g. tools/fresh-root.sh tools/run.sh --headless --moves 1000
#        tools/fresh-root.sh tools/test.sh
# The root is made with `mmdebstrap --variant=minbase bookworm` from the Debian mirrors this machine's
# apt uses, the commit checked out here (HEAD; uncommitted changes are left out) is copied to /src in
# it, and COMMAND runs there under chroot with /proc, /sys and /dev bound in, no stdin and a clean
# environment. The root is deleted afterwards, whatever happened.
#
# The untouched base root is kept as a tarball in BRAKKENFEL_ROOT_CACHE (default
# /var/cache/brakkenfel-ci) and made again after a week or when the mirrors change; nothing the
# command installs is kept. BRAKKENFEL_ROOT_TIMEOUT (seconds, default 1800) bounds the command.
# Files cross the root's wall only by copy: BRAKKENFEL_ROOT_IN=DIR is copied to /in in the root
# before the command, and /out in the root to BRAKKENFEL_ROOT_OUT=DIR after it, whatever its status.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
[ $# -ge 1 ] || { sed -n '4,6p' "$0" >&2; exit 2; }
[ "$(id -u)" -eq 0 ] || { echo "fresh-root: needs root (it mounts and chroots)" >&2; exit 2; }

cache=${BRAKKENFEL_ROOT_CACHE:-/var/cache/brakkenfel-ci}
deadline=${BRAKKENFEL_ROOT_TIMEOUT:-1800}

# shellcheck source=tools/debian-sources.sh
. "$root/tools/debian-sources.sh"
debian_mirrors fresh-root

# The base root, made once a week or when the mirrors change.
mkdir -p "$cache"
key=$(printf '%s\n' "$sources" "${https[@]}" | sha256sum | cut -c1-16)
base=$cache/bookworm-minbase-$key.tar
if [ -z "$(find "$base" -mtime -7 2>/dev/null)" ]; then
  echo "fresh-root: making the base root from:"; sed 's/^/  /' <<<"$sources"
  started=$SECONDS
  rm -f "$cache"/bookworm-minbase-*.tar
  part=$base.$$.part
  timeout 900 mmdebstrap --quiet --variant=minbase --format=tar "${https[@]}" bookworm "$part" - <<<"$sources" ||
    { rm -f "$part"; exit 1; }
  mv "$part" "$base"
  echo "fresh-root: base root made in $((SECONDS - started)) s"
fi

work=$(realpath "$(mktemp -d /var/tmp/brakkenfel-root.XXXXXX)")

# Whatever way the script ends: stop what still runs in the root, unbind, and delete the root only
# when nothing is mounted in it any more.
cleanup() {
  local status=$? proc mount left
  trap - EXIT INT TERM
  set +e
  [ -n "${child:-}" ] && kill -TERM "$child" 2>/dev/null
  for proc in /proc/[0-9]*; do
    [ "$(readlink "$proc/root" 2>/dev/null)" = "$work" ] && kill -KILL "${proc#/proc/}" 2>/dev/null
  done
  for mount in dev sys proc; do
    if mountpoint -q "$work/$mount"; then
      umount -R "$work/$mount" 2>/dev/null || umount -R -l "$work/$mount"
    fi
  done
  left=$(awk -v w="$work/" 'index($2, w) == 1' /proc/mounts)
  if [ -n "$left" ]; then
    echo "fresh-root: still mounted, $work left in place:" >&2; echo "$left" >&2
    status=1
  else
    rm -rf --one-file-system "$work"
  fi
  exit "$status"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

tar --numeric-owner -xpf "$base" -C "$work"
chmod 755 "$work"
mkdir "$work/src"
git -C "$root" archive HEAD | tar -x -C "$work/src"
[ -z "$(git -C "$root" status --porcelain)" ] || echo "fresh-root: note: uncommitted changes are not in the root"
echo "fresh-root: commit $(git -C "$root" rev-parse --short HEAD) in $work/src"
if [ -n "${BRAKKENFEL_ROOT_IN:-}" ]; then
  mkdir "$work/in"
  cp -a "$BRAKKENFEL_ROOT_IN/." "$work/in/"
fi
mkdir -p "$work/out"
# mmdebstrap leaves no resolver set-up behind; a machine would have one.
rm -f "$work/etc/resolv.conf"
cp -L /etc/resolv.conf "$work/etc/resolv.conf"
# Services that packages start would outlive the command in a root that has no init to stop them.
printf '#!/bin/sh\nexit 101\n' >"$work/usr/sbin/policy-rc.d"
chmod 755 "$work/usr/sbin/policy-rc.d"

mount -t proc proc "$work/proc"
for mount in sys dev; do
  mount --rbind "/$mount" "$work/$mount"
  mount --make-rslave "$work/$mount"
done

pass=()
for name in CI http_proxy https_proxy no_proxy; do
  [ -n "${!name:-}" ] && pass+=("$name=${!name}")
done
echo "fresh-root: running $*"
started=$SECONDS
status=0
# In the background, so that a signal to this script is handled at once and not after the command.
timeout --kill-after=30 "$deadline" chroot "$work" /usr/bin/env -i \
  PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin HOME=/root "${pass[@]}" \
  /bin/bash -c 'cd /src && exec "$@"' fresh-root "$@" </dev/null &
child=$!
wait "$child" || status=$?
child=
echo "fresh-root: '$*' ended with status $status after $((SECONDS - started)) s"
if [ -n "${BRAKKENFEL_ROOT_OUT:-}" ]; then
  mkdir -p "$BRAKKENFEL_ROOT_OUT"
  cp -a "$work/out/." "$BRAKKENFEL_ROOT_OUT/"
fi
exit "$status"
