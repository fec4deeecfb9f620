# The end-to-end scenarios, sourced by scripts/ci/40-wine.sh after the
# harness (scripts/wine/harness.sh). Each is a function scenario_NAME added
# with add_scenario NAME [PROGRAM...], run once per program (or only for
# those named) on a fresh install folder's worth of helpers. The registry
# holds the install folder as REG_SZ in the program's view except where a
# scenario changes it, and then puts it back.

# The files of a release, made once for every program.
F=$W/files
make_release_files() {
  mkdir -p "$F/release/movie" "$F/abc"
  head -c 300000 /dev/urandom >"$F/release/data1.arc"
  printf 'patch 1\n' >"$F/release/Patch01.DAT"
  printf 'opening\n' >"$F/release/movie/Op.dat"
  printf 'alpha\n' >"$F/abc/a.arc"
  printf 'bravo: one byte of this entry gets damaged\n' >"$F/abc/b.arc"
  printf 'charlie\n' >"$F/abc/c.arc"
  cp "$F/release/data1.arc" "$F/abc/data1.arc"
  # The uninstall list after the complete update: the new names appended in
  # directory order and stored case. The list is compared case-sensitively,
  # so Data1.arc is added although data1.arc is listed.
  printf 'game.exe\ndata1.arc\nreadme.txt\nData1.arc\nPatch01.DAT\nmovie\\Op.dat\nvrx.hvl\n\0' \
    >"$F/uninst.after"
}

# pack OUT ARGS...: an update on this program's updater.
pack() {
  local out=$1
  shift
  "$MKUPDATE" pack --stub "$BUILD/updater.exe" --out "$U/$out" "$@" >/dev/null
}

# The updates most scenarios share, on this program's updater.
prepare_program() {
  pack complete.exe --verify-dir "$F/release" \
    "Data1.arc=$F/release/data1.arc" "$F/release/Patch01.DAT" \
    "movie/Op.dat=$F/release/movie/Op.dat"
  pack damaged.exe --verify-dir "$F/abc" "$F/abc/a.arc" "$F/abc/b.arc" \
    "$F/abc/c.arc"
  pack held.exe --verify-dir "$F/abc" "$F/abc/a.arc" "$F/abc/data1.arc" \
    "$F/abc/c.arc"
  cp "$BUILD/updater.exe" "$U/nopayload.exe"
  # Damage one byte inside b.arc's data after packing, as a bad download
  # would.
  local at
  at=$(grep -obUa 'one byte of this' "$U/damaged.exe" | head -n1 | cut -d: -f1)
  printf 'X' | dd of="$U/damaged.exe" bs=1 seek="$at" conv=notrunc status=none
  set_registry REG_SZ
}

# The complete update's effect on the install folder.
check_complete_install() {
  # The entry stored as Data1.arc is written as Data1.arc.updating and moved
  # over the existing data1.arc, which under Wine keeps its name's case.
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
  check "no temporary file left" no_temporaries
}

add_scenario complete
scenario_complete() {
  reset_game
  chmod a-w "$GAME/data1.arc"
  drive complete --box question:confirm:yes --box info:done:ok --exit 0 \
    --readonly "$GAME_WIN\\data1.arc" "$U_WIN\\complete.exe"
  check_complete_install
  check "created names keep their case" \
    test "$(cd "$GAME" && LC_ALL=C ls | tr '\n' ' ')" = \
    'Patch01.DAT data1.arc game.exe movie readme.txt uninst.lst vrx.hvl '
}

add_scenario declined
scenario_declined() {
  reset_game
  drive_untouched declined --box question:confirm:no --exit -3 \
    "$U_WIN\\complete.exe"
}

add_scenario checksum-mismatch
scenario_checksum-mismatch() {
  reset_game
  check "mkupdate list sees the damage" \
    bash -c '! "$0" list "$1" >/dev/null 2>&1' "$MKUPDATE" "$U/damaged.exe"
  drive mismatch --box question:confirm:yes --box warning:corrupt:ok \
    --exit 0x80000003 "$U_WIN\\damaged.exe"
  check "a.arc, before the damaged entry, installed" \
    same_file "$GAME/a.arc" "$F/abc/a.arc"
  check "the damaged b.arc never reached the disk" absent "$GAME/b.arc"
  check "c.arc and vrx.hvl, after it, not installed" \
    eval '[ ! -e "$GAME/c.arc" ] && [ ! -e "$GAME/vrx.hvl" ]'
  check "uninst.lst unchanged" list_unchanged
}

add_scenario uninstall-list-missing
scenario_uninstall-list-missing() {
  reset_game
  rm "$GAME/uninst.lst"
  drive nolist --box question:confirm:yes --box warning:uninstallfailed:ok \
    --exit 0x80000005 "$U_WIN\\complete.exe"
  check "every entry installed" eval 'same_file "$GAME/data1.arc" \
    "$F/release/data1.arc" && [ -e "$GAME/Patch01.DAT" ] && [ -e "$GAME/vrx.hvl" ]'
  check "no uninst.lst created" absent "$GAME/uninst.lst"
}

add_scenario not-installed
scenario_not-installed() {
  reset_game
  set_registry none
  WINEDEBUG=-all,+reg drive_untouched notinstalled --box warning:notinstalled:ok \
    --exit -1 "$U_WIN\\complete.exe"
  # Wine's registry trace shows the key as the updater asked for it, the
  # code page 932 name converted to ルーメンホロウ.
  check "the registry key was looked up, its name converted from code page 932" \
    grep -qF 'Software\\Orvane\\\30eb\30fc\30e1\30f3\30db\30ed\30a6' \
    "$(stderr_of notinstalled)"
  set_registry REG_SZ
}

add_scenario not-installed-expand-sz
scenario_not-installed-expand-sz() {
  reset_game
  set_registry REG_EXPAND_SZ
  drive_untouched expandsz --box warning:notinstalled:ok --exit -1 \
    "$U_WIN\\complete.exe"
  set_registry REG_SZ
}

# The 32-bit program asks for no registry view, so on a 64-bit system it
# reads the 32-bit one (Software\WOW6432Node): a folder stored only in the
# 64-bit view is not there for it.
add_scenario only-in-64-bit-view win32
scenario_only-in-64-bit-view() {
  reset_game
  set_registry REG_SZ /reg:64
  drive_untouched view64 --box warning:notinstalled:ok --exit -1 \
    "$U_WIN\\complete.exe"
  set_registry REG_SZ
  drive view32 --box question:confirm:yes --box info:done:ok --exit 0 \
    "$U_WIN\\complete.exe"
  check "the same update installs with the folder in the 32-bit view" \
    same_file "$GAME/Patch01.DAT" "$F/release/Patch01.DAT"
}

add_scenario game-running
scenario_game-running() {
  reset_game
  WINEDEBUG=-all,+reg drive_untouched running --hold-mutex "$ENGINE_MUTEX" \
    --box warning:busy:ok --exit -2 "$U_WIN\\complete.exe"
  check "the registry was not consulted" \
    bash -c '! grep -q Orvane "$0"' "$(stderr_of running)"
}

add_scenario second-updater
scenario_second-updater() {
  reset_game
  drive_untouched second --second --box question:confirm:enter --exit -3 \
    "$U_WIN\\complete.exe"
}

add_scenario no-payload
scenario_no-payload() {
  reset_game
  drive_untouched nopayload --box question:confirm:yes --box warning:corrupt:ok \
    --exit 0x80000001 "$U_WIN\\nopayload.exe"
}

add_scenario file-held-open
scenario_file-held-open() {
  reset_game
  drive held --hold-file "$GAME_WIN\\data1.arc" --box question:confirm:yes \
    --box warning:failed:ok --exit 0x80000004 "$U_WIN\\held.exe"
  check "a.arc, before the held file, installed" \
    same_file "$GAME/a.arc" "$F/abc/a.arc"
  check "the held data1.arc unchanged" \
    test "$(cat "$GAME/data1.arc")" = 'old archive 1'
  check "c.arc, after it, not installed" absent "$GAME/c.arc"
  check "uninst.lst unchanged" list_unchanged
  check "the new data1.arc, refused by the sharing check, removed" \
    no_temporaries
}

add_scenario signed
scenario_signed() {
  reset_game
  chmod a-w "$GAME/data1.arc"
  if [ ! -e "$W/sign.crt" ]; then
    openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj '/CN=Orvane test' \
      -keyout "$W/sign.key" -out "$W/sign.crt" >/dev/null 2>&1
  fi
  osslsigncode sign -certs "$W/sign.crt" -key "$W/sign.key" \
    -n 'Lumenhollow update' -in "$U/complete.exe" -out "$U/signed.exe" \
    >/dev/null
  check "the update carries a valid signature" \
    eval 'osslsigncode verify -CAfile "$W/sign.crt" -in "$U/signed.exe" >/dev/null 2>&1'
  drive signed --box question:confirm:yes --box info:done:ok --exit 0 \
    --readonly "$GAME_WIN\\data1.arc" "$U_WIN\\signed.exe"
  check_complete_install
}

# Entries with Japanese names: mkupdate stores them in code page 932 and the
# updater's narrow calls create them under those names. ソ (83 5C) ends in
# the byte of a backslash. mkupdate.exe, the Windows tool, run on the same
# files, packs the same bytes.
pack_with_mkupdate_exe() {
  wine "$BUILD/mkupdate.exe" pack --stub 'C:\pack\stub.exe' \
    --out 'C:\pack\japanese.exe' --verify-dir 'C:\pack\ja' \
    "C:\\pack\\ja\\$1" "C:\\pack\\ja\\$2" >"$W/$PROGRAM-mkupdate-exe.out" 2>&1 &&
    cmp "$U/japanese.exe" "$C/pack/japanese.exe"
}
add_scenario japanese-entries
scenario_japanese-entries() {
  local src=$C/pack/ja ja1='ルーメン.dat' ja2='ソフト.txt'
  rm -rf "$C/pack"
  mkdir -p "$src"
  cp "$BUILD/updater.exe" "$C/pack/stub.exe"
  printf 'lumen\n' >"$src/$ja1"
  printf 'soft\n' >"$src/$ja2"
  check "mkupdate packs them" "$MKUPDATE" pack --stub "$C/pack/stub.exe" \
    --out "$U/japanese.exe" --verify-dir "$src" "$src/$ja1" "$src/$ja2"
  check "mkupdate.exe packs the same bytes" pack_with_mkupdate_exe "$ja1" "$ja2"
  check "mkupdate.exe lists the names in UTF-8" eval \
    'wine "$BUILD/mkupdate.exe" list "$U_WIN\\japanese.exe" |
      grep -q "^$ja2 .* verified"'
  reset_game
  set_registry REG_SZ
  drive japanese-entries --box question:confirm:yes --box info:done:ok \
    --exit 0 "$U_WIN\\japanese.exe"
  check "$ja1 created under its name" same_file "$GAME/$ja1" "$src/$ja1"
  check "$ja2 created under its name" same_file "$GAME/$ja2" "$src/$ja2"
  printf 'game.exe\ndata1.arc\nreadme.txt\n\x83\x8b\x81\x5b\x83\x81\x83\x93.dat\n\x83\x5c\x83\x74\x83\x67.txt\nvrx.hvl\n\0' \
    >"$F/uninst.japanese"
  check "uninst.lst holds the names in code page 932" \
    same_file "$GAME/uninst.lst" "$F/uninst.japanese"
}

# A folder with a Japanese name: the registry hands it to the narrow calls
# in code page 932, and ソ ends in 0x5C, the byte of a backslash.
add_scenario japanese-folder
scenario_japanese-folder() {
  GAME=$C/ソフト/ルーメンホロウ
  GAME_WIN='C:\ソフト\ルーメンホロウ'
  reset_game
  set_registry REG_SZ
  chmod a-w "$GAME/data1.arc"
  drive japanese --box question:confirm:yes --box info:done:ok --exit 0 \
    "$U_WIN\\complete.exe"
  check_complete_install
  GAME=$C/Games/Lumenhollow
  GAME_WIN='C:\Games\Lumenhollow'
  set_registry REG_SZ
}

# An entry of 40 MiB, the size of the game's largest archives: verified and
# installed whole; the same entry with one byte changed deep inside it (at
# 30 MiB, far past every block the kernels take at their start) is refused
# before anything of it is written.
add_scenario large-entry
scenario_large-entry() {
  reset_game
  mkdir -p "$F/large"
  [ -e "$F/large/data2.arc" ] ||
    head -c $((40 << 20)) /dev/urandom >"$F/large/data2.arc"
  pack large.exe --verify-dir "$F/large" "$F/large/data2.arc"
  drive large --box question:confirm:yes --box info:done:ok --exit 0 \
    "$U_WIN\\large.exe"
  check "the 40 MiB entry installed byte for byte" \
    same_file "$GAME/data2.arc" "$F/large/data2.arc"
  reset_game
  # The entry's data starts after the header, two directory records and
  # the payload's start.
  local at=$((1048576 + 16 + 2 * 32 + (30 << 20)))
  local byte
  byte=$(od -An -tu1 -j "$at" -N1 "$U/large.exe")
  printf "\\$(printf %o $((byte ^ 0x40)))" |
    dd of="$U/large.exe" bs=1 seek="$at" conv=notrunc status=none
  drive large-damaged --box question:confirm:yes --box warning:corrupt:ok \
    --exit 0x80000003 "$U_WIN\\large.exe"
  check "the damaged 40 MiB entry never reached the disk" \
    absent "$GAME/data2.arc"
  check "uninst.lst unchanged" list_unchanged
}

# The checksum kernels as 32-bit Windows code (e2e/kernels.cpp), called from
# stacks 0, 4, 8 and 12 bytes past a multiple of 16, since 32-bit Windows
# promises 4: each kernel this processor has must run and agree with the
# byte loop on every stack. A copy whose kernels trust the stack to be
# aligned to 16 (build/win32-trusting, made by the stage) must fail.
add_scenario checksum-kernels win32
scenario_checksum-kernels() {
  local flags want=byte_loop kernel count=1 code=0
  flags=" $(grep -m1 '^flags' /proc/cpuinfo | cut -d: -f2) "
  for kernel in sse2 avx2; do
    [[ $flags == *" $kernel "* ]] && want+=" $kernel" count=$((count + 1))
  done
  if [[ $flags == *" avx512f "* && $flags == *" avx512bw "* ]]; then
    want+=" avx512" count=$((count + 1))
  fi
  local log=$W/$PROGRAM-kernels.log
  timeout 300 "${NODAC[@]}" "$WINE_LOADER" "$BUILD/e2e/e2e_kernels.exe" >"$log" 2>&1 ||
    code=$?
  sed -i 's/\r$//' "$log"
  sed 's/^/      /' "$log"
  check "the program ended with 0 (it ended with $code)" test "$code" = 0
  check "it ran the kernels this processor has: $want" \
    grep -qx "kernels: $want" "$log"
  check "every kernel agreed on all four stacks" eval \
    '[ "$(grep -c "^ok " "$log")" = $((4 * count)) ] &&
      grep -qx "every kernel agreed on every stack" "$log"'
  local trusting=$W/$PROGRAM-kernels-trusting.log
  code=0
  timeout 300 "${NODAC[@]}" "$WINE_LOADER" build/win32-trusting/e2e/e2e_kernels.exe \
    >"$trusting" 2>&1 || code=$?
  sed -i 's/\r$//' "$trusting"
  grep '^FAIL' "$trusting" | sed 's/^/      trusting copy: /'
  check "kernels that trust a 16-byte stack fault there (exit $code)" eval \
    '[ "$code" != 0 ] && grep -q "^FAIL exception 0x" "$trusting" &&
      ! grep -Eq "^ok +(sse2|avx2|avx512): stack pointer (4|8|12) " "$trusting"'
}

# The Windows path under which Wine's drive Z: shows a Linux path.
z_path() { local p=$1; echo "Z:${p//\//\\}"; }

# mkupdate.exe of this program's build, on Windows paths: it packs the
# complete update byte for byte as the native mkupdate does, lists it as
# the native one does, and verifies the folder the update installed into.
add_scenario mkupdate-exe
scenario_mkupdate-exe() {
  reset_game
  local tool=$BUILD/mkupdate.exe rel code=0
  rel=$(z_path "$F/release")
  wine "$tool" pack --stub "$(z_path "$PWD/$BUILD/updater.exe")" \
    --out "$U_WIN\\by-tool.exe" --verify-dir "$rel" "Data1.arc=$rel\\data1.arc" \
    "$rel\\Patch01.DAT" "movie/Op.dat=$rel\\movie\\Op.dat" \
    >"$W/$PROGRAM-tool-pack.log" 2>&1 || code=$?
  check "mkupdate.exe pack ended with 0 (it ended with $code)" test "$code" = 0
  check "its update is byte for byte the native mkupdate's" \
    same_file "$U/by-tool.exe" "$U/complete.exe"
  code=0
  wine "$tool" list "$U_WIN\\by-tool.exe" >"$W/$PROGRAM-tool-list.log" 2>&1 ||
    code=$?
  check "mkupdate.exe list ended with 0 (it ended with $code)" test "$code" = 0
  check "it lists what the native mkupdate lists" test \
    "$(tail -n +2 "$W/$PROGRAM-tool-list.log" | tr -d '\r')" = \
    "$("$MKUPDATE" list "$U/complete.exe" | tail -n +2)"
  drive by-tool --box question:confirm:yes --box info:done:ok --exit 0 \
    "$U_WIN\\by-tool.exe"
  code=0
  wine "$tool" verify "$GAME_WIN\\vrx.hvl" "$GAME_WIN" \
    >"$W/$PROGRAM-tool-verify.log" 2>&1 || code=$?
  check "mkupdate.exe verify finds the installed folder whole" test "$code" = 0
  printf 'changed\n' >"$GAME/Patch01.DAT"
  code=0
  wine "$tool" verify "$GAME_WIN\\vrx.hvl" "$GAME_WIN" \
    >"$W/$PROGRAM-tool-verify.log" 2>&1 || code=$?
  check "and names a changed file, with exit 1" eval \
    '[ "$code" = 1 ] && grep -q Patch01.DAT "$W/$PROGRAM-tool-verify.log"'
}

# mkupdate.exe interrupted by Ctrl+C while it writes an update of 256 MiB:
# e2e_interrupt, in a console that Wine keeps on a pseudo-terminal, presses
# it once the unfinished file holds 32 MiB. That file goes, no update
# appears, and the tool ends with STATUS_CONTROL_C_EXIT, never 0.
add_scenario mkupdate-exe-interrupted
scenario_mkupdate-exe-interrupted() {
  local big=$F/big out=$U/interrupted log=$U/interrupted.log code=0
  if [ ! -d "$big" ]; then
    mkdir -p "$big"
    head -c 128M /dev/urandom >"$big/a.arc"
    head -c 128M /dev/urandom >"$big/b.arc"
  fi
  rm -rf "$out" "$log"
  mkdir -p "$out"
  local dir command
  dir=$(z_path "$big")
  command="\"$(z_path "$PWD/$BUILD/mkupdate.exe")\" pack --stub"
  command+=" \"$(z_path "$PWD/$BUILD/updater.exe")\""
  command+=" --out \"$U_WIN\\interrupted\\big.exe\" --verify-dir \"$dir\""
  command+=" \"$dir\\a.arc\" \"$dir\\b.arc\""
  # script gives Wine a terminal, from which it makes the console.
  SHELL=/bin/bash timeout 180 script -qec "$(printf '%q ' "${NODAC[@]}" \
    "$WINE_LOADER" 'C:\e2e\e2e_interrupt.exe' "$U_WIN\\interrupted.log" \
    "$U_WIN\\interrupted\\big.exe.*.tmp" $((32 << 20)) "$command")" \
    /dev/null </dev/null >/dev/null 2>&1 || code=$?
  sed -i 's/\r$//' "$log" 2>/dev/null || true
  check "e2e_interrupt pressed Ctrl+C and saw the tool end (it ended with $code)" \
    test "$code" = 0
  check "it pressed it while the unfinished file was being written" \
    grep -Eq '^seen big\.exe\.[0-9]+-0\.tmp [0-9]+$' "$log"
  check "the tool ended with STATUS_CONTROL_C_EXIT" grep -qx 'exit 0xC000013A' "$log"
  check "it left nothing in the output's folder" \
    test -z "$(ls -A "$out")"
}

# loaded TRACE: "THREAD PATH" for every module in Wine's +loaddll trace,
# the path in small letters with single backslashes.
loaded() {
  sed -n 's/^\([0-9a-f]*\):trace:loaddll:.*Loaded L"\([^"]*\)".*/\1 \2/p' "$1" |
    sed 's/\\\\/\\/g' | tr 'A-Z' 'a-z'
}

# dlls_loaded_by TRACE EXE [N]: the file names of the DLLs that the N-th
# process (the first by default) which loaded EXE loaded (the updater has
# one thread, the one that loaded its own file).
dlls_loaded_by() {
  local exe tid
  exe=$(tr 'A-Z' 'a-z' <<<"$2")
  tid=$(loaded "$1" | awk -v exe="$exe" -v n="${3:-1}" '
    $2 == exe && ++seen == n {print $1; exit}')
  [ -n "$tid" ] || return 0
  loaded "$1" | awk -v tid="$tid" -v exe="$exe" '$1 == tid && $2 != exe {
    n = split($2, part, "\\"); print part[n] }' | sort -u
}

# A DLL planted beside the update under the name of a DLL the updater
# loads, with Wine told to prefer a native DLL of that name, must never be
# loaded: the updater runs elevated from folders anyone can write to.
# That holds for every DLL loaded once the program runs; those the system
# loads before its first instruction (its imports and theirs) the program
# cannot protect. Windows takes them from System32 all the same, as known
# DLLs; Wine, told to prefer native ones, takes them from beside the
# program, so they are left out here: the DLLs loaded by a second updater,
# which ends at once having called nothing that loads one. Left out too are
# the DLLs Windows lists as known (KnownDLLs), which it never takes from
# anywhere but System32; Wine keeps no such list, and loads a planted
# ole32.dll from beside the program in spite of the restricted search.
KNOWN_DLLS="advapi32.dll combase.dll gdi32.dll imm32.dll kernel32.dll msvcrt.dll
  ole32.dll oleaut32.dll rpcrt4.dll sechost.dll shell32.dll shlwapi.dll
  user32.dll"
add_scenario dll-planting
scenario_dll-planting() {
  reset_game
  WINEDEBUG=-all,+loaddll drive dlls-seen --box question:confirm:yes \
    --box info:done:ok --exit 0 "$U_WIN\\complete.exe"
  local all at_start names
  all=$(dlls_loaded_by "$(stderr_of dlls-seen)" "$U_WIN\\complete.exe")
  reset_game
  WINEDEBUG=-all,+loaddll drive dlls-at-start --second \
    --box question:confirm:no --exit -3 "$U_WIN\\complete.exe"
  at_start=$(dlls_loaded_by "$(stderr_of dlls-at-start)" \
    "$U_WIN\\complete.exe" 2)
  names=$(comm -23 <(echo "$all") <(echo "$at_start") |
    comm -23 - <(tr -s ' \n' '\n' <<<"$KNOWN_DLLS" | sed '/^$/d' | sort))
  echo "      loaded before the program runs: $(echo $at_start)"
  echo "      loaded by the program, planted: $(echo $names)"
  check "the trace names the DLLs loaded at the start, user32.dll among them" \
    grep -qx user32.dll <<<"$at_start"
  check "and DLLs the program loads itself, uxtheme.dll among them" \
    grep -qx uxtheme.dll <<<"$names"
  local dir=$U/planted name overrides=
  rm -rf "$dir" "$C/planted"
  mkdir -p "$dir" "$C/planted"
  cp "$U/complete.exe" "$dir/"
  for name in $names; do
    cp "$BUILD/e2e/planted.dll" "$dir/$name"
    overrides+="${overrides:+,}${name%.dll}"
  done
  reset_game
  WINEDLLOVERRIDES="$WINEDLLOVERRIDES;$overrides=n,b" WINEDEBUG=-all,+loaddll \
    drive planted --box question:confirm:yes --box info:done:ok --exit 0 \
    "$U_WIN\\planted\\complete.exe"
  local marks
  marks=$(cd "$C/planted" && ls)
  check "no planted DLL was loaded${marks:+ (loaded: $(echo $marks))}" \
    test -z "$marks"
  local exe from_folder
  exe=$(tr 'A-Z' 'a-z' <<<"$U_WIN\\planted\\complete.exe")
  from_folder=$(loaded "$(stderr_of planted)" | awk -v exe="$exe" '
    { path = $0; sub(/^[^ ]* /, "", path) }
    index(path, substr(exe, 1, length(exe) - 12)) == 1 && path != exe')
  check "nothing but the update was loaded from its folder" \
    test -z "$from_folder"
  check_complete_install
}

# The updater ended by TerminateProcess, as the task manager ends it, at
# moments spread over an update of three large entries over an older
# install. After each kill every file of the update is whole: its old
# version (absent if the game did not have it) or its new one, and the
# uninstall list is its old text or the merged one. Beside them there may
# be the temporary file of the entry being written; the next complete run
# replaces it and leaves none.
KILL_NAMES=(data1.arc data2.arc data3.arc)
reset_old_install() {
  reset_game
  cp "$F/kill/old/data1.arc" "$F/kill/old/data2.arc" "$GAME/"
}
# whole_after_kill: prints how many of the update's files are new and how
# many temporary files there are; fails, saying why, if a file is not whole.
whole_after_kill() {
  local name fresh=0 temps=0 path
  for name in "${KILL_NAMES[@]}" vrx.hvl; do
    path=$GAME/$name
    if [ -e "$path" ] && { [ "$name" = vrx.hvl ] ||
      cmp -s "$path" "$F/kill/new/$name"; }; then
      fresh=$((fresh + 1))
    elif [ "$name" != vrx.hvl ] && [ -e "$F/kill/old/$name" ] &&
      cmp -s "$path" "$F/kill/old/$name"; then
      :
    elif [ ! -e "$path" ] && [ ! -e "$F/kill/old/$name" ]; then
      :
    else
      echo "$name is neither old nor new ($(stat -c %s "$path" 2>/dev/null || echo 0) bytes)"
      return 1
    fi
  done
  if cmp -s "$GAME/uninst.lst" "$F/kill/uninst.after"; then
    fresh=$((fresh + 1))
  elif ! list_unchanged; then
    echo "uninst.lst is neither old nor merged"
    return 1
  fi
  for path in "$GAME"/*; do
    name=${path##*/}
    case " ${KILL_NAMES[*]} vrx.hvl uninst.lst game.exe readme.txt movie " in
      *" $name "*) ;;
      *)
        [[ $name == *.updating ]] || { echo "stray file $name"; return 1; }
        temps=$((temps + 1))
        ;;
    esac
  done
  echo "$fresh $temps"
}
add_scenario terminated-mid-entry
scenario_terminated-mid-entry() {
  if [ ! -e "$F/kill/new/data3.arc" ]; then
    mkdir -p "$F/kill/new" "$F/kill/old"
    head -c $((40 << 20)) /dev/urandom >"$F/kill/new/data1.arc"
    head -c $((32 << 20)) /dev/urandom >"$F/kill/new/data2.arc"
    head -c $((24 << 20)) /dev/urandom >"$F/kill/new/data3.arc"
    head -c $((36 << 20)) /dev/urandom >"$F/kill/old/data1.arc"
    head -c $((30 << 20)) /dev/urandom >"$F/kill/old/data2.arc"
    printf 'game.exe\ndata1.arc\nreadme.txt\ndata2.arc\ndata3.arc\nvrx.hvl\n\0' \
      >"$F/kill/uninst.after"
  fi
  pack kill.exe --verify-dir "$F/kill/new" "$F/kill/new/data1.arc" \
    "$F/kill/new/data2.arc" "$F/kill/new/data3.arc"
  # Whole runs first, timed from Yes to the done box: the kills are spread
  # over the faster, which has the entries' sources in the page cache.
  local run whole= took
  for run in 1 2; do
    reset_old_install
    drive "kill-whole-$run" --timed --box question:confirm:yes \
      --box info:done:ok --exit 0 "$U_WIN\\kill.exe"
    took=$(sed -n 's/^box 2 after \([0-9]*\) ms$/\1/p' \
      "$(out_of "kill-whole-$run")")
    [ -z "$took" ] || [ -n "$whole" ] && [ "$whole" -le "$took" ] ||
      whole=$took
  done
  check "the whole update took ${whole:-?} ms" test -n "$whole"
  whole=${whole:-500}
  local k state problems=() cut=0 ended=0 rounds=16 fresh temps
  for k in $(seq 1 $rounds); do
    reset_old_install
    drive "kill-$k" --box question:confirm:yes \
      --kill-after-ms $((whole * k / (rounds + 1))) "$U_WIN\\kill.exe" >/dev/null
    grep -qx terminated "$(out_of "kill-$k")" && ended=$((ended + 1))
    if state=$(whole_after_kill); then
      read -r fresh temps <<<"$state"
      [ "$temps" -gt 0 ] && cut=$((cut + 1))
      echo "      kill $k after $((whole * k / (rounds + 1))) ms: $fresh of 5 new, $temps temporary"
    else
      problems+=("kill $k: $state")
    fi
  done
  check "every file whole after each of $rounds kills${problems[*]:+: ${problems[*]}}" \
    test ${#problems[@]} -eq 0
  check "the kills ended a running update ($ended of $rounds)" test $ended -gt 0
  check "kills fell in the middle of an entry ($cut left its temporary file)" \
    test $cut -gt 0
  # The last kill's leftovers, replaced by a complete run.
  drive kill-after --box question:confirm:yes --box info:done:ok --exit 0 \
    "$U_WIN\\kill.exe"
  check "the next run completes the update, no temporary file left" \
    test "$(whole_after_kill)" = "5 0"
}
