#!/usr/bin/env bash
# Runs one command in this checkout's commit inside a virtual machine of stock Debian 12: systemd, logind, cgroup v2, its own kernel.
#
# Usage (as root): tools/vm-root.sh COMMAND [ARGUMENT...]
#   e.g. tools/vm-root.sh cat /proc/self/cgroup
#        tools/vm-root.sh vm-session delegated tester cat /proc/self/cgroup
# The machine is made with mmdebstrap from the Debian mirrors this machine's apt uses (Debian's
# kernel, systemd as init, logind through libpam-systemd, the user bus), with a plain user `tester`
# whose user manager lingers, and booted with qemu-system-x86_64: KVM when /dev/kvm is usable, TCG
# otherwise (BRAKKENFEL_VM_ACCEL=kvm or tcg forces one). The commit checked out here (HEAD;
# uncommitted changes are left out) is in /src, BRAKKENFEL_ROOT_IN=DIR is copied to /in, and what
# the command leaves in /out is copied to BRAKKENFEL_ROOT_OUT=DIR afterwards, whatever its status.
# COMMAND runs as root from a system service, in /src, with no network and no stdin; its output
# comes out on the machine's serial console. The machine then powers off; its root disk is used as
# a snapshot, so nothing the command does is kept.
#
# Inside, `vm-session MODE USER COMMAND...` runs COMMAND in the current folder as USER:
#   login      in a PAM login session (runuser -l: session-N.scope through pam_systemd)
#   scope      in that session, under `systemd-run --user --scope` in USER's own manager
#   delegated  the same with Delegate=yes: USER owns the scope's cgroup and may make children in it
#
# The machine's disk image, kernel and initrd are kept in BRAKKENFEL_ROOT_CACHE (default
# /var/cache/brakkenfel-ci) and made again after a week or when the mirrors or the recipe below
# change. BRAKKENFEL_ROOT_TIMEOUT (seconds, default 1800) bounds the machine from start to power-off;
# BRAKKENFEL_VM_MEMORY (MiB, default 6144, touched only as used) and BRAKKENFEL_VM_CPUS (default 2)
# size it.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
[ $# -ge 1 ] || { sed -n '4,6p' "$0" >&2; exit 2; }
[ "$(id -u)" -eq 0 ] || { echo "vm-root: needs root (mmdebstrap makes the machine's files as root)" >&2; exit 2; }

cache=${BRAKKENFEL_ROOT_CACHE:-/var/cache/brakkenfel-ci}
deadline=${BRAKKENFEL_ROOT_TIMEOUT:-1800}
memory=${BRAKKENFEL_VM_MEMORY:-6144}
cpus=${BRAKKENFEL_VM_CPUS:-2}

needed=()
command -v qemu-system-x86_64 >/dev/null || needed+=(qemu-system-x86)
command -v mkfs.ext4 >/dev/null && command -v debugfs >/dev/null || needed+=(e2fsprogs)
if [ ${#needed[@]} -gt 0 ]; then
  echo "vm-root: installing ${needed[*]}"
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${needed[@]}" >/dev/null
fi
# shellcheck source=tools/debian-sources.sh
. "$root/tools/debian-sources.sh"
debian_mirrors vm-root

# What a stock Debian 12 machine has for logging in and for sessions (libpam-systemd recommends the
# user bus, which `systemd-run --user` needs), and what the arena and the tests' contestants run on.
packages=(
  linux-image-amd64 systemd-sysv libpam-systemd dbus dbus-user-session udev kmod procps
  python3 libsdl2-2.0-0 libsdl2-ttf-2.0-0 libfontconfig1 fonts-dejavu-core
  nodejs default-jre-headless
)

# Run as root at boot by brakkenfel-vm.service, which powers off after it: the host's disk (labelled
# brakkenfel-io) holds `command`, src/, in/ and out/; the command's status is left in it for the host.
guest_run() {
  cat <<'EOF'
#!/bin/bash
# Runs the host's command from its disk and leaves the status beside it.
set -u
mkdir -p /io
mount LABEL=brakkenfel-io /io || { echo "vm-root: the host's disk is missing" >&2; exit 1; }
ln -sfn /io/src /src
ln -sfn /io/in /in
ln -sfn /io/out /out
tester=$(id -u tester)
# The lingering user's manager is started by logind at boot, not ordered before this service.
for _ in $(seq 60); do
  systemctl -q is-active "user@$tester.service" && break
  sleep 1
done
systemctl -q is-active "user@$tester.service" || echo "vm-root: user@$tester.service is not running" >&2
cd /io/src
status=0
HOME=/root LANG=C.UTF-8 /bin/bash /io/command </dev/null || status=$?
echo "$status" >/io/status
sync
cd /
umount /io
EOF
}

# `vm-session MODE USER COMMAND...` inside the machine: see this script's header.
guest_session() {
  cat <<'EOF'
#!/bin/bash
# Runs a command as a user in a PAM login session, optionally in a (delegated) scope of the user's own manager.
set -euo pipefail
[ $# -ge 3 ] || { echo "usage: vm-session login|scope|delegated USER COMMAND..." >&2; exit 2; }
mode=$1 user=$2
shift 2
case "$mode" in
  login) run=() ;;
  scope) run=(systemd-run --user --scope --quiet --) ;;
  delegated) run=(systemd-run --user --scope --quiet -p Delegate=yes --) ;;
  *) echo "vm-session: unknown mode $mode" >&2; exit 2 ;;
esac
exec runuser -l "$user" -c "cd $(printf %q "$PWD") && exec $(printf '%q ' "${run[@]}" "$@")"
EOF
}

guest_unit() {
  cat <<'EOF'
[Unit]
Description=The host's command, then power-off
After=multi-user.target

[Service]
Type=oneshot
ExecStart=/usr/local/sbin/brakkenfel-vm-run
# Straight to the serial console, which the host shows as it comes.
StandardOutput=tty
StandardError=tty
TTYPath=/dev/ttyS0
# Powers off whatever the runner did.
ExecStopPost=/usr/bin/systemctl poweroff --no-block

[Install]
WantedBy=multi-user.target
EOF
}

# The machine's files, as one ext4 image beside its kernel and initrd, in the folder $1.
make_machine() {
  local made=$1 tree=$1/tree size
  mkdir -p "$tree"
  timeout 1800 mmdebstrap --quiet --variant=minbase --format=directory "${https[@]}" \
    --include="$(IFS=,; echo "${packages[*]}")" \
    --customize-hook='chroot "$1" useradd --create-home --shell /bin/bash tester' \
    --customize-hook='mkdir -p "$1/var/lib/systemd/linger" && touch "$1/var/lib/systemd/linger/tester"' \
    --customize-hook='echo brakkenfel-vm >"$1/etc/hostname" && echo "127.0.1.1 brakkenfel-vm" >>"$1/etc/hosts"' \
    --customize-hook='ln -sf /dev/null "$1/etc/systemd/system/serial-getty@ttyS0.service"' \
    bookworm "$tree" - <<<"$sources"
  # One identity for every boot: a first boot would ask questions on the console.
  tr -d - </proc/sys/kernel/random/uuid >"$tree/etc/machine-id"
  guest_run >"$tree/usr/local/sbin/brakkenfel-vm-run"
  guest_session >"$tree/usr/local/bin/vm-session"
  chmod 755 "$tree/usr/local/sbin/brakkenfel-vm-run" "$tree/usr/local/bin/vm-session"
  guest_unit >"$tree/etc/systemd/system/brakkenfel-vm.service"
  ln -s ../brakkenfel-vm.service "$tree/etc/systemd/system/multi-user.target.wants/brakkenfel-vm.service"
  cp "$tree"/boot/vmlinuz-* "$made/vmlinuz"
  cp "$tree"/boot/initrd.img-* "$made/initrd.img"
  size=$(du -sm --one-file-system "$tree" | cut -f1)
  mkfs.ext4 -q -F -L brakkenfel-root -d "$tree" "$made/root.ext4" "$((size * 3 / 2 + 1024))M" >/dev/null
  rm -rf --one-file-system "$tree"
}

# Whatever way the script ends: stop the machine (or mmdebstrap), delete what this run made.
work=$(realpath "$(mktemp -d /var/tmp/brakkenfel-vm.XXXXXX)")
cleanup() {
  local status=$?
  trap - EXIT INT TERM
  set +e
  [ -n "${child:-}" ] && kill -TERM "$child" 2>/dev/null && wait "$child"
  [ -n "${part:-}" ] && rm -rf --one-file-system "$part"
  rm -rf --one-file-system "$work"
  exit "$status"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

# The machine, made once a week or when the mirrors or its recipe change.
mkdir -p "$cache"
key=$(printf '%s\n' "$sources" "${https[@]}" "${packages[@]}" "$(declare -f make_machine guest_run guest_session guest_unit)" |
  sha256sum | cut -c1-16)
machine=$cache/bookworm-vm-$key
if [ -z "$(find "$machine/root.ext4" -mtime -7 2>/dev/null)" ]; then
  echo "vm-root: making the machine from:"; sed 's/^/  /' <<<"$sources"
  started=$SECONDS
  rm -rf --one-file-system "$cache"/bookworm-vm-*
  part=$machine.$$.part
  # In the background, so that a signal to this script is handled at once.
  make_machine "$part" &
  child=$!
  wait "$child"
  child=
  # Another run may have made the same machine meanwhile; either one will do.
  mv -T "$part" "$machine" 2>/dev/null || rm -rf --one-file-system "$part"
  part=
  echo "vm-root: machine made in $((SECONDS - started)) s ($(du -sm "$machine" | cut -f1) MB)"
fi

# The host's disk: the commit, the input, the command, and room for the output.
io=$work/io
mkdir -p "$io/src" "$io/in" "$io/out"
git -C "$root" archive HEAD | tar -x -C "$io/src"
[ -z "$(git -C "$root" status --porcelain)" ] || echo "vm-root: note: uncommitted changes are not in the machine"
echo "vm-root: commit $(git -C "$root" rev-parse --short HEAD) in /src"
[ -n "${BRAKKENFEL_ROOT_IN:-}" ] && cp -a "$BRAKKENFEL_ROOT_IN/." "$io/in/"
chmod -R a+rX "$io"
chmod 1777 "$io/out"
printf 'exec' >"$io/command"
printf ' %q' "$@" >>"$io/command"
echo >>"$io/command"
mkfs.ext4 -q -F -L brakkenfel-io -d "$io" "$work/io.ext4" "$(($(du -sm "$io" | cut -f1) + 1024))M" >/dev/null
rm -rf "$io"

# KVM runs a stock kernel only on a CPU with virtualisation extensions: a /dev/kvm without them
# (a paravirtual one, as nested in some clouds) hangs the kernel at its first instructions.
accel=${BRAKKENFEL_VM_ACCEL:-}
if [ -z "$accel" ]; then
  accel=tcg
  if [ ! -w /dev/kvm ]; then
    echo "vm-root: no usable /dev/kvm: TCG, several times slower"
  elif ! grep -qwE 'vmx|svm' /proc/cpuinfo; then
    echo "vm-root: /dev/kvm is there but the CPU offers no vmx or svm (a paravirtual KVM): TCG, several times slower"
  else
    accel=kvm
  fi
fi
case "$accel" in
  # Nested under another hypervisor, KVM may refuse the guest the host's arch-capabilities MSR (qemu
  # then aborts); the machine needs none of what it announces.
  kvm) cpu=host,-arch-capabilities ;;
  tcg) cpu=max ;;
  *) echo "vm-root: BRAKKENFEL_VM_ACCEL is kvm or tcg, not $accel" >&2; exit 2 ;;
esac

echo "vm-root: booting ($accel, $cpus CPUs, $memory MiB), running $*"
started=$SECONDS
# In the background, so that a signal to this script is handled at once. The root disk is a
# snapshot (its writes go to a temporary file qemu deletes); a kernel panic ends qemu.
TMPDIR=$work timeout --kill-after=30 "$deadline" qemu-system-x86_64 \
  -machine q35,accel="$accel" -cpu "$cpu" -smp "$cpus" -m "$memory" \
  -nodefaults -no-user-config -display none -no-reboot -nic none \
  -chardev stdio,id=console,signal=off -serial chardev:console \
  -kernel "$machine/vmlinuz" -initrd "$machine/initrd.img" \
  -append "root=LABEL=brakkenfel-root rw console=ttyS0 quiet loglevel=3 panic=-1 systemd.show_status=false systemd.firstboot=off" \
  -drive file="$machine/root.ext4",format=raw,if=virtio,snapshot=on \
  -drive file="$work/io.ext4",format=raw,if=virtio </dev/null &
child=$!
qemu_status=0
wait "$child" || qemu_status=$?
child=
status=$(debugfs -R 'cat /status' "$work/io.ext4" 2>/dev/null | tr -dc 0-9)
if [ -z "$status" ]; then
  echo "vm-root: the machine ended (qemu status $qemu_status) before the command finished" >&2
  status=1
  [ "$qemu_status" -eq 124 ] && status=124
fi
echo "vm-root: '$*' ended with status $status after $((SECONDS - started)) s"
if [ -n "${BRAKKENFEL_ROOT_OUT:-}" ]; then
  mkdir -p "$BRAKKENFEL_ROOT_OUT"
  debugfs -R "rdump /out $work" "$work/io.ext4" >/dev/null 2>&1
  cp -a "$work/out/." "$BRAKKENFEL_ROOT_OUT/"
fi
exit "$status"
