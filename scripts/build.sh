#!/usr/bin/env bash
# Configures (once) and builds everything into build/ with Ninja, one job per core.
# BUILD_DIR overrides the folder; extra arguments go to the build (e.g. --target exportar-xml).
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${BUILD_DIR:-$root/build}"
if [[ ! -f "$build/build.ninja" ]]; then
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
fi
cmake --build "$build" -j "$(nproc)" "$@"
