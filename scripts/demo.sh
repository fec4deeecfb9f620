#!/usr/bin/env bash
# Demo: builds the native updater and mkupdate, makes a sample install folder
# and a stand-in registry under build/demo, packs a sample update with
# mkupdate, checks it and runs it, answering Yes. The game is Japanese: its
# folder, a folder in it and files are named in Japanese, as the updater
# names them in code page 932 and this disk in UTF-8.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/lib.sh
. scripts/packages.sh
bash scripts/install-deps.sh --packages "${pkgs_native[@]}" || exit 1
cmake --preset native >/dev/null
cmake --build --preset native --target updater mkupdate >/dev/null
mk=build/native/mkupdate
demo=build/demo
game="$demo/ルーメンホロウ"
rm -rf "$demo"
mkdir -p "$game/セーブ" "$demo/new" "$demo/run"

# The installed game, version 1.0, in a Japanese folder, with its help in
# the folder セーブ and its uninstall list, whose names are code page 932
# (セーブ\説明.txt), as the game's installer writes it.
printf 'game 1.0' >"$game/game.exe"
printf 'old data' >"$game/data1.arc"
printf 'セーブの説明 1.0\n' >"$game/セーブ/説明.txt"
printf 'game.exe\ndata1.arc\nセーブ\\説明.txt\n' | iconv -t CP932 >"$game/uninst.lst"
printf '\0' >>"$game/uninst.lst"
set_install_folder "$demo/registry" "$PWD/$game"

# The publisher's copy of version 1.1: the verification list covers all of
# it; the update carries what differs from 1.0: the two archives, the new
# ルーメン.dat and the help in セーブ.
cp -r "$game/." "$demo/new"
head -c $((32 << 20)) /dev/urandom >"$demo/new/data1.arc"
printf 'new archive\n' >"$demo/new/data2.arc"
printf 'lumen\n' >"$demo/new/ルーメン.dat"
printf 'セーブの説明 1.1\n' >"$demo/new/セーブ/説明.txt"

echo "== mkupdate pack"
start=$(date +%s%N)
"$mk" pack --stub build/native/updater --out "$demo/setup" \
  --from "$game" --to "$demo/new"
echo "packed in $((($(date +%s%N) - start) / 1000000)) ms"
echo "== mkupdate list"
"$mk" list "$demo/setup"
echo "== mkupdate check (a copy of 1.0 updated, compared with 1.1)"
"$mk" check "$demo/setup" --from "$game" --to "$demo/new"

echo "== the update, answering Yes"
set +e
echo y | UPDATER_REGISTRY="$demo/registry" XDG_RUNTIME_DIR="$demo/run" \
  "$demo/setup" 2>&1
code=$?
set -e
echo "exit code: $code"
echo "install folder:"
ls -lR "$game"
echo "セーブ/説明.txt: $(cat "$game/セーブ/説明.txt")"
echo "uninst.lst, its code page 932 shown in UTF-8:"
tr '\0' '@' <"$game/uninst.lst" | iconv -f CP932
echo " (@ is the stored NUL)"
echo "== mkupdate verify"
"$mk" verify "$game/vrx.hvl" "$game"
