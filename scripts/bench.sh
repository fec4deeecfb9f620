#!/usr/bin/env bash
# Benchmarks, on an optimized (native, RelWithDebInfo) build:
#  1. the checksum: ComputeEntryChecksum and each kernel on 1 KiB, 64 KiB
#     and 40 MiB (Google Benchmark, median of the repetitions);
#  2. the whole run: an update of ENTRIES files of ENTRY_MIB MiB each (five of
#     40 MiB by default, all named in its verification list) installed by the
#     native updater into a scratch folder, against `cp` of the same files in
#     the same run, and against the updater's own reads and writes without
#     the checksum (bench/copy_through_buffer.cpp), once writing each file in
#     place, unflushed, and once replacing it whole as the updater does
#     (a temporary file, flushed, moved over the old one); where the run's
#     time goes, step by step (bench/install_steps.cpp); how long the moves
#     take, from the first rename to the last (strace); and one entry of
#     HUGE_MIB MiB (1,145, 1.2 GB, by default; 0 leaves it out), for peak
#     memory;
#     what names cost: a call and a listing by ASCII and by Japanese names,
#     which the stand-in converts, and the whole run of an update of five
#     small files named in ASCII into an ASCII folder against the same
#     named in Japanese into a Japanese folder;
#  3. mkupdate pack, list and verify of 300 MB against `cp` of the same
#     files; check of a release of part 2's files (200 MiB), one of them
#     changed, against `cp -r` of that release;
#  4. under Wine: each kernel in the i686 and x86-64 Windows programs, and
#     the update of part 2 installed by both, against Wine's own `copy` of
#     the same files and `sync`, and step by step (WINE_BENCH=0 leaves it
#     out).
# Every side is timed until its data is on the disk: `sync` runs within
# the timing, after the command. Median wall time of RUNS runs each, the
# fastest beside it, processor time, and peak memory from /usr/bin/time -v.
# Prints Markdown tables.
#
#   bash scripts/bench.sh                 # the figures in docs/performance.md
#   RUNS=1 ENTRY_MIB=1 HUGE_MIB=0 CHECKSUM=short bash scripts/bench.sh
#                                         # a smoke run
#   BASE=../old/build bash scripts/bench.sh
#                                         # and another build's updaters (an
#                                         # older commit's) beside these,
#                                         # run for run, in parts 2 and 4
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/lib.sh
. scripts/packages.sh
require_packages "${pkgs_native[@]}" "${pkgs_bench[@]}"

RUNS=${RUNS:-15}
ENTRIES=${ENTRIES:-5}
ENTRY_MIB=${ENTRY_MIB:-40}
HUGE_MIB=${HUGE_MIB:-1145}
CHECKSUM=${CHECKSUM:-full}
work=${BENCH_DIR:-build/bench}

cmake --preset native >/dev/null
# The publisher's tool packs the update; MKUPDATE may name another build.
mkupdate=${MKUPDATE:-build/native/mkupdate}
targets=(updater checksum_bench names_bench copy_through_buffer install_steps)
[ -n "${MKUPDATE:-}" ] || targets+=(mkupdate)
cmake --build --preset native --target "${targets[@]}" >/dev/null

median() { sort -g | awk '{v[NR] = $1} END {print v[int((NR + 1) / 2)]}'; }

# --- 1. The checksum ----------------------------------------------------
if [ "$CHECKSUM" = short ]; then
  bench_args=(--benchmark_min_time=0.01)
else
  bench_args=(--benchmark_min_time=0.5 --benchmark_repetitions=5
    --benchmark_report_aggregates_only=true)
fi
build/native/bench/checksum_bench "${bench_args[@]}" --benchmark_format=csv \
  2>/dev/null >"$work.checksum.csv" || {
  echo "checksum benchmark failed" >&2
  exit 1
}
echo "| checksum | 1 KiB | 64 KiB | 40 MiB |"
echo "|---|---|---|---|"
for name in ComputeEntryChecksum Kernel/byte_loop Kernel/sse2 Kernel/avx2 \
  Kernel/avx512; do
  row="| $name"
  for size in 1024 65536 41943040; do
    # the median line when there are repetitions, else the only one
    gbs=$(awk -F, -v want="\"BM_$name/$size" '
      index($1, want) == 1 && ($1 ~ /_median"$/ || $1 == want "\"") {
        printf "%.2f", $6 / 1e9 }' "$work.checksum.csv")
    row="$row | ${gbs:-n/a} GB/s"
  done
  echo "$row |"
done
echo

# --- 2. The whole run ---------------------------------------------------
rm -rf "$work"
mkdir -p "$work/src" "$work/game" "$work/copy" "$work/run"
for i in $(seq 1 "$ENTRIES"); do
  head -c $((ENTRY_MIB << 20)) /dev/urandom >"$work/src/data$i.arc"
done
"$mkupdate" pack --stub build/native/updater --out "$work/setup" \
  --verify-dir "$work/src" "$work"/src/*.arc >/dev/null
set_install_folder "$work/registry" "$PWD/$work/game"
if [ -n "${BASE:-}" ]; then
  mkdir -p "$work/base/game"
  "$mkupdate" pack --stub "$BASE/native/updater" --out "$work/base/setup" \
    --verify-dir "$work/src" "$work"/src/*.arc >/dev/null
  set_install_folder "$work/base/registry" "$PWD/$work/base/game"
fi

# Warm the page cache for both sides alike.
cat "$work/setup" "$work"/src/*.arc >/dev/null

# Peak memory and processor time (user + system) of the run just timed.
record() {
  awk -F': ' '/Maximum resident/ {print $2}' "$work/time.txt" >>"$work/$1.peaks"
  awk -F': ' '/User time/ {u = $2} /System time/ {s = $2}
    END {printf "%.2f\n", u + s}' "$work/time.txt" >>"$work/$1.cpu"
}

# Times one run of "$@" as side $1: wall time, peak memory, processor time.
# Each timed run starts with nothing left to write out, and its files are
# removed right after it, unwritten. Removing them only before the side's
# next run, after sync had written out the other sides' 200 MB each, kept
# their memory free long enough (about two seconds) for this virtual machine
# to hand it back to its host (free page reporting): the next run then
# waited while the host brought it back, and up to half of the updater's
# runs stalled for tenths of a second (one or two in 15 still do).
timed() {
  local side=$1 code=0
  shift
  sync
  local t0=$EPOCHREALTIME
  /usr/bin/time -v -o "$work/time.txt" "$@" >/dev/null 2>&1 || code=$?
  sync
  local t1=$EPOCHREALTIME
  if [ "$code" != 0 ]; then
    echo "$side failed with exit code $code" >&2
    exit 1
  fi
  echo "$t0 $t1" | awk '{printf "%.4f\n", $2 - $1}' >>"$work/$side.times"
  record "$side"
}

check_installed() {
  local f
  for f in "$work"/src/*.arc; do
    cmp -s "$f" "$work/game/${f##*/}" || {
      echo "installed ${f##*/} differs from its source" >&2
      exit 1
    }
  done
}

printf 'y\n' >"$work/yes"
for _ in $(seq 1 "$RUNS"); do
  printf 'game.exe\n\0' >"$work/game/uninst.lst"
  timed update env UPDATER_REGISTRY="$work/registry" \
    XDG_RUNTIME_DIR="$work/run" "$work/setup" <"$work/yes"
  check_installed
  rm -f "$work"/game/*
  if [ -n "${BASE:-}" ]; then
    printf 'game.exe\n\0' >"$work/base/game/uninst.lst"
    timed base env UPDATER_REGISTRY="$work/base/registry" \
      XDG_RUNTIME_DIR="$work/run" "$work/base/setup" <"$work/yes"
    rm -f "$work"/base/game/*
  fi
  timed copy cp "$work"/src/*.arc "$work/copy/"
  rm -f "$work"/copy/*
  timed buffer build/native/bench/copy_through_buffer "$work/copy" \
    "$work"/src/*.arc
  rm -f "$work"/copy/*
  timed whole build/native/bench/copy_through_buffer --whole "$work/copy" \
    "$work"/src/*.arc
  rm -f "$work"/copy/*
done

# row LABEL SIDE: median wall time, MB/s, fastest, median processor time,
# peak memory.
mb=$(awk -v mib=$((ENTRIES * ENTRY_MIB)) 'BEGIN {print mib * 1048576 / 1e6}')
row() {
  local t best cpu peak
  t=$(median <"$work/$2.times")
  best=$(sort -g "$work/$2.times" | head -1)
  cpu=$(median <"$work/$2.cpu")
  peak=$(sort -g "$work/$2.peaks" | tail -1)
  awk -v label="$1" -v t="$t" -v best="$best" -v cpu="$cpu" -v peak="$peak" \
    -v mb="$mb" 'BEGIN {
    printf "| %s | %.3f s | %.0f | %.3f s | %.2f s | %.1f MiB |\n",
      label, t, mb / t, best, cpu, peak / 1024 }'
}
# ratio LABEL SIDE BASE: the median, fastest and processor time of SIDE over
# those of BASE.
ratio() {
  local a b
  a=$(median <"$work/$2.times") b=$(median <"$work/$3.times")
  local ab bb ac bc
  ab=$(sort -g "$work/$2.times" | head -1) bb=$(sort -g "$work/$3.times" | head -1)
  ac=$(median <"$work/$2.cpu") bc=$(median <"$work/$3.cpu")
  awk -v label="$1" -v a="$a" -v b="$b" -v ab="$ab" -v bb="$bb" -v ac="$ac" \
    -v bc="$bc" 'BEGIN {
    printf "| %s | %.2f× | | %.2f× | %s | |\n", label, a / b, ab / bb,
      (bc > 0 ? sprintf("%.2f×", ac / bc) : "") }'
}

update_peak=$(sort -g "$work/update.peaks" | tail -1)
echo "| $ENTRIES × $ENTRY_MIB MiB, $RUNS runs, until on disk | median wall time | MB/s | fastest | processor time | peak memory |"
echo "|---|---|---|---|---|---|"
row "updater (each file replaced whole, flushed)" update
row "cp + sync" copy
row "its reads and writes, in place, no flush, + sync" buffer
row "its reads and writes, replaced whole, flushed" whole
ratio "updater / (cp + sync)" update copy
if [ -n "${BASE:-}" ]; then
  row "the other build's updater" base
  ratio "updater / the other build's" update base
fi
ratio "the flushes: replaced whole / in place" whole buffer
ratio "the checksum: updater / replaced whole" update whole
awk -v up="$update_peak" 'BEGIN {
  printf "\nPeak memory of the updater: %.1f MiB.\n", up / 1024 }'

# Where the updater's time goes: each step alone, adding one thing to the
# one before, in one process; the median of RUNS runs.
echo
echo "| step by step, $ENTRIES × $ENTRY_MIB MiB | median |"
echo "|---|---|"
printf 'game.exe\n\0' >"$work/game/uninst.lst"
build/native/bench/install_steps "$work/setup" "$PWD/$work/game" "$RUNS" |
  awk -F'\t' '{printf "| %s | %.1f ms |\n", $1, $2}'
rm -f "$work"/game/*

# What the sweep of leftovers costs: the whole run of an update of one small
# file into a folder holding nothing else, and into one of 10,000 files in
# 100 folders, which the run lists for leftovers of killed runs.
head -c 1024 /dev/urandom >"$work/src/small.dat"
"$mkupdate" pack --stub build/native/updater --out "$work/small" \
  --verify-dir "$work/src" "$work/src/small.dat" >/dev/null
mkdir -p "$work/sweep"
printf 'game.exe\n\0' >"$work/sweep/uninst.lst"
whole_run() {
  build/native/bench/install_steps "$work/small" "$PWD/$work/sweep" "$RUNS" |
    awk -F'\t' '$1 == "the whole run" {print $2}'
}
empty=$(whole_run)
for d in $(seq 1 100); do
  mkdir -p "$work/sweep/d$d"
  (cd "$work/sweep/d$d" && touch $(seq -f 'f%g.dat' 1 100))
done
full=$(whole_run)
echo
echo "| the sweep of leftovers, update of 1 KiB | median whole run |"
echo "|---|---|"
echo "| into a folder of nothing else | $empty ms |"
echo "| into a folder of 10,000 files in 100 folders | $full ms |"
rm -rf "$work/sweep" "$work/small" "$work/src/small.dat"

# What the names cost: one call that names a file in a held folder and one
# listing of five names, with ASCII names and with Japanese ones, which the
# stand-in converts from code page 932 to UTF-8 and back
# (bench/names_bench.cpp); and the whole run of an update of five files of
# 1 KiB named data1.arc ... into an ASCII folder, and of the same named
# ルーメン1.dat ... into the folder ゲーム (install_steps takes the folder as
# the updater does, in code page 932).
build/native/bench/names_bench --benchmark_repetitions=5 \
  --benchmark_report_aggregates_only=true --benchmark_format=csv \
  2>/dev/null >"$work.names.csv"
names_ns() { # names_ns BENCHMARK ARG: the median time of one, in ns
  awk -F, -v want="\"$1/$2_median\"" '$1 == want {printf "%.0f", $3}' \
    "$work.names.csv"
}
names=$work/names
mkdir -p "$names/ascii-src" "$names/japanese-src" "$names/ascii" "$names/ゲーム"
for i in 1 2 3 4 5; do
  head -c 1024 /dev/urandom >"$names/ascii-src/data$i.arc"
  cp "$names/ascii-src/data$i.arc" "$names/japanese-src/ルーメン$i.dat"
done
for kind in ascii japanese; do
  "$mkupdate" pack --quiet --stub build/native/updater \
    --out "$names/$kind.exe" --verify-dir "$names/$kind-src" "$names/$kind-src"/*
done
printf 'game.exe\n\0' >"$names/ascii/uninst.lst"
printf 'game.exe\n\0' >"$names/ゲーム/uninst.lst"
names_run() { # names_run KIND FOLDER: the median whole run of RUNS, in ms
  build/native/bench/install_steps "$names/$1.exe" \
    "$(printf '%s' "$PWD/$names/$2" | iconv -t CP932)" "$RUNS" |
    awk -F'\t' '$1 == "the whole run" {print $2}' >>"$names/$1.times"
}
# Taken in turns, so that what else the machine does falls on both alike.
for _ in 1 2 3 4 5; do
  names_run ascii ascii
  names_run japanese ゲーム
done
echo
echo "| names on the stand-in | ASCII | Japanese |"
echo "|---|---|---|"
echo "| a call naming a file in a held folder | $(names_ns BM_NameAFile 0) ns | $(names_ns BM_NameAFile 1) ns |"
echo "| a listing of five names | $(names_ns BM_ListFiveNames 0) ns | $(names_ns BM_ListFiveNames 1) ns |"
echo "| the whole run, update of 5 × 1 KiB, median of 5 × $RUNS | $(median <"$names/ascii.times") ms | $(median <"$names/japanese.times") ms |"
rm -rf "$names"

# The moves: from the first entry's rename to the last one's, the only time
# the folder holds old and new files together (strace's time stamps; the
# tracing itself slows each call).
if command -v strace >/dev/null; then
  printf 'game.exe\n\0' >"$work/game/uninst.lst"
  env UPDATER_REGISTRY="$work/registry" XDG_RUNTIME_DIR="$work/run" \
    strace -f -ttt -qq -e trace=rename,renameat,renameat2 -o "$work/moves.txt" \
    "$work/setup" <"$work/yes" >/dev/null 2>&1
  awk '/\.updating", / && !/uninst\.lst/ {
      if (first == "") first = $2; last = $2 }
    END { printf "\nThe moves of the %d entries took %.3f ms, first to last.\n",
      n, (last - first) * 1000 }' n="$ENTRIES" "$work/moves.txt"
  rm -f "$work"/game/*
fi

# One entry of HUGE_MIB MiB: the updater's peak memory does not grow with
# it. One run each, the updater against cp + sync.
if [ "$HUGE_MIB" != 0 ]; then
  huge=$work/huge
  rm -rf "$huge"
  mkdir -p "$huge/src" "$huge/game" "$huge/copy"
  head -c $((HUGE_MIB << 20)) /dev/urandom >"$huge/src/huge.arc"
  "$mkupdate" pack --quiet --stub build/native/updater --out "$huge/setup" \
    --verify-dir "$huge/src" "$huge/src/huge.arc"
  set_install_folder "$huge/registry" "$PWD/$huge/game"
  printf 'game.exe\n\0' >"$huge/game/uninst.lst"
  timed huge_update env UPDATER_REGISTRY="$huge/registry" \
    XDG_RUNTIME_DIR="$work/run" "$huge/setup" <"$work/yes"
  cmp -s "$huge/src/huge.arc" "$huge/game/huge.arc" || {
    echo "the huge entry installed differs from its source" >&2
    exit 1
  }
  timed huge_copy cp "$huge/src/huge.arc" "$huge/copy/"
  mb=$(awk -v mib="$HUGE_MIB" 'BEGIN {print mib * 1048576 / 1e6}')
  echo
  echo "| one entry of $HUGE_MIB MiB, 1 run, until on disk | wall time | MB/s | fastest | processor time | peak memory |"
  echo "|---|---|---|---|---|---|"
  row "updater" huge_update
  row "cp + sync" huge_copy
  rm -rf "$huge"
fi

# --- 3. mkupdate: pack, list and verify ----------------------------------
# MK_FILES files of MK_MB MB (six of 50 MB by default) packed with their
# verification list, the update listed, and the folder verified against it,
# each against `cp` of the same files. Median of MK_RUNS runs (RUNS by
# default), page cache warm.
bench_mkupdate() {
  local files=${MK_FILES:-6} each=${MK_MB:-50} runs=${MK_RUNS:-$RUNS} i
  local mk=$work/mk
  rm -rf "$mk"
  mkdir -p "$mk/src" "$mk/copy"
  for i in $(seq 1 "$files"); do
    head -c $((each * 1000000)) /dev/urandom >"$mk/src/data$i.arc"
  done
  cat "$mk"/src/* >/dev/null
  for _ in $(seq 1 "$runs"); do
    timed mk_cp cp "$mk"/src/data*.arc "$mk/copy/"
    rm -f "$mk"/copy/*
    timed mk_pack "$mkupdate" pack --stub build/native/updater \
      --out "$mk/setup" --verify-dir "$mk/src" "$mk"/src/data*.arc
    timed mk_list "$mkupdate" list "$mk/setup"
    timed mk_verify "$mkupdate" verify "$mk/setup" "$mk/src"
    rm -f "$mk/setup"
  done
  mb=$((files * each))
  echo
  echo "| mkupdate, $files × $each MB, $runs runs, until on disk | median wall time | MB/s | fastest | processor time | peak memory |"
  echo "|---|---|---|---|---|---|"
  row "cp + sync" mk_cp
  row "pack (with its list)" mk_pack
  row "list" mk_list
  row "verify" mk_verify
  ratio "pack / (cp + sync)" mk_pack mk_cp
  ratio "list / (cp + sync)" mk_list mk_cp
  ratio "verify / (cp + sync)" mk_verify mk_cp
}
bench_mkupdate

# check of a release of part 2's files (ENTRIES × ENTRY_MIB MiB, 200 MiB by
# default), one of them changed in the new release, against `cp -r` of the
# old release: the copy check makes, the update installed into it and the
# comparison with the new release, per old release. Its temporary folder
# is on the same disk as cp's copy.
bench_check() {
  local ck=$work/ck runs=${MK_RUNS:-$RUNS}
  rm -rf "$ck"
  mkdir -p "$ck/old" "$ck/tmp"
  cp "$work"/src/data*.arc "$ck/old/"
  printf 'game.exe\n\0' >"$ck/old/uninst.lst"
  cp -r "$ck/old" "$ck/new"
  head -c $((ENTRY_MIB << 20)) /dev/urandom >"$ck/new/data1.arc"
  "$mkupdate" pack --quiet --stub build/native/updater --out "$ck/setup" \
    --from "$ck/old" --to "$ck/new"
  cat "$ck"/old/* "$ck"/new/* "$ck/setup" >/dev/null
  for _ in $(seq 1 "$runs"); do
    timed ck_cp cp -r "$ck/old" "$ck/copy"
    rm -rf "$ck/copy"
    timed ck_check env TMPDIR="$ck/tmp" "$mkupdate" check "$ck/setup" \
      --from "$ck/old" --to "$ck/new"
  done
  mb=$(awk -v mib=$((ENTRIES * ENTRY_MIB)) 'BEGIN {print mib * 1048576 / 1e6}')
  echo
  echo "| mkupdate check, a release of $ENTRIES × $ENTRY_MIB MiB, 1 changed, $runs runs, until on disk | median wall time | MB/s | fastest | processor time | peak memory |"
  echo "|---|---|---|---|---|---|"
  row "cp -r + sync" ck_cp
  row "check (copy, update, compare)" ck_check
  ratio "check / (cp -r + sync)" ck_check ck_cp
  rm -rf "$ck"
}
bench_check

# --- 4. The Windows programs under Wine ---------------------------------
# Each kernel's GB/s in the i686 program (the product) and the x86-64 one,
# and the update of part 2 on each program's updater installed under Wine,
# RUNS runs each (scripts/wine/bench_wine.py). WINE_BENCH=0 leaves this out.
if [ "${WINE_BENCH:-1}" != 0 ]; then
  echo
  wine_programs=(win64)
  if kernel_runs_i386; then
    require_packages "${pkgs_wine_i386[@]}"
    wine_programs=(win32 win64)
  elif [ -x /usr/lib/wine/wine64 ]; then
    export WINE_LOADER=/usr/lib/wine/wine64
  fi
  require_packages "${pkgs_windows[@]}" "${pkgs_wine[@]}"
  require_japanese_locale
  for p in "${wine_programs[@]}"; do
    cmake --preset "$p" >/dev/null
    cmake --build --preset "$p" >/dev/null
  done
  WINE_PROGRAMS="${wine_programs[*]}" MKUPDATE="$mkupdate" \
    /usr/bin/python3 scripts/wine/bench_wine.py "$work" "$RUNS" \
    "$(median <"$work/update.times")" "$work"/src/*.arc
fi
