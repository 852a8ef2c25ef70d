#!/usr/bin/env bash
# Installs the built .deb with apt, uses it as a person would, removes it and checks that nothing of it is left.
# Usage (as root, on a machine to spare, e.g. under tools/fresh-root.sh): tools/check-deb.sh PACKAGE.deb
# The program runs as the user nobody with the PATH a Debian login gives plain users (it holds /usr/games).
set -euo pipefail
deb=$(realpath "${1:?usage: tools/check-deb.sh PACKAGE.deb}")
[ "$(id -u)" -eq 0 ] || { echo "check-deb: needs root (it installs and removes the package)" >&2; exit 2; }
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
# man-db to look the page up: the package itself does not need it.
apt-get install -y -qq --no-install-recommends man-db "$deb"

user_path=/usr/local/bin:/usr/bin:/bin:/usr/local/games:/usr/games
as_user() {
  (cd "$scratch" && setpriv --reuid=nobody --regid=nogroup --clear-groups \
    env -i PATH="$user_path" HOME="$scratch" "$@")
}
scratch=$(mktemp -d)
chown nobody:nogroup "$scratch"
trap 'rm -rf "$scratch"' EXIT

echo "check-deb: brakkenfel --headless --moves 1000"
as_user brakkenfel --headless --moves 1000 --result result.json
grep -q '"moves": *1000' "$scratch/result.json" || { echo "check-deb: the result does not say 1000 moves" >&2; exit 1; }
echo "check-deb: man -w brakkenfel: $(as_user man -w brakkenfel)"
as_user man -w brakkenfel-tournament >/dev/null
echo "check-deb: a two-contestant tournament"
printf 'gunner ai\nidle human\n' >"$scratch/contestants.txt"
as_user brakkenfel-tournament contestants.txt --moves 200 --move-budget 0 --jobs 1 --out league
[ -s "$scratch/league/league.csv" ] || { echo "check-deb: the tournament wrote no table" >&2; exit 1; }

mapfile -t files < <(dpkg -L brakkenfel)
apt-get purge -y -qq brakkenfel
left=()
for path in "${files[@]}"; do
  # Folders shared with other packages (/usr, /usr/share/man/man6) rightly stay; ours must go.
  if [ -d "$path" ] && [ ! -L "$path" ]; then
    case "$path" in */brakkenfel | */brakkenfel/*) ;; *) continue ;; esac
  fi
  if [ -e "$path" ] || [ -L "$path" ]; then left+=("$path"); fi
done
if [ ${#left[@]} -gt 0 ]; then
  echo "check-deb: left behind after purge:" >&2
  printf '  %s\n' "${left[@]}" >&2
  exit 1
fi
echo "check-deb: installed, used and removed ${#files[@]} paths without a trace"
