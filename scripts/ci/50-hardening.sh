#!/usr/bin/env bash
# Hardening: the whole unit suite under AddressSanitizer and
# UndefinedBehaviorSanitizer (any report ends the test that made it), then
# each libFuzzer target for a bounded time from its corpus in fuzz/corpus/.
# A crash, a sanitizer report or a broken property fails the stage; the
# input that did it is left in build/fuzz/artifacts/.
#
# Takes about 6 minutes on two cores: 1 to build and run the suite under
# the sanitizers, 1 to build the fuzz targets, FUZZ_SECONDS (60) for each
# of the four targets.
set -euo pipefail
cd "$(dirname "$0")/../.."
. scripts/lib.sh
. scripts/packages.sh
require_packages "${pkgs_native[@]}" "${pkgs_hardening[@]}"
start=$SECONDS

cmake --preset asan >/dev/null
cmake --build --preset asan
ctest --preset asan

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz
fuzz_seconds=${FUZZ_SECONDS:-60}
artifacts=build/fuzz/artifacts
mkdir -p "$artifacts"
# Every allocation a file's sizes decide is checked against the bytes
# that are really there before it is made, and the updater stays within
# 16 MiB whatever the update: an allocation of 64 MiB or more is a finding
# (libFuzzer's malloc limit reports it with its stack). Entry buffers are
# mapped from the system, not allocated, and only the unit suite fails
# that mapping for real.
export ASAN_OPTIONS=halt_on_error=1:detect_leaks=1
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
for target in update_file verification_list uninstall_list checksum; do
  work=$(mktemp -d)
  began=$SECONDS
  set +e
  build/fuzz/fuzz/${target}_fuzzer -max_total_time="$fuzz_seconds" \
    -malloc_limit_mb=64 -rss_limit_mb=2048 -timeout=10 -print_final_stats=1 \
    -artifact_prefix="$artifacts/${target}-" \
    "$work" "fuzz/corpus/$target" >"$artifacts/$target.log" 2>&1
  status=$?
  set -e
  rm -rf "$work"
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$artifacts/$target.log")
  echo "fuzz $target: ${runs:-?} executions in $((SECONDS - began)) s, exit $status"
  if [ "$status" -ne 0 ]; then
    tail -n 60 "$artifacts/$target.log"
    exit 1
  fi
done
echo "hardening stage: $((SECONDS - start)) s"
