#!/usr/bin/env bash
# Installs those of the named Debian packages that are not installed yet.
set -euo pipefail
missing=()
for p in "$@"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  # A mirror in mid-sync fails one index now and then: try again, then install from what came.
  for attempt in 1 2 3; do
    apt-get update -q && break
    echo "apt-get update failed (attempt $attempt)" >&2
    sleep 20
  done
  apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
