#!/usr/bin/env bash
# The native program and the whole unit suite built as i386 code, so that
# every size and overflow check runs with a 32-bit size_t, as in the
# product. GoogleTest is built from its sources with the same compiler;
# the programs run on the i386 C and C++ runtimes (multiarch), or, on a
# kernel that runs no 32-bit programs, under qemu-i386 on the biarch
# runtime.
set -euo pipefail
cd "$(dirname "$0")/../.."
. scripts/lib.sh
. scripts/packages.sh
require_packages binutils
# Tests of what the kernel itself does to the process, which qemu does not
# pass on: its RLIMIT_AS and the page faults counted with transparent huge
# pages off (qemu takes neither prctl nor the limit for the program's own);
# and of a check's start time, which a program under qemu reads of itself
# from qemu's own /proc/PID/stat, where other processes read the kernel's.
emulated_out=()
if kernel_runs_i386; then
  require_packages "${pkgs_native[@]}" "${pkgs_native32[@]}" \
    "${pkgs_native32_i386[@]}"
else
  require_packages "${pkgs_native[@]}" "${pkgs_native32[@]}" \
    "${pkgs_native32_qemu[@]}"
  echo "this kernel runs no 32-bit programs: the i386 suite runs under qemu-i386"
  run_i386_under_qemu
  kernel_runs_i386 || { echo "qemu-i386 does not run i386 programs" >&2; exit 1; }
  emulated_out=(UpdateFlowTest.MemoryDoesNotGrowWithTheEntries
    PayloadArchiveTest.BufferThatCannotGrowIsLeftEmpty
    JapaneseCheckTest.OnlyTheFoldersOfEndedChecksAreRemoved
    'Signals/CheckKillTest.LeavesNothingOnceTheNextHasRun/[0-9]+')
  echo "not run under qemu (the kernel's limits, a process's start time): ${emulated_out[*]}"
fi
cmake --preset native32 >/dev/null
cmake --build --preset native32
file=build/native32/updater_tests
# The suite must really be i386 code: an ELF class of 1 is 32-bit, and a
# machine of 3 is Intel 80386.
if [ "$(od -An -tu1 -j4 -N1 "$file" | tr -d ' ')" != 1 ] ||
  [ "$(od -An -tu2 -j18 -N2 "$file" | tr -d ' ')" != 3 ]; then
  echo "$file is not an i386 program" >&2
  exit 1
fi
if [ ${#emulated_out[@]} -gt 0 ]; then
  ctest --preset native32 -E "^($(IFS='|'; echo "${emulated_out[*]}"))\$"
else
  ctest --preset native32
fi
