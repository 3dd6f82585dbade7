#!/usr/bin/env bash
# Makes `apt-get source` work: when the machine has no deb-src entries for the
# Debian archives it installs from, a list with the same archives as source
# entries is added beside the others. Sourced by the build-*.sh scripts.
#
#   . windows/deb-src.sh PACKAGE     (PACKAGE: a source package to look for)
if [ "$(id -u)" = 0 ]; then SUDO=""; else SUDO=sudo; fi
# grep reads all of apt-cache's output (no -q), so that under pipefail an
# early match cannot end apt-cache with SIGPIPE and look like no match.
if ! apt-cache showsrc "$1" 2>/dev/null | grep "^Package: $1\$" >/dev/null; then
  list=/etc/apt/sources.list.d/melodrift-deb-src
  if ls /etc/apt/sources.list.d/*.sources >/dev/null 2>&1; then
    # deb822 files: each Debian stanza again, as source.
    awk 'BEGIN { RS = ""; ORS = "\n\n" }
         /URIs:[^\n]*debian\.org/ && /Types:[^\n]*deb/ && !/Types:[^\n]*deb-src/ {
           sub(/Types:[^\n]*/, "Types: deb-src"); print }' \
      /etc/apt/sources.list.d/*.sources | $SUDO tee "$list.sources" >/dev/null
  fi
  if [ -f /etc/apt/sources.list ]; then
    sed -n 's/^[[:space:]]*deb[[:space:]]\(.*debian\.org.*\)/deb-src \1/p' /etc/apt/sources.list \
      | $SUDO tee "$list.list" >/dev/null
  fi
  for f in "$list.sources" "$list.list"; do [ -s "$f" ] || $SUDO rm -f "$f"; done
  $SUDO apt-get update -qq
fi
