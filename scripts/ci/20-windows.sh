#!/usr/bin/env bash
# The Windows programs, cross-built with MinGW-w64: win32 (the product) and
# win64 (the same code, run under Wine by the end-to-end tests).
set -euo pipefail
cd "$(dirname "$0")/../.."
. scripts/lib.sh
. scripts/packages.sh
require_packages "${pkgs_native[@]}" "${pkgs_windows[@]}"
for preset in win32 win64; do
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
done
ls -l build/win32/updater.exe build/win64/updater.exe
