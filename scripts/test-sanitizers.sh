#!/usr/bin/env bash
# The whole test suite built with AddressSanitizer and UndefinedBehaviorSanitizer,
# in build-asan/. Same steps as test.sh; leak reports are off because Qt and
# fontconfig keep process-lifetime caches that LeakSanitizer would list.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=0:abort_on_error=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"
BUILD_DIR="${BUILD_DIR:-$root/build-asan}" CMAKE_ARGS="-DEXPORTAR_SANITIZE=ON" exec bash "$root/scripts/test.sh"
