#!/usr/bin/env bash
# End-to-end tests of the Windows programs on the real Win32 API, under Wine:
# named mutexes across processes, the registry and its 32-bit view,
# MessageBoxA with code page 932 texts, read-only files, sharing violations,
# 32-bit exit codes.
#
# Every scenario (scripts/wine/scenarios.sh) runs once per program: the
# i686 updater.exe, the product, under WoW64 in a 64-bit prefix with the
# install folder in the 32-bit registry view, and its x86-64 sibling with
# it in the 64-bit view. scripts/wine/harness.sh sets Wine up and holds the
# driver loop and the checks. The updates are made with the native mkupdate.
# On a kernel that runs no 32-bit programs the stage says so and runs the
# 64-bit program alone; elsewhere every 32-bit check is required.
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

# Wine takes code page 932 for the narrow calls from the locale.
export LANG=ja_JP.UTF-8 LC_ALL=ja_JP.UTF-8

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
cmake --build --preset native --target mkupdate >/dev/null
MKUPDATE=$PWD/build/native/mkupdate

. scripts/wine/harness.sh
. scripts/wine/scenarios.sh
wine_setup
make_release_files
for program in "${programs[@]}"; do
  run_program "$program"
done

echo "screenshots: $W/shots"
echo "wine stage took $((SECONDS - started)) s"
finish_checks
echo "all wine scenarios passed"
