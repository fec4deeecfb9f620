# The Wine harness of the end-to-end stage (scripts/ci/40-wine.sh), sourced
# after scripts/lib.sh: a fresh 64-bit prefix on a private Xvfb display, the
# driver loop that answers e2e_driver, the install folder's checks and
# snapshots, and the loop that runs every scenario once per program.
#
# A scenario is a function scenario_NAME registered with add_scenario
# (scripts/wine/scenarios.sh); WINE_ONLY="NAME..." runs only those named. It runs with these set for its program:
#   PROGRAM   win32 (the product, i686, run under WoW64) or win64
#   BUILD     build/$PROGRAM, where its updater.exe and tools are
#   U, U_WIN  its updates folder, as Linux and as Windows path
#   REG_VIEW  /reg:32 or /reg:64, the registry view the program reads
#   GAME, GAME_WIN  the install folder (reset_game makes it anew)

W=${WINE_DIR:-$PWD/build/wine}
export WINEPREFIX=$W/prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
C=$WINEPREFIX/drive_c
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
# Debian's wine command takes the 32-bit loader whenever wine32 is
# installed; where 32-bit programs cannot run, the caller names the 64-bit
# loader in WINE_LOADER.
WINE_LOADER=${WINE_LOADER:-wine}
wine() { "${NODAC[@]}" "$WINE_LOADER" "$@"; }
wineboot() { wine wineboot.exe "$@"; }
wineserver() { "${NODAC[@]}" wineserver "$@"; }

xvfb_pid=
wine_cleanup() {
  wineserver -k 2>/dev/null || true
  if [ -n "$xvfb_pid" ]; then kill "$xvfb_pid" 2>/dev/null || true; fi
}

# A new prefix in $W/prefix and a display for it; e2e_driver, e2e_hold and
# e2e_interrupt (64-bit programs of the win64 build) in C:\e2e.
wine_setup() {
  trap wine_cleanup EXIT
  if [ -d "$WINEPREFIX" ]; then wineserver -k 2>/dev/null || true; fi
  rm -rf "$W"
  mkdir -p "$W/shots" "$W/files" "$C"
  local t=$SECONDS
  unset DISPLAY
  # With wine32 installed beside wine64 the prefix is still a 64-bit one,
  # and 32-bit programs run in it under WoW64, as on 64-bit Windows.
  WINEARCH=win64 wineboot -i >/dev/null 2>&1
  # A virtual desktop: Wine draws the boxes' frames and captions itself, so
  # the screenshots show what a user sees without a window manager.
  wine reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f >/dev/null
  wine reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default \
    /d 1024x768 /f >/dev/null
  # A program that crashes ends with its exception code; no debugger
  # window waits for a user.
  wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD \
    /d 0 /f >/dev/null
  wineserver -w
  echo "wine prefix ready in $((SECONDS - t)) s"

  : >"$W/display"
  Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$W/display" \
    >/dev/null 2>&1 &
  xvfb_pid=$!
  local _
  for _ in $(seq 100); do [ -s "$W/display" ] && break; sleep 0.1; done
  export DISPLAY=:$(tr -d '\n' <"$W/display")

  mkdir -p "$C/e2e"
  cp build/win64/e2e/e2e_driver.exe build/win64/e2e/e2e_hold.exe \
    build/win64/e2e/e2e_interrupt.exe "$C/e2e/"
}

# --- scenarios and programs -----------------------------------------------

SCENARIOS=()
# add_scenario NAME [PROGRAM...]: scenario_NAME runs for the programs named,
# or for every program when none is.
add_scenario() {
  local name=$1
  shift
  SCENARIOS+=("$name:${*:-all}")
}

begin() {
  check_scope="$PROGRAM $1"
  echo "--- $check_scope"
}

# run_program PROGRAM: every scenario that applies to it, in the order they
# were added.
run_program() {
  PROGRAM=$1
  BUILD=build/$PROGRAM
  U=$C/updates/$PROGRAM
  U_WIN="C:\\updates\\$PROGRAM"
  case $PROGRAM in
    win32) REG_VIEW=/reg:32 ;;
    *) REG_VIEW=/reg:64 ;;
  esac
  mkdir -p "$U"
  local t=$SECONDS entry name programs
  GAME=$C/Games/Lumenhollow
  GAME_WIN='C:\Games\Lumenhollow'
  prepare_program
  for entry in "${SCENARIOS[@]}"; do
    name=${entry%%:*} programs=" ${entry#*:} "
    [ "$programs" = " all " ] || [[ $programs == *" $PROGRAM "* ]] || continue
    [ -z "${WINE_ONLY:-}" ] || [[ " $WINE_ONLY " == *" $name "* ]] || continue
    begin "$name"
    "scenario_$name"
  done
  check_scope=
  echo "$PROGRAM: scenarios took $((SECONDS - t)) s"
}

# --- the install folder and the registry ----------------------------------

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

# set_registry REG_SZ|REG_EXPAND_SZ|none [VIEW]: the game's key in neither
# view, then the install folder as a value of that type in VIEW (the
# program's own by default).
set_registry() {
  local view
  for view in /reg:32 /reg:64; do
    wine reg delete "$KEY" /f "$view" >/dev/null 2>&1 || true
  done
  if [ "$1" != none ]; then
    wine reg add "$KEY" /v InstalledFolder /t "$1" /d "$GAME_WIN" /f \
      "${2:-$REG_VIEW}" >/dev/null
  fi
}

# Every file under the install folder with its mode and checksum.
snapshot() {
  (cd "$GAME" && find . -type f -printf '%p %m ' -exec md5sum {} \; | sort)
}

same_file() { cmp -s "$1" "$2"; }
# True when no file in the install folder is one of the updater's temporary
# files (<name>.updating).
no_temporaries() { [ -z "$(find "$GAME" -name '*.updating')" ]; }
absent() { [ ! -e "$1" ]; }
# The uninstall list as reset_game leaves it.
list_unchanged() {
  [ "$(od -c "$GAME/uninst.lst")" = \
    "$(printf 'game.exe\ndata1.arc\nreadme.txt\n\0' | od -c)" ]
}

# --- the driver -----------------------------------------------------------

# drive NAME DRIVER-ARGS...: runs e2e_driver, answering its screenshot and
# key requests; fails the scenario unless every check of the driver passed.
# Wine's own messages go to $W/NAME.stderr and the driver's lines to
# $W/NAME.out; NAME gets the program before it.
drive() {
  local shots=$PROGRAM-$1
  shift
  local line rc=
  : >"$W/$shots.out"
  coproc DRIVER {
    set +e
    timeout 180 "${NODAC[@]}" "$WINE_LOADER" 'C:\e2e\e2e_driver.exe' --shots "$shots" \
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
      *)
        echo "      $line"
        echo "$line" >>"$W/$shots.out"
        ;;
    esac
  done
  exec {from}<&- {to}>&-
  wait "$pid" 2>/dev/null || true
  if [ "$rc" = 0 ]; then pass "driver: every check passed"; else
    fail "driver: checks failed (status ${rc:-none})"
  fi
}

# drive_untouched NAME DRIVER-ARGS...: drive, and the install folder must be
# byte for byte as it was before.
drive_untouched() {
  local before
  before=$(snapshot)
  drive "$@"
  check "nothing written" test "$(snapshot)" = "$before"
}

# stderr_of NAME, out_of NAME: the files drive NAME left Wine's messages
# and the driver's lines in.
stderr_of() { echo "$W/$PROGRAM-$1.stderr"; }
out_of() { echo "$W/$PROGRAM-$1.out"; }
