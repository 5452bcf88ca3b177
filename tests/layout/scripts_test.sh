#!/usr/bin/env bash
# Plants include-direction breaks, cycles and unformatted files in small trees of
# their own and checks that scripts/check-layout.sh and scripts/check-format.sh
# refuse each one, name it, and let the allowed ones through.
set -euo pipefail
repo="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
work="$(mktemp -d "${TMPDIR:-/tmp}/layout-test.XXXXXX")"
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# --- includes ---------------------------------------------------------------
# One file written into a tree where every header it could name exists.
headers=(
  export/checks/b.h export/core/c.h export/sources/firebird/s.h export/sources/other/o.h
  export/destinations/folder/f.h export/destinations/package/p.h export/destinations/object_store/o.h
  export/settings/x.h export/history/h.h export/office/r.h export/registry.h
  platform/p.h db/d.h controls/q.h
)
new_tree() {
  rm -rf "$work/tree" && mkdir -p "$work/tree"
  for h in "${headers[@]}"; do mkdir -p "$work/tree/$(dirname "$h")" && printf '#pragma once\n' >"$work/tree/$h"; done
}

# file | include line | ok or refused
cases=(
  'export/checks/a.cpp|#include "export/checks/b.h"|ok'
  'export/checks/a.cpp|#include "platform/p.h"|ok'
  'export/checks/a.cpp|#include "export/core/c.h"|refused'
  'export/checks/a.cpp|#include "db/d.h"|refused'
  'export/core/a.cpp|#include "export/checks/b.h"|ok'
  'export/core/a.cpp|#include <vector>|ok'
  'export/core/a.cpp|#include <openssl/evp.h>|ok'
  'export/core/a.cpp|#include "export/destinations/folder/f.h"|refused'
  'export/core/a.cpp|#include "export/sources/firebird/s.h"|refused'
  'export/core/a.cpp|#include <export/destinations/folder/f.h>|refused'
  'export/core/a.cpp|#include "../destinations/folder/f.h"|refused'
  'export/core/a.cpp|  #  include   "export/settings/x.h"|refused'
  'export/core/a.cpp|#include "export/destinations/folder/not_written_yet.h"|refused'
  'export/core/a.cpp|#include "controls/q.h"|refused'
  'export/sources/firebird/a.cpp|#include "db/d.h"|ok'
  'export/sources/firebird/a.cpp|#include "s.h"|ok'
  'export/sources/firebird/a.cpp|#include "export/sources/other/o.h"|refused'
  'export/sources/firebird/a.cpp|#include "export/destinations/folder/f.h"|refused'
  'export/destinations/folder/a.cpp|#include "f.h"|ok'
  'export/destinations/folder/a.cpp|#include "export/core/c.h"|ok'
  'export/destinations/folder/a.cpp|#include "export/destinations/package/p.h"|refused'
  'export/destinations/folder/a.cpp|#include "../package/p.h"|refused'
  'export/destinations/folder/a.cpp|#include "export/sources/firebird/s.h"|refused'
  'export/destinations/folder/a.cpp|#include "db/d.h"|refused'
  'export/settings/a.cpp|#include "export/core/c.h"|ok'
  'export/settings/a.cpp|#include "export/destinations/object_store/o.h"|refused'
  'export/history/a.cpp|#include "export/settings/x.h"|refused'
  'export/history/a.cpp|#include "export/history/h.h"|ok'
  'export/office/a.cpp|#include "export/destinations/object_store/o.h"|ok'
  'export/office/a.cpp|#include "export/history/h.h"|ok'
  'export/office/a.cpp|#include "export/sources/firebird/s.h"|refused'
  'export/registration.cpp|#include "export/sources/firebird/s.h"|ok'
  'export/registration.cpp|#include "controls/q.h"|refused'
  'export/newfolder/a.cpp|#include <vector>|refused'
  'export/sources/a.cpp|#include <vector>|refused'
)
# Every case in one tree, each in a file of its own: one run names exactly the
# refused ones; a second tree with only the allowed ones passes.
new_tree
ok_tree="$work/ok" && rm -rf "$ok_tree" && cp -r "$work/tree" "$ok_tree"
refused=() allowed=()
i=0
for c in "${cases[@]}"; do
  IFS='|' read -r file line want <<<"$c"
  i=$((i + 1))
  file="${file%.cpp}$i.cpp"
  mkdir -p "$work/tree/$(dirname "$file")"
  printf '// a file\n%s\n' "$line" >"$work/tree/$file"
  if [[ $want == ok ]]; then
    allowed+=("$file|$line")
    mkdir -p "$ok_tree/$(dirname "$file")" && cp "$work/tree/$file" "$ok_tree/$file"
  else
    refused+=("$file|$line")
  fi
done
set +e
out="$(bash "$repo/scripts/check-layout.sh" "$work/tree" 2>&1)"
rc=$?
set -e
((rc == 1)) || fail "a tree with refused includes passed (status $rc)"
for c in "${refused[@]}"; do
  IFS='|' read -r file line <<<"$c"
  grep -qE "^$file(:2: includes | has no include rule|: folder )" <<<"$out" || fail "$file with '$line' let through"
done
for c in "${allowed[@]}"; do
  IFS='|' read -r file line <<<"$c"
  grep -qF "$file" <<<"$out" && fail "$file with '$line' refused: $(grep -F "$file" <<<"$out")"
done
set +e
out="$(bash "$repo/scripts/check-layout.sh" "$ok_tree" 2>&1)"
rc=$?
set -e
((rc == 0)) || fail "a tree of allowed includes refused (status $rc): $out"

# Cycles inside export/, allowed directions otherwise, named file by file.
new_tree
printf '#include "export/core/b2.h"\n' >"$work/tree/export/core/a2.h"
printf '#include "export/core/c2.h"\n' >"$work/tree/export/core/b2.h"
printf '#include "export/core/a2.h"\n' >"$work/tree/export/core/c2.h"
printf '#include "export/core/a2.h"\n' >"$work/tree/export/core/user.cpp"
set +e; out="$(bash "$repo/scripts/check-layout.sh" "$work/tree" 2>&1)"; rc=$?; set -e
((rc == 1)) || fail "a three-file cycle let through (status $rc)"
grep -qxF 'include cycle: export/core/a2.h -> export/core/b2.h -> export/core/c2.h -> export/core/a2.h' <<<"$out" ||
  fail "the cycle is not named: $out"
grep -q user.cpp <<<"$out" && fail "a file that only reaches the cycle is named in it: $out"

new_tree
printf '#include "h.h"\n' >"$work/tree/export/history/h.h"
set +e; out="$(bash "$repo/scripts/check-layout.sh" "$work/tree" 2>&1)"; rc=$?; set -e
((rc == 1)) && grep -qF 'include cycle: export/history/h.h -> export/history/h.h' <<<"$out" ||
  fail "a header including itself let through (status $rc): $out"

# --- format -------------------------------------------------------------------
if ! command -v clang-format-14 >/dev/null 2>&1 && ! command -v clang-format >/dev/null 2>&1; then
  echo "clang-format is not installed: the format half is not tested"
else
  t="$work/fmt"
  mkdir -p "$t/scripts" "$t/export/core" "$t/tests" "$t/build/export"
  cp "$repo/.clang-format" "$t/"
  cp "$repo/scripts/format.sh" "$repo/scripts/check-format.sh" "$t/scripts/"
  printf 'namespace exports {\n\nint one() { return 1; }\n\n}  // namespace exports\n' >"$t/export/core/one.cpp"
  printf 'int  messy( ){return 2;}\n' >"$t/build/export/generated.cpp"  # build output is never checked
  set +e; out="$(bash "$t/scripts/check-format.sh" 2>&1)"; rc=$?; set -e
  ((rc == 0)) || fail "a formatted tree refused (status $rc): $out"

  printf 'namespace exports {\nint  two( )\n{\n  return 2;\n}\n}\n' >"$t/tests/two.cpp"
  set +e; out="$(bash "$t/scripts/check-format.sh" 2>/dev/null)"; rc=$?; set -e
  ((rc == 1)) && [[ "$out" == tests/two.cpp ]] || fail "an unformatted file let through or not named (status $rc): $out"

  bash "$t/scripts/format.sh" >/dev/null
  grep -qxF 'int two() { return 2; }' "$t/tests/two.cpp" && grep -qxF '}  // namespace exports' "$t/tests/two.cpp" ||
    fail "format.sh did not lay the file out: $(cat "$t/tests/two.cpp")"
  set +e; out="$(bash "$t/scripts/check-format.sh" 2>&1)"; rc=$?; set -e
  ((rc == 0)) || fail "the tree format.sh made is refused (status $rc): $out"
  grep -qxF 'int  messy( ){return 2;}' "$t/build/export/generated.cpp" || fail "format.sh changed build output"

  set +e; CLANG_FORMAT=/nonexistent/clang-format bash "$t/scripts/check-format.sh" >/dev/null 2>&1; rc=$?; set -e
  ((rc == 3)) || fail "a missing clang-format gave status $rc, not 3"
fi

if ((failures)); then
  echo "$failures failure(s)"
  exit 1
fi
echo "all cases passed"
