#!/usr/bin/env bash
# Installs what is missing, builds everything, starts the Firebird server the
# server-mode tests need, and runs every test with ctest. Widget tests use the
# off-screen platform; the whole run sits inside a virtual X server so the tests
# that check real window-manager hints have a display.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${BUILD_DIR:-$root/build}"

bash "$root/scripts/install-deps.sh"
BUILD_DIR="$build" bash "$root/scripts/build.sh"
bash "$root/scripts/firebird-server.sh"

export QT_QPA_PLATFORM=offscreen
export XDG_RUNTIME_DIR="${XDG_RUNTIME_DIR:-$(mktemp -d /tmp/runtime-XXXXXX)}"
chmod 700 "$XDG_RUNTIME_DIR"

cd "$build"
ctest_args=(--output-on-failure --timeout 900 -j "$(nproc)")
if command -v xvfb-run >/dev/null 2>&1; then
  xvfb-run -a -s "-screen 0 1024x768x24" ctest "${ctest_args[@]}"
else
  ctest "${ctest_args[@]}"
fi
