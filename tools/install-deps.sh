#!/usr/bin/env bash
# Installs the Debian packages of one or more steps (see tools/packages.txt) that are missing.
# Usage: tools/install-deps.sh build [bench]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
steps=" $* "
missing=()
while read -r step pkg; do
  [[ -z "$step" || "$step" == \#* ]] && continue
  [[ "$steps" == *" $step "* ]] || continue
  dpkg -s "$pkg" >/dev/null 2>&1 || missing+=("$pkg")
done < "$here/packages.txt"
[ ${#missing[@]} -eq 0 ] && exit 0
echo "Installing: ${missing[*]}"
sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
