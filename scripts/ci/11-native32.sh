#!/usr/bin/env bash
# The native program and the whole unit suite built as i386 code, so that
# every size and overflow check runs with a 32-bit size_t, as in the
# product. GoogleTest is built from its sources with the same compiler;
# the programs run on the i386 C and C++ runtimes (multiarch). On a kernel
# that runs no 32-bit programs the stage says so and passes.
set -euo pipefail
cd "$(dirname "$0")/../.."
. scripts/lib.sh
. scripts/packages.sh
require_packages binutils
if ! kernel_runs_i386; then
  echo "this kernel runs no 32-bit programs: the i386 unit suite is not run"
  exit 0
fi
require_packages "${pkgs_native[@]}" "${pkgs_native32[@]}" \
  "${pkgs_native32_i386[@]}"
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
ctest --preset native32
