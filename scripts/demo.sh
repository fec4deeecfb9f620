#!/usr/bin/env bash
# Demo: builds the native updater, makes a sample install folder and a
# stand-in registry under build/demo, appends a sample payload at 1 MiB and
# runs the update, answering Yes.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/lib.sh
need_packages cmake make g++ libgtest-dev util-linux python3
cmake --preset native >/dev/null
cmake --build --preset native --target updater >/dev/null
demo=build/demo
rm -rf "$demo"
mkdir -p "$demo/Game" "$demo/run"
key="$demo/registry/HKEY_LOCAL_MACHINE/Software/Orvane/ルーメンホロウ"
mkdir -p "$key"
printf '%s\0' "$PWD/$demo/Game" >"$key/InstalledFolder.REG_SZ"
printf 'game.exe\ndata1.arc\n\0' >"$demo/Game/uninst.lst"
printf 'old data' >"$demo/Game/data1.arc"
python3 scripts/demo_payload.py "$demo/payload.bin"
cp build/native/updater "$demo/setup"
truncate -s 1048576 "$demo/setup"
cat "$demo/payload.bin" >>"$demo/setup"
set +e
echo y | UPDATER_REGISTRY="$demo/registry" XDG_RUNTIME_DIR="$demo/run" \
  "$demo/setup" 2>&1
code=$?
set -e
echo "exit code: $code"
echo "install folder:"
ls -l "$demo/Game"
echo "uninst.lst:"
tr '\0' '@' <"$demo/Game/uninst.lst"; echo " (@ is the stored NUL)"
