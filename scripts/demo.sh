#!/usr/bin/env bash
# Demo: builds the native updater and mkupdate, makes a sample install folder
# and a stand-in registry under build/demo, packs a sample update with
# mkupdate and runs it, answering Yes.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/lib.sh
. scripts/packages.sh
bash scripts/install-deps.sh --packages "${pkgs_native[@]}" || exit 1
cmake --preset native >/dev/null
cmake --build --preset native --target updater mkupdate >/dev/null
mk=build/native/mkupdate
demo=build/demo
rm -rf "$demo"
mkdir -p "$demo/Game" "$demo/new" "$demo/run"

# The installed game, version 1.0, with its uninstall list.
printf 'game 1.0' >"$demo/Game/game.exe"
printf 'old data' >"$demo/Game/data1.arc"
printf 'game.exe\ndata1.arc\n\0' >"$demo/Game/uninst.lst"
set_install_folder "$demo/registry" "$PWD/$demo/Game"

# The publisher's copy of version 1.1: the verification list covers all of
# it; the update carries what differs from 1.0, the two archives.
printf 'game 1.0' >"$demo/new/game.exe"
head -c $((32 << 20)) /dev/urandom >"$demo/new/data1.arc"
printf 'new archive\n' >"$demo/new/data2.arc"

echo "== mkupdate pack"
start=$(date +%s%N)
"$mk" pack --stub build/native/updater --out "$demo/setup" \
  --from "$demo/Game" --to "$demo/new"
echo "packed in $((($(date +%s%N) - start) / 1000000)) ms"
echo "== mkupdate list"
"$mk" list "$demo/setup"

echo "== the update, answering Yes"
set +e
echo y | UPDATER_REGISTRY="$demo/registry" XDG_RUNTIME_DIR="$demo/run" \
  "$demo/setup" 2>&1
code=$?
set -e
echo "exit code: $code"
echo "install folder:"
ls -l "$demo/Game"
echo "uninst.lst:"
tr '\0' '@' <"$demo/Game/uninst.lst"
echo " (@ is the stored NUL)"
echo "== mkupdate verify"
"$mk" verify "$demo/Game/vrx.hvl" "$demo/Game"
