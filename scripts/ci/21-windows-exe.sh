#!/usr/bin/env bash
# Reads the built Windows programs back: machine, subsystem, imports, size,
# manifest, icon, version record and texts. The i686 updater.exe, the
# product, must stay within 64 KiB. Also makes sure the committed icon is
# what scripts/make_icon.py draws, and that the checker finds faults planted
# in copies of the product.
set -euo pipefail
cd "$(dirname "$0")/../.."
. scripts/lib.sh
. scripts/packages.sh
require_packages "${pkgs_native[@]}" "${pkgs_windows[@]}"
# Debian's python3, which has pefile, whatever else is first on PATH.
python=/usr/bin/python3
for preset in win32 win64; do
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" >/dev/null
done

icon=$(mktemp)
trap 'rm -f "$icon"' EXIT
"$python" scripts/make_icon.py "$icon"
cmp "$icon" resources/updater.ico ||
  { echo "resources/updater.ico is not what scripts/make_icon.py draws"; exit 1; }

"$python" scripts/check_windows_exe.py --arch x86 --max-size 65536 \
  --icon resources/updater.ico build/win32/updater.exe
"$python" scripts/check_windows_exe.py --arch amd64 \
  --icon resources/updater.ico build/win64/updater.exe
"$python" scripts/check_windows_exe_test.py build/win32/updater.exe resources/updater.ico
