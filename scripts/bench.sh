#!/usr/bin/env bash
# Benchmarks, on an optimized (native, RelWithDebInfo) build:
#  1. the checksum: ComputeEntryChecksum and each kernel on 1 KiB, 64 KiB
#     and 40 MiB (Google Benchmark, median of the repetitions);
#  2. the whole run: an update of ENTRIES files of ENTRY_MIB MiB each (five of
#     40 MiB by default, all named in its verification list) installed by the
#     native updater into a scratch folder, against `cp` of the same files in
#     the same run; median wall time of RUNS runs each (and the fastest:
#     on a virtual machine whose host hands memory back and forth, some runs
#     of either side stall for tenths of a second), peak memory from
#     /usr/bin/time -v.
# Prints a Markdown table. Both sides read and write the page cache: nothing
# is synced, neither by the updater nor by cp.
#
#   bash scripts/bench.sh                 # the figures in the README
#   RUNS=1 ENTRY_MIB=1 CHECKSUM=short bash scripts/bench.sh   # a smoke run
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/lib.sh
need_packages cmake make g++ libgtest-dev libbenchmark-dev time coreutils

RUNS=${RUNS:-15}
ENTRIES=${ENTRIES:-5}
ENTRY_MIB=${ENTRY_MIB:-40}
CHECKSUM=${CHECKSUM:-full}
work=${BENCH_DIR:-build/bench}

cmake --preset native >/dev/null
# The publisher's tool packs the update; MKUPDATE may name another build.
mkupdate=${MKUPDATE:-build/native/mkupdate}
targets=(updater checksum_bench)
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

# Warm the page cache for both sides alike.
cat "$work/setup" "$work"/src/*.arc >/dev/null

# Peak memory and processor time (user + system) of the run just timed.
record() {
  awk -F': ' '/Maximum resident/ {print $2}' "$work/time.txt" >>"$work/$1.peaks"
  awk -F': ' '/User time/ {u = $2} /System time/ {s = $2}
    END {printf "%.2f\n", u + s}' "$work/time.txt" >>"$work/$1.cpu"
}

run_update() {
  rm -f "$work"/game/*
  printf 'game.exe\n\0' >"$work/game/uninst.lst"
  sync
  local t0=$EPOCHREALTIME code=0
  echo y | UPDATER_REGISTRY="$work/registry" XDG_RUNTIME_DIR="$work/run" \
    /usr/bin/time -v -o "$work/time.txt" "$work/setup" 2>/dev/null || code=$?
  local t1=$EPOCHREALTIME
  if [ "$code" != 0 ]; then
    echo "the update failed with exit code $code" >&2
    exit 1
  fi
  echo "$t0 $t1" | awk '{printf "%.4f\n", $2 - $1}' >>"$work/update.times"
  record update
}

run_copy() {
  rm -f "$work"/copy/*
  sync
  local t0=$EPOCHREALTIME
  /usr/bin/time -v -o "$work/time.txt" cp "$work"/src/*.arc "$work/copy/"
  local t1=$EPOCHREALTIME
  echo "$t0 $t1" | awk '{printf "%.4f\n", $2 - $1}' >>"$work/copy.times"
  record copy
}

# For reference: a copy through a user buffer, as the updater must make one
# (it needs the bytes in its memory for the checksum), where cp copies
# within the kernel (copy_file_range).
run_dd() {
  rm -f "$work"/copy/*
  sync
  local t0=$EPOCHREALTIME f
  for f in "$work"/src/*.arc; do
    /usr/bin/time -v -o "$work/time.txt" \
      dd if="$f" of="$work/copy/${f##*/}" bs=$((ENTRY_MIB << 20)) status=none
  done
  local t1=$EPOCHREALTIME
  echo "$t0 $t1" | awk '{printf "%.4f\n", $2 - $1}' >>"$work/dd.times"
}

for _ in $(seq 1 "$RUNS"); do
  run_update
  run_copy
  run_dd
done
for f in "$work"/src/*.arc; do
  cmp -s "$f" "$work/game/$(basename "$f")" || {
    echo "installed $(basename "$f") differs from its source" >&2
    exit 1
  }
done

update=$(median <"$work/update.times")
copy=$(median <"$work/copy.times")
dd=$(median <"$work/dd.times")
update_best=$(sort -g "$work/update.times" | head -1)
copy_best=$(sort -g "$work/copy.times" | head -1)
dd_best=$(sort -g "$work/dd.times" | head -1)
update_cpu=$(median <"$work/update.cpu")
copy_cpu=$(median <"$work/copy.cpu")
update_peak=$(sort -g "$work/update.peaks" | tail -1)
copy_peak=$(sort -g "$work/copy.peaks" | tail -1)
total_mib=$((ENTRIES * ENTRY_MIB))
echo "| $ENTRIES × $ENTRY_MIB MiB, $RUNS runs | median wall time | MB/s | fastest | processor time | peak memory |"
echo "|---|---|---|---|---|---|"
awk -v u="$update" -v c="$copy" -v d="$dd" -v uc="$update_cpu" -v cc="$copy_cpu" \
  -v ub="$update_best" -v cb="$copy_best" -v db="$dd_best" \
  -v mib="$total_mib" -v up="$update_peak" -v cp="$copy_peak" \
  -v entry="$ENTRY_MIB" 'BEGIN {
  mb = mib * 1048576 / 1e6
  printf "| updater | %.3f s | %.0f | %.3f s | %.2f s | %.1f MiB |\n", u, mb / u, ub, uc, up / 1024
  printf "| cp | %.3f s | %.0f | %.3f s | %.2f s | %.1f MiB |\n", c, mb / c, cb, cc, cp / 1024
  printf "| dd, one read and one write per file | %.3f s | %.0f | %.3f s | | |\n", d, mb / d, db
  printf "| updater / cp | %.2f× | | %.2f× | %.2f× | +%.1f MiB over the largest entry |\n",
    u / c, ub / cb, (cc > 0 ? uc / cc : 0), up / 1024 - entry
}'
