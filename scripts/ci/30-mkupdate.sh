#!/usr/bin/env bash
# mkupdate for Windows, and docs/publishing.md's path from three releases
# to a signed update: the update that brings 1.0 and 1.1 to 1.2, packed with
# the Windows updater as its stub, is signed with a throwaway self-signed
# certificate. The signature must verify, and since it is appended after the
# last byte, mkupdate and the updater must still read the payload, and the
# folders it installs into, a 1.0 and a 1.1, must check out against the
# signed update, and mkupdate check must find that it brings both to 1.2;
# one changed payload byte must break the signature. Last, the signing
# recipe of docs/publishing.md runs as written. (mkupdate's own tests run in
# updater_tests.)
set -euo pipefail
cd "$(dirname "$0")/../.."
. scripts/lib.sh
. scripts/packages.sh
require_packages "${pkgs_native[@]}" "${pkgs_windows[@]}" "${pkgs_signing[@]}"
cmake --preset native >/dev/null
cmake --build --preset native --target updater mkupdate >/dev/null
cmake --preset win32 >/dev/null
cmake --build --preset win32 --target updater mkupdate >/dev/null
ls -l build/win32/mkupdate.exe

root=$PWD
mk=$PWD/build/native/mkupdate
update_bytes=$PWD/scripts/update_bytes.py
work=$PWD/build/signing
rm -rf "$work"
mkdir -p "$work/old" "$work/mid" "$work/src" "$work/run"
cd "$work"


openssl req -x509 -newkey rsa:2048 -nodes -keyout key.pem -out cert.pem \
  -days 2 -subj "/CN=Lumenhollow test publisher" 2>/dev/null
# 1.0, 1.1 (config.ini changed, data2.arc new, ソフト.txt changed) and 1.2
# (config.ini back as in 1.0, data1.arc and セーブ/説明.txt changed,
# ルーメン.dat new). The Japanese names are this disk's UTF-8; the uninstall
# list holds them in code page 932, as the game writes it.
mkdir old/セーブ
printf 'game 1.0' >old/game.exe
printf 'old archive\n' >old/data1.arc
printf 'fullscreen=1\n' >old/config.ini
printf 'help 1.0\n' >old/セーブ/説明.txt
printf 'soft 1.0\n' >old/ソフト.txt
printf 'game.exe\ndata1.arc\nconfig.ini\nセーブ\\説明.txt\nソフト.txt\n' |
  iconv -t CP932 >old/uninst.lst
printf '\0' >>old/uninst.lst
cp -r old/. mid/
printf 'fullscreen=0\n' >mid/config.ini
printf 'new archive\n' >mid/data2.arc
printf 'soft 1.1\n' >mid/ソフト.txt
cp -r mid/. src/
cp old/config.ini src/config.ini
head -c 2000000 /dev/urandom >src/data1.arc
printf 'help 1.2\n' >src/セーブ/説明.txt
printf 'lumen\n' >src/ルーメン.dat
"$mk" pack --stub ../win32/updater.exe --out setup.exe --dry-run \
  --from old --from mid --to src >plan.txt
cat plan.txt
[ ! -e setup.exe ] || fail "the dry run wrote setup.exe"
if ! grep -q 'would write setup.exe: 7 entries' plan.txt ||
  ! grep -q '^  ソフト.txt .* changed since old ' plan.txt ||
  ! grep -q '^  config.ini .* changed since mid ' plan.txt; then
  fail "dry run: $(cat plan.txt)"
fi
"$mk" pack --stub ../win32/updater.exe --out setup.exe --from old --from mid \
  --to src
osslsigncode sign -certs cert.pem -key key.pem -n "Lumenhollow Updater" \
  -in setup.exe -out signed.exe >/dev/null
echo "signed: $(stat -c %s setup.exe) bytes -> $(stat -c %s signed.exe) bytes"

osslsigncode verify -CAfile cert.pem -in signed.exe >verify.log 2>&1 ||
  fail "osslsigncode verify of the signed update: $(tail -3 verify.log)"
echo "osslsigncode verify: passed"
"$mk" list signed.exe >list.txt || fail "mkupdate list of the signed update"
cat list.txt
grep -q 'bytes follow the entries' list.txt || fail "no signature after the data"

# check reads the signed file as it ships: the cumulative update brings
# 1.0 and 1.1 to 1.2; one packed from 1.1 alone leaves 1.0 short.
"$mk" check signed.exe --from old --from mid --to src >check.txt ||
  fail "check of the signed update: $(cat check.txt)"
cat check.txt
"$mk" pack --stub ../win32/updater.exe --out mid-only.exe --quiet \
  --from mid --to src
if "$mk" check mid-only.exe --from old --from mid --to src >check.txt; then
  fail "check passed an update packed from 1.1 alone"
fi
grep -q '^old: does not become src$' check.txt || fail "check: $(cat check.txt)"
grep -q '^  differs  *ソフト.txt$' check.txt || fail "check: $(cat check.txt)"
echo "check of an update packed from 1.1 alone: 1.0 does not become 1.2, ソフト.txt differs"

# The native updater with the signed file's payload and signature behind it:
# it must install from a file that goes on after its last entry, into a
# 1.0 and into a 1.1 alike.
# The install folder is Japanese too: the registry holds its code page 932.
set_install_folder "$work/registry" "$work/ゲーム"
cp ../native/updater native-setup
truncate -s 1048576 native-setup
tail -c +1048577 signed.exe >>native-setup
for release in old mid; do
  rm -rf ゲーム && cp -r "$release" ゲーム
  code=0
  echo y | UPDATER_REGISTRY="$work/registry" XDG_RUNTIME_DIR="$work/run" \
    ./native-setup 2>/dev/null || code=$?
  [ "$code" -eq 0 ] || fail "the updater ended with $code on $release"
  "$mk" verify --json signed.exe ゲーム >verify.json ||
    fail "mkupdate verify of $release updated: $(cat verify.json)"
  if grep -q '"ok": true,' verify.json &&
    grep -q '"counts": {"files": 7, "ok": 7, "missing": 0, "differs": 0, "unreadable": 0}' verify.json; then
    echo "updater on the signed payload, on $release: exit 0, all 7 files match"
  else
    fail "verify of $release updated: $(cat verify.json)"
  fi
done

# One changed byte inside data1.arc's data breaks the signature.
cp signed.exe damaged.exe
/usr/bin/python3 "$update_bytes" flip "$mk" damaged.exe data1.arc 1000
cmp -s signed.exe damaged.exe && fail "the byte did not change"
if osslsigncode verify -CAfile cert.pem -in damaged.exe >verify.log 2>&1; then
  fail "osslsigncode verify passed on a changed payload"
fi
echo "osslsigncode verify of a changed payload: failed, as it must"
set +e
"$mk" list --json damaged.exe >damaged.json 2>/dev/null
code=$?
set -e
[ "$code" -eq 1 ] || fail "mkupdate list of a changed payload ended with $code, not 1"
grep -q '"name": "data1.arc", .* "state": "mismatch"' damaged.json ||
  fail "list --json: $(cat damaged.json)"
grep -q "data1.arc .* MISMATCH" <("$mk" list damaged.exe 2>/dev/null) ||
  fail "no MISMATCH for the changed entry"
echo "mkupdate list of a changed payload: MISMATCH reported"

# docs/publishing.md's signing recipe, run as written.
cd "$root"
/usr/bin/python3 scripts/signing_recipe_test.py "$mk" build/win32/updater.exe ||
  fail "the signing recipe of docs/publishing.md"
finish_checks
