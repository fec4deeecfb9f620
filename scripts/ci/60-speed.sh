#!/usr/bin/env bash
# A smoke run of the benchmarks (scripts/bench.sh): the checksum benchmark
# builds and runs every kernel briefly, and a small update is packed,
# installed by the native updater and compared with its sources, then under
# Wine each kernel of the Windows programs runs and both install it. The
# figures themselves are not checked: timings on a shared machine are not
# tests. The checksum kernels' correctness is tested in the native stage.
set -euo pipefail
cd "$(dirname "$0")/../.."
. scripts/lib.sh
RUNS=1 ENTRIES=2 ENTRY_MIB=1 HUGE_MIB=0 CHECKSUM=short BENCH_DIR=build/bench-smoke \
  bash scripts/bench.sh
