#!/usr/bin/env bash
# Configures (once) and builds everything into build/ with Ninja, one job per core.
# BUILD_DIR overrides the folder; CMAKE_ARGS adds configure options (read when the
# folder is first configured); extra arguments go to the build (e.g. --target exportar-xml).
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${BUILD_DIR:-$root/build}"
if [[ ! -f "$build/build.ninja" ]]; then
  # shellcheck disable=SC2086
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo ${CMAKE_ARGS:-}
fi
cmake --build "$build" -j "$(nproc)" "$@"
