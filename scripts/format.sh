#!/usr/bin/env bash
# Formats the C++ sources in place with the root .clang-format: every .h/.cpp
# under the source folders (never a build folder), or the files given.
#   --check   changes nothing: lists the files that would change, exits 1 if any
# Debian 12's clang-format (version 14) is the reference: other versions lay some
# lines out differently. CLANG_FORMAT picks another binary.
# Exits 3 when no clang-format is installed.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"

check=0
if [[ "${1:-}" == --check ]]; then check=1; shift; fi
args=()
for f in "$@"; do args+=("$(realpath -s -- "$f")"); done  # named from the caller's folder
cd "$root"

cf="${CLANG_FORMAT:-}"
if [[ -z "$cf" ]]; then
    for c in clang-format-14 clang-format; do
        if command -v "$c" >/dev/null 2>&1; then cf="$c"; break; fi
    done
fi
if [[ -z "$cf" ]] || ! command -v "$cf" >/dev/null 2>&1; then
    echo "format: clang-format is not installed (bash scripts/install-deps.sh)" >&2
    exit 3
fi
"$cf" --version | grep -q ' version 14\.' ||
    echo "format: warning: $("$cf" --version) is not clang-format 14; its layout may differ" >&2

if ((${#args[@]})); then
    files=("${args[@]}")
else
    dirs=()
    for d in app bench controls db export graphics platform resources tests tools; do [[ -d $d ]] && dirs+=("$d"); done
    ((${#dirs[@]})) || exit 0
    mapfile -d '' files < <(find "${dirs[@]}" -type f \( -name '*.h' -o -name '*.cpp' \) -print0 | sort -z)
fi
((${#files[@]})) || exit 0

if ((!check)); then
    printf '%s\0' "${files[@]}" | xargs -0 -n 64 "$cf" -i --style="file:$root/.clang-format"
    exit 0
fi

# One "file:line:col: error: code should be clang-formatted" per spot.
set +e
out="$(printf '%s\0' "${files[@]}" | xargs -0 -n 64 "$cf" --style="file:$root/.clang-format" --dry-run -Werror 2>&1 >/dev/null)"
rc=$?
set -e
bad="$(grep -E '^[^ ].*:[0-9]+:[0-9]+: error: ' <<<"$out" | sed -E 's/:[0-9]+:[0-9]+: error: .*//' | sort -u || true)"
if [[ -n "$bad" ]]; then
    echo "$bad"
    echo "format: $(wc -l <<<"$bad") of ${#files[@]} files are not formatted: bash scripts/format.sh" >&2
    exit 1
fi
if ((rc)); then
    # clang-format itself failed (a crash, an unreadable file, a bad .clang-format)
    echo "$out" >&2
    echo "format: clang-format failed ($rc)" >&2
    exit 1
fi
echo "format: ${#files[@]} files formatted"
