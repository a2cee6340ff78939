#!/usr/bin/env bash
# Lists what stands in for pieces of the engine not built yet: every line marked
# "// stand-in: <what it stands for>", as "file:line: what". Usage: tools/standins.sh [TREE]
set -euo pipefail
tree=${1:-$(cd "$(dirname "$0")/.." && pwd)}
cd "$tree"
dirs=()
for d in common platform core script layer sound display shell app emote; do [ -d "$d" ] && dirs+=("$d"); done
[ ${#dirs[@]} -eq 0 ] && exit 0
grep -rnE --include='*.cpp' --include='*.h' '//[[:space:]]*stand-in:' "${dirs[@]}" |
  sed -E 's#^([^:]+):([0-9]+):.*//[[:space:]]*stand-in:[[:space:]]*(.*)$#\1:\2: \3#' | sort -t: -k1,1 -k2,2n || true
