#!/usr/bin/env bash
# The tree's own checks: the layering check fails on an upward include and passes on a downward
# one; the stand-in list finds a planted stand-in with its file and line.
set -euo pipefail
top=$1
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
fail() { echo "FAILED: $*"; exit 1; }

mkdir -p "$tmp/layer" "$tmp/shell" "$tmp/core"
printf '#include "core/a.h"\n#include "layer/b.h"\n' > "$tmp/layer/ok.cpp"
"$top/tools/check-layering.sh" "$tmp" >/dev/null || fail "downward includes refused"
printf '#include "core/a.h"\n  #include "shell/window.h"\n' > "$tmp/layer/up.cpp"
out=$("$top/tools/check-layering.sh" "$tmp") && fail "an upward include passed"
[[ "$out" == *"layer/up.cpp:2: layer includes shell"* ]] || fail "offending line not named: $out"
rm "$tmp/layer/up.cpp"
mkdir -p "$tmp/sound"
printf '#include "layer/b.h"\n' > "$tmp/sound/sib.cpp"
"$top/tools/check-layering.sh" "$tmp" >/dev/null && fail "a sibling include passed"
rm "$tmp/sound/sib.cpp"

printf 'int a;\n// stand-in: the planted one\nint f() { return 0; }\n' > "$tmp/core/s.cpp"
[ "$("$top/tools/standins.sh" "$tmp")" = "core/s.cpp:2: the planted one" ] || fail "planted stand-in not listed"
echo "1 passed, 0 failed"
