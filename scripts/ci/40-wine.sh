#!/usr/bin/env bash
# End-to-end tests of the Windows updater on the real Win32 API, under Wine:
# named mutexes across processes, the registry, MessageBoxA with code page
# 932 texts, read-only files, sharing violations, 32-bit exit codes.
#
# The win64 build runs in a fresh Wine prefix on a private Xvfb display.
# e2e_driver (e2e/) plays the user: it waits for each message box, checks
# caption, text, icon and buttons, and presses one; e2e_hold plays the game
# holding its mutex or a data file. This script answers the driver's
# requests for screenshots (build/wine/shots/) and key presses, and checks
# the install folder afterwards. The updates are made with mkupdate.
set -euo pipefail
cd "$(dirname "$0")/../.."
. scripts/lib.sh
# Not wine32: this machine runs no 32-bit code, and with wine32 present
# /usr/bin/wine picks the 32-bit loader. Wine's X11 driver loads the X
# libraries below at run time; Debian only recommends them.
need_packages cmake make g++ libgtest-dev g++-mingw-w64-x86-64 \
  binutils-mingw-w64-x86-64 wine wine64 fonts-wine libxrender1 libxrandr2 \
  libxi6 libxcursor1 libxinerama1 libxcomposite1 libxfixes3 libxext6 \
  xvfb xdotool imagemagick fonts-ipafont-gothic locales osslsigncode \
  openssl ca-certificates
started=$SECONDS

# Wine takes code page 932 for the narrow calls from the locale.
if ! locale -a | grep -qix 'ja_JP.utf8'; then
  localedef -i ja_JP -f UTF-8 ja_JP.UTF-8
fi
export LANG=ja_JP.UTF-8 LC_ALL=ja_JP.UTF-8

cmake --preset win64 >/dev/null
cmake --build --preset win64 >/dev/null
cmake --preset native >/dev/null
cmake --build --preset native --target mkupdate >/dev/null
MKUPDATE=$PWD/build/native/mkupdate

W=$PWD/build/wine
export WINEPREFIX=$W/prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
C=$WINEPREFIX/drive_c
GAME=$C/Games/Lumenhollow
GAME_WIN='C:\Games\Lumenhollow'
KEY='HKLM\Software\Orvane\ルーメンホロウ'
ENGINE_MUTEX='Varnelix for Lumenhollow is executing.'

# Root may write to a file whose mode forbids it, where Windows refuses a
# read-only file even to an administrator. Wine runs without that privilege,
# so read-only means read-only to it and to the updater.
NODAC=()
if [ "$(id -u)" = 0 ]; then
  NODAC=(setpriv --inh-caps=-dac_override --bounding-set=-dac_override --)
  "${NODAC[@]}" true || {
    echo "cannot drop CAP_DAC_OVERRIDE for Wine" >&2
    exit 1
  }
fi
wine() { "${NODAC[@]}" wine "$@"; }
wineboot() { "${NODAC[@]}" wineboot "$@"; }
wineserver() { "${NODAC[@]}" wineserver "$@"; }

xvfb_pid=
cleanup() {
  wineserver -k 2>/dev/null || true
  if [ -n "$xvfb_pid" ]; then kill "$xvfb_pid" 2>/dev/null || true; fi
}
trap cleanup EXIT

# --- set-up ---------------------------------------------------------------

if [ -d "$WINEPREFIX" ]; then wineserver -k 2>/dev/null || true; fi
rm -rf "$W"
mkdir -p "$W/shots" "$W/files" "$C"
t=$SECONDS
unset DISPLAY
wineboot -i >/dev/null 2>&1
# A virtual desktop: Wine draws the boxes' frames and captions itself, so
# the screenshots show what a user sees without a window manager.
wine reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f >/dev/null
wine reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default \
  /d 1024x768 /f >/dev/null
wineserver -w
echo "wine prefix ready in $((SECONDS - t)) s"

: >"$W/display"
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$W/display" \
  >/dev/null 2>&1 &
xvfb_pid=$!
for _ in $(seq 100); do [ -s "$W/display" ] && break; sleep 0.1; done
export DISPLAY=:$(tr -d '\n' <"$W/display")

mkdir -p "$C/e2e" "$C/updates"
cp build/win64/e2e/e2e_driver.exe build/win64/e2e/e2e_hold.exe "$C/e2e/"

# --- helpers --------------------------------------------------------------

failures=()
scenario=
fail() {
  echo "FAIL  [$scenario] $*"
  failures+=("$scenario: $*")
}
pass() { echo "ok    [$scenario] $*"; }
check() {  # check DESCRIPTION COMMAND...
  local what=$1
  shift
  if "$@"; then pass "$what"; else fail "$what"; fi
}
begin() {
  scenario=$1
  echo "--- $scenario"
}

# The install folder as the game leaves it: its uninstall list (one name a
# line, the last byte a NUL), an old data archive, a subfolder.
reset_game() {
  rm -rf "$GAME"
  mkdir -p "$GAME/movie"
  printf 'game.exe\ndata1.arc\nreadme.txt\n\0' >"$GAME/uninst.lst"
  printf 'old archive 1\n' >"$GAME/data1.arc"
  printf 'game\n' >"$GAME/game.exe"
  printf 'read me\n' >"$GAME/readme.txt"
}

# set_registry REG_SZ|REG_EXPAND_SZ|none
set_registry() {
  wine reg delete "$KEY" /f >/dev/null 2>&1 || true
  if [ "$1" != none ]; then
    wine reg add "$KEY" /v InstalledFolder /t "$1" /d "$GAME_WIN" /f >/dev/null
  fi
}

# Every file under the install folder with its mode and checksum.
snapshot() {
  (cd "$GAME" && find . -type f -printf '%p %m ' -exec md5sum {} \; | sort)
}

# drive NAME DRIVER-ARGS...: runs e2e_driver, answering its screenshot and
# key requests; fails the scenario unless every check of the driver passed.
# Wine's own messages go to $W/NAME.stderr.
drive() {
  local shots=$1
  shift
  local line rc=
  coproc DRIVER {
    set +e
    timeout 180 "${NODAC[@]}" wine 'C:\e2e\e2e_driver.exe' --shots "$shots" \
      "$@" 2>"$W/$shots.stderr"
    echo "END $?"
  }
  # Own copies of the pipes: bash drops its own when the coprocess ends.
  local pid=$DRIVER_PID from to
  exec {from}<&"${DRIVER[0]}" {to}>&"${DRIVER[1]}"
  while IFS= read -r line <&"$from"; do
    line=${line%$'\r'}
    case $line in
      "SHOT "*)
        local name x y w h
        read -r _ name x y w h <<<"$line"
        import -window root -crop "${w}x${h}+${x}+${y}" +repage \
          "$W/shots/$name.png" || fail "screenshot $name"
        echo ok >&"$to"
        ;;
      "KEY "*)
        xdotool key "${line#KEY }" || fail "key ${line#KEY }"
        echo ok >&"$to"
        ;;
      "END "*) rc=${line#END } ;;
      *) echo "      $line" ;;
    esac
  done
  exec {from}<&- {to}>&-
  wait "$pid" 2>/dev/null || true
  if [ "$rc" = 0 ]; then pass "driver: every check passed"; else
    fail "driver: checks failed (status ${rc:-none})"
  fi
}

same_file() { cmp -s "$1" "$2"; }
absent() { [ ! -e "$1" ]; }

# The files of a release and the updates made from them.
F=$W/files
mkdir -p "$F/release/movie" "$F/abc"
head -c 300000 /dev/urandom >"$F/release/data1.arc"
printf 'patch 1\n' >"$F/release/Patch01.DAT"
printf 'opening\n' >"$F/release/movie/Op.dat"
printf 'alpha\n' >"$F/abc/a.arc"
printf 'bravo: one byte of this entry gets damaged\n' >"$F/abc/b.arc"
printf 'charlie\n' >"$F/abc/c.arc"
cp "$F/release/data1.arc" "$F/abc/data1.arc"
U=$C/updates
"$MKUPDATE" pack --stub build/win64/updater.exe --out "$U/complete.exe" \
  --verify-dir "$F/release" "Data1.arc=$F/release/data1.arc" \
  "$F/release/Patch01.DAT" \
  "movie/Op.dat=$F/release/movie/Op.dat"
"$MKUPDATE" pack --stub build/win64/updater.exe --out "$U/damaged.exe" \
  --verify-dir "$F/abc" "$F/abc/a.arc" "$F/abc/b.arc" "$F/abc/c.arc"
"$MKUPDATE" pack --stub build/win64/updater.exe --out "$U/held.exe" \
  --verify-dir "$F/abc" "$F/abc/a.arc" "$F/abc/data1.arc" "$F/abc/c.arc"
cp build/win64/updater.exe "$U/nopayload.exe"
# Damage one byte inside b.arc's data after packing, as a bad download would.
at=$(grep -obUa 'one byte of this' "$U/damaged.exe" | head -n1 | cut -d: -f1)
printf 'X' | dd of="$U/damaged.exe" bs=1 seek="$at" conv=notrunc status=none

# The uninstall list after the complete update: the new names appended in
# directory order and stored case. The list is compared case-sensitively, so
# Data1.arc is added although data1.arc is listed.
printf 'game.exe\ndata1.arc\nreadme.txt\nData1.arc\nPatch01.DAT\nmovie\\Op.dat\nvrx.hvl\n\0' \
  >"$F/uninst.after"

# The complete update's effect on the install folder.
check_complete_install() {
  # As on Windows, the entry stored as Data1.arc opens the existing
  # data1.arc, which keeps its name.
  check "data1.arc replaced by the entry Data1.arc" \
    same_file "$GAME/data1.arc" "$F/release/data1.arc"
  check "data1.arc no longer read-only" \
    test "$(stat -c %A "$GAME/data1.arc" | cut -c3)" = w
  check "Patch01.DAT written under its stored name" \
    same_file "$GAME/Patch01.DAT" "$F/release/Patch01.DAT"
  check "movie\\Op.dat written into the existing folder" \
    same_file "$GAME/movie/Op.dat" "$F/release/movie/Op.dat"
  check "vrx.hvl installed" test -s "$GAME/vrx.hvl"
  check "uninst.lst merged byte for byte" same_file "$GAME/uninst.lst" \
    "$F/uninst.after"
  check "other files untouched" test "$(cat "$GAME/readme.txt")" = 'read me'
}

# --- scenarios ------------------------------------------------------------
# The registry holds the install folder as REG_SZ except where a scenario
# changes it, and then puts it back.

begin complete
reset_game
set_registry REG_SZ
chmod a-w "$GAME/data1.arc"
drive complete --box question:confirm:yes --box info:done:ok --exit 0 \
  --readonly "$GAME_WIN\\data1.arc" 'C:\updates\complete.exe'
check_complete_install
check "created names keep their case" \
  test "$(cd "$GAME" && LC_ALL=C ls | tr '\n' ' ')" = \
  'Patch01.DAT data1.arc game.exe movie readme.txt uninst.lst vrx.hvl '

begin declined
reset_game
before=$(snapshot)
drive declined --box question:confirm:no --exit -3 'C:\updates\complete.exe'
check "nothing written" test "$(snapshot)" = "$before"

begin checksum-mismatch
reset_game
check "mkupdate list sees the damage" \
  bash -c '! "$0" list "$1" >/dev/null 2>&1' "$MKUPDATE" "$U/damaged.exe"
drive mismatch --box question:confirm:yes --box warning:corrupt:ok \
  --exit 0x80000003 'C:\updates\damaged.exe'
check "a.arc, before the damaged entry, installed" \
  same_file "$GAME/a.arc" "$F/abc/a.arc"
check "the damaged b.arc never reached the disk" absent "$GAME/b.arc"
check "c.arc and vrx.hvl, after it, not installed" \
  eval '[ ! -e "$GAME/c.arc" ] && [ ! -e "$GAME/vrx.hvl" ]'
check "uninst.lst unchanged" test "$(od -c "$GAME/uninst.lst")" = \
  "$(printf 'game.exe\ndata1.arc\nreadme.txt\n\0' | od -c)"

begin uninstall-list-missing
reset_game
rm "$GAME/uninst.lst"
drive nolist --box question:confirm:yes --box warning:uninstallfailed:ok \
  --exit 0x80000005 'C:\updates\complete.exe'
check "every entry installed" eval 'same_file "$GAME/data1.arc" \
  "$F/release/data1.arc" && [ -e "$GAME/Patch01.DAT" ] && [ -e "$GAME/vrx.hvl" ]'
check "no uninst.lst created" absent "$GAME/uninst.lst"

begin not-installed
reset_game
set_registry none
before=$(snapshot)
WINEDEBUG=-all,+reg drive notinstalled --box warning:notinstalled:ok \
  --exit -1 'C:\updates\complete.exe'
# Wine's registry trace shows the key as the updater asked for it, the code
# page 932 name converted to ルーメンホロウ.
check "the registry key was looked up, its name converted from code page 932" \
  grep -qF 'Software\\Orvane\\\30eb\30fc\30e1\30f3\30db\30ed\30a6' \
  "$W/notinstalled.stderr"
check "nothing written" test "$(snapshot)" = "$before"

begin not-installed-expand-sz
set_registry REG_EXPAND_SZ
drive expandsz --box warning:notinstalled:ok --exit -1 \
  'C:\updates\complete.exe'
check "nothing written" test "$(snapshot)" = "$before"
set_registry REG_SZ

begin game-running
reset_game
before=$(snapshot)
WINEDEBUG=-all,+reg drive running --hold-mutex "$ENGINE_MUTEX" \
  --box warning:busy:ok --exit -2 'C:\updates\complete.exe'
check "the registry was not consulted" \
  bash -c '! grep -q Orvane "$0"' "$W/running.stderr"
check "nothing written" test "$(snapshot)" = "$before"

begin second-updater
reset_game
before=$(snapshot)
drive second --second --box question:confirm:enter --exit -3 \
  'C:\updates\complete.exe'
check "nothing written" test "$(snapshot)" = "$before"

begin no-payload
reset_game
before=$(snapshot)
drive nopayload --box question:confirm:yes --box warning:corrupt:ok \
  --exit 0x80000001 'C:\updates\nopayload.exe'
check "nothing written" test "$(snapshot)" = "$before"

begin file-held-open
reset_game
drive held --hold-file "$GAME_WIN\\data1.arc" --box question:confirm:yes \
  --box warning:failed:ok --exit 0x80000004 'C:\updates\held.exe'
check "a.arc, before the held file, installed" \
  same_file "$GAME/a.arc" "$F/abc/a.arc"
check "the held data1.arc unchanged" \
  test "$(cat "$GAME/data1.arc")" = 'old archive 1'
check "c.arc, after it, not installed" absent "$GAME/c.arc"
check "uninst.lst unchanged" test "$(od -c "$GAME/uninst.lst")" = \
  "$(printf 'game.exe\ndata1.arc\nreadme.txt\n\0' | od -c)"

begin signed
reset_game
chmod a-w "$GAME/data1.arc"
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj '/CN=Orvane test' \
  -keyout "$W/sign.key" -out "$W/sign.crt" >/dev/null 2>&1
osslsigncode sign -certs "$W/sign.crt" -key "$W/sign.key" \
  -n 'Lumenhollow update' -in "$U/complete.exe" -out "$U/signed.exe" \
  >/dev/null
check "the update carries a valid signature" \
  eval 'osslsigncode verify -CAfile "$W/sign.crt" -in "$U/signed.exe" >/dev/null 2>&1'
drive signed --box question:confirm:yes --box info:done:ok --exit 0 \
  --readonly "$GAME_WIN\\data1.arc" 'C:\updates\signed.exe'
check_complete_install

# Entries with Japanese names: mkupdate stores them in code page 932 and the
# updater's narrow calls create them under those names. ソ (83 5C) ends in
# the byte of a backslash. mkupdate.exe, the Windows tool, run on the same
# files, packs the same bytes.
pack_with_mkupdate_exe() {
  wine build/win64/mkupdate.exe pack --stub 'C:\pack\stub.exe' \
    --out 'C:\pack\japanese.exe' --verify-dir 'C:\pack\ja' \
    "C:\\pack\\ja\\$1" "C:\\pack\\ja\\$2" >"$W/mkupdate-exe.out" 2>&1 &&
    cmp "$U/japanese.exe" "$C/pack/japanese.exe"
}
japanese_entries() {
  begin japanese-entries
  local src=$C/pack/ja ja1='ルーメン.dat' ja2='ソフト.txt'
  mkdir -p "$src"
  cp build/win64/updater.exe "$C/pack/stub.exe"
  printf 'lumen\n' >"$src/$ja1"
  printf 'soft\n' >"$src/$ja2"
  check "mkupdate packs them" "$MKUPDATE" pack --stub "$C/pack/stub.exe" \
    --out "$U/japanese.exe" --verify-dir "$src" "$src/$ja1" "$src/$ja2"
  check "mkupdate.exe packs the same bytes" pack_with_mkupdate_exe "$ja1" "$ja2"
  check "mkupdate.exe lists the names in UTF-8" eval \
    'wine build/win64/mkupdate.exe list "C:\\updates\\japanese.exe" |
      grep -q "^$ja2 .* verified"'
  reset_game
  set_registry REG_SZ
  drive japanese-entries --box question:confirm:yes --box info:done:ok \
    --exit 0 'C:\updates\japanese.exe'
  check "$ja1 created under its name" same_file "$GAME/$ja1" "$src/$ja1"
  check "$ja2 created under its name" same_file "$GAME/$ja2" "$src/$ja2"
  printf 'game.exe\ndata1.arc\nreadme.txt\n\x83\x8b\x81\x5b\x83\x81\x83\x93.dat\n\x83\x5c\x83\x74\x83\x67.txt\nvrx.hvl\n\0' \
    >"$F/uninst.japanese"
  check "uninst.lst holds the names in code page 932" \
    same_file "$GAME/uninst.lst" "$F/uninst.japanese"
}
japanese_entries

# A folder with a Japanese name: the registry hands it to the narrow calls
# in code page 932, and ソ ends in 0x5C, the byte of a backslash.
begin japanese-folder
GAME=$C/ソフト/ルーメンホロウ
GAME_WIN='C:\ソフト\ルーメンホロウ'
reset_game
set_registry REG_SZ
chmod a-w "$GAME/data1.arc"
drive japanese --box question:confirm:yes --box info:done:ok --exit 0 \
  'C:\updates\complete.exe'
check_complete_install

echo "screenshots: $W/shots"
echo "wine stage took $((SECONDS - started)) s"
if [ ${#failures[@]} -ne 0 ]; then
  printf 'failed: %s\n' "${failures[@]}"
  exit 1
fi
echo "all wine scenarios passed"
