#!/usr/bin/env bash
# End-to-end tests of the Windows programs on the real Win32 API, under
# Wine: builds what they run, then runs every scenario of
# scripts/wine/scenarios_test.py once per program, the i686 updater.exe (the
# product, under WoW64) and its x86-64 sibling. On a kernel that runs no
# 32-bit programs the stage says so and runs the 64-bit program alone;
# elsewhere every 32-bit check is required.
#
#   bash scripts/ci/40-wine.sh                 # every scenario
#   bash scripts/ci/40-wine.sh -k japanese     # unittest's arguments: those matching
set -euo pipefail
cd "$(dirname "$0")/../.."
. scripts/lib.sh
. scripts/packages.sh
require_packages binutils
packages=("${pkgs_native[@]}" "${pkgs_windows[@]}" "${pkgs_signing[@]}"
  "${pkgs_wine[@]}")
programs=(win64)
if kernel_runs_i386; then
  # wine32 runs the 32-bit programs; with it, /usr/bin/wine is the 32-bit
  # loader, which hands 64-bit programs to wine64.
  packages+=("${pkgs_wine_i386[@]}")
  programs=(win32 win64)
else
  echo "this kernel runs no 32-bit programs: the i686 updater.exe is not run, only win64"
  if [ -x /usr/lib/wine/wine64 ]; then export WINE_LOADER=/usr/lib/wine/wine64; fi
fi
require_packages "${packages[@]}"
require_japanese_locale
started=$SECONDS

for preset in "${programs[@]}"; do
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" >/dev/null
done
if [ "${programs[0]}" = win32 ]; then
  # The kernel check's broken copy: kernels that trust the stack to be
  # aligned to 16 bytes, as the Linux i386 ABI promises and Windows does not.
  cmake -S . -B build/win32-trusting --toolchain cmake/mingw-i686.cmake \
    -DCMAKE_BUILD_TYPE=MinSizeRel -DBUILD_TESTING=OFF \
    -DUPDATER_KERNEL_STACK_FLAGS=-mincoming-stack-boundary=4 >/dev/null
  cmake --build build/win32-trusting -j2 --target e2e_kernels >/dev/null
fi
cmake --preset native >/dev/null
cmake --build --preset native --target mkupdate pause_shim >/dev/null

WINE_PROGRAMS="${programs[*]}" /usr/bin/python3 scripts/wine/scenarios_test.py "$@"
echo "screenshots: build/wine/shots"
echo "wine stage took $((SECONDS - started)) s"
