#!/usr/bin/env bash
# Checks the floors: a folder includes only its own folder and the folders below it.
# Prints every offending include as "file:line: folder includes higher floor: line" and exits 1
# when there is one. Usage: tools/check-layering.sh [TREE]   (default: the repository)
set -euo pipefail
tree=${1:-$(cd "$(dirname "$0")/.." && pwd)}
cd "$tree"
# Floor of each engine folder; layer and sound share a floor but never include each other.
declare -A floor=([common]=1 [platform]=2 [core]=3 [script]=4 [layer]=5 [sound]=5 [display]=6 [shell]=7)
status=0
for dir in "${!floor[@]}"; do
  [ -d "$dir" ] || continue
  while IFS= read -r hit; do
    file=${hit%%:*}; rest=${hit#*:}; line=${rest%%:*}; text=${rest#*:}
    target=$(sed -E 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*"([^/"]+)\/.*/\1/' <<<"$text")
    [ -n "${floor[$target]:-}" ] || continue
    [ "$target" = "$dir" ] && continue
    if [ "${floor[$target]}" -ge "${floor[$dir]}" ]; then
      echo "$file:$line: $dir includes $target: ${text#"${text%%[![:space:]]*}"}"
      status=1
    fi
  done < <(grep -rnE '^[[:space:]]*#[[:space:]]*include[[:space:]]*"' --include='*.cpp' --include='*.h' --include='*.inc' "$dir" || true)
done
exit $status
