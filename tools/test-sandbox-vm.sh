#!/usr/bin/env bash
# Runs the sandbox's end-to-end tests on a stock Debian 12 machine (cgroup v2, systemd, logind), as root and as a plain user in the sessions users have.
#
# Usage (as root): tools/test-sandbox-vm.sh
#   Builds the arena into build-vm/ (or BUILD_DIR), boots the machine of tools/vm-root.sh with it and
#   runs tests/e2e/test_sandbox.py there once per way a person starts the arena:
#     service           root, in a system service (as CI and tournament boxes run it)
#     root-login        root, in a login session
#     tester-login      the plain user `tester`, in a login session (session-N.scope)
#     tester-scope      `tester` under `systemd-run --user --scope` (no cpu controller there)
#     tester-delegated  `tester` under `systemd-run --user --scope -p Delegate=yes`
#   Each run's log is kept in build-vm/sandbox-vm/ and its sandbox lines are printed. Fails when
#   any run fails or did not run.
# tools/test-sandbox-vm.sh --inside PROGRAM [WAY...] is what runs inside the machine.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
ways=(service root-login tester-login tester-scope tester-delegated)

if [ "${1:-}" = --inside ]; then
  program=$2
  shift 2
  [ $# -eq 0 ] || ways=("$@")
  echo "sandbox tests on $(. /etc/os-release && echo "$PRETTY_NAME"), kernel $(uname -r)"
  failed=0
  for way in "${ways[@]}"; do
    case "$way" in
      service) run=() ;;
      root-login) run=(vm-session login root) ;;
      tester-login) run=(vm-session login tester) ;;
      tester-scope) run=(vm-session scope tester) ;;
      tester-delegated) run=(vm-session delegated tester) ;;
      *) echo "unknown way $way" >&2; exit 2 ;;
    esac
    log=/out/$way.log
    started=$SECONDS
    status=0
    "${run[@]}" python3 tests/e2e/test_sandbox.py "$program" >"$log" 2>&1 || status=$?
    result=passed
    [ "$status" -eq 0 ] || { result="FAILED (status $status)"; failed=1; }
    printf '== %-17s %4d s  %s\n' "$way" $((SECONDS - started)) "$result"
    # The tests' own report of which protections held, and on failure the failing cases.
    grep -oE 'as uid [0-9]+: .*' "$log" | sed 's/^/   /' || echo "   (no sandbox line)"
    [ "$status" -eq 0 ] || grep -E '^(FAIL|ERROR|AssertionError|Ran |FAILED|OK)' "$log" | sed 's/^/   /'
  done
  exit "$failed"
fi

build=${BUILD_DIR:-$root/build-vm}
"$root/tools/install-deps.sh"
# Only the program and the C++ contestant: a new folder without the tests, an existing one (CI's
# build/) as it was configured.
options=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DBRAKKENFEL_WERROR=ON)
[ -f "$build/CMakeCache.txt" ] || options+=(-DBRAKKENFEL_TESTS=OFF -DBRAKKENFEL_BENCH=OFF)
cmake -S "$root" -B "$build" "${options[@]}" >/dev/null
cmake --build "$build" -j"$(nproc)" --target brakkenfel brakkenfel_example_aimer
stage=$(mktemp -d /var/tmp/brakkenfel-sandbox-vm.XXXXXX)
trap 'rm -rf "$stage"' EXIT
mkdir -p "$stage/build/examples"
cp "$build/brakkenfel" "$build/cannon.bmp" "$stage/build/"
cp "$build/examples/aimer" "$stage/build/examples/aimer"
rm -rf "$build/sandbox-vm"
BRAKKENFEL_ROOT_IN=$stage BRAKKENFEL_ROOT_OUT=$build/sandbox-vm \
  "$root/tools/vm-root.sh" tools/test-sandbox-vm.sh --inside /in/build/brakkenfel "${ways[@]}"
