#!/usr/bin/env bash
# Lists the C++ sources scripts/format.sh would change and exits 1 when there
# is any (3 when clang-format is not installed). Changes nothing.
exec bash "$(dirname "${BASH_SOURCE[0]}")/format.sh" --check "$@"
