# Sourced by the scripts that make Debian 12 roots: the mirrors this machine's apt uses, one line per suite.
# shellcheck shell=bash disable=SC2034  # sets variables for the script that sources it
#
# debian_mirrors NAME sets `sources` (apt lines for bookworm, -updates and -security, main) and
# `https` (the mmdebstrap option a https mirror needs, or nothing); NAME prefixes its messages.
# mmdebstrap is installed when missing.

debian_mirrors() {
  local name=$1 suites='^(bookworm|bookworm-updates|bookworm-security)$'
  if ! command -v mmdebstrap >/dev/null; then
    echo "$name: installing mmdebstrap"
    apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends mmdebstrap >/dev/null
  fi
  # Whatever the files' format, as apt reads them. Their origin is known only once apt has fetched
  # the lists, so a machine without them updates first.
  _debian_sources() {
    apt-get indextargets --format '$(ORIGIN) $(TARGET_OF) $(REPO_URI) $(RELEASE)' 'Identifier: Packages' |
      awk -v suites="$suites" '$1 == "Debian" && $2 == "deb" && $4 ~ suites { print "deb " $3 " " $4 " main" }' |
      sort -u
  }
  sources=$(_debian_sources)
  grep -q ' bookworm main$' <<<"$sources" || { apt-get update -qq; sources=$(_debian_sources); }
  grep -q ' bookworm main$' <<<"$sources" ||
    { echo "$name: no Debian 12 (bookworm) mirror found in this machine's apt sources" >&2; return 1; }
  https=()
  if grep -q '^deb https:' <<<"$sources"; then https=(--include=ca-certificates); fi
}
