#!/usr/bin/env bash
# The checksum kernels' object files, in every build: the SSE2 kernel must
# not use a single VEX-encoded (AVX) instruction, since it runs on
# processors without AVX, nor the AVX2 kernel an AVX-512 register; and each
# kernel file must define no symbol but its entry. A shared helper with
# external linkage would leave the linker free to keep the widest file's
# copy for every kernel. The helpers are also
# compiled without optimization, where nothing is inlined, to show that
# they stay internal even as separate functions. Last, the native mkupdate
# runs on an emulated processor without AVX (qemu, Nehalem), so with the
# SSE2 kernel, and checks updates packed with the widest kernel this
# machine has, and the other way round. Takes about 20 seconds after the Windows stage.
set -euo pipefail
cd "$(dirname "$0")/../.."
. scripts/lib.sh
. scripts/packages.sh
require_packages "${pkgs_native[@]}" "${pkgs_windows[@]}"


# check_kernel TOOL_PREFIX OBJECT ENTRY [sse2|avx2]
check_kernel() {
  local prefix=$1 object=$2 entry=$3 kind=${4:-}
  local symbols
  symbols=$("${prefix}nm" -g --defined-only "$object" | awk '{print $NF}')
  [ "$symbols" = "$entry" ] ||
    fail "$object defines more than $entry:"$'\n'"$symbols"
  if [ "$kind" = sse2 ]; then
    local vex
    vex=$("${prefix}objdump" -d --no-show-raw-insn "$object" |
      awk -F'\t' 'NF >= 2 { split($2, m, " "); if (m[1] ~ /^v/) print }
                  /[yz]mm/')
    [ -z "$vex" ] || fail "$object uses AVX instructions:"$'\n'"$vex"
  elif [ "$kind" = avx2 ]; then
    local evex
    evex=$("${prefix}objdump" -d --no-show-raw-insn "$object" |
      grep -E '%zmm|%k[0-7]|%[xy]mm(1[6-9]|2[0-9]|3[01])' || true)
    [ -z "$evex" ] || fail "$object uses AVX-512 registers:"$'\n'"$evex"
  fi
}

for preset in native win32 win64; do
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" --target payload_format >/dev/null
  case $preset in
    native) prefix='' ext=o ;;
    win32) prefix=i686-w64-mingw32- ext=obj ;;
    win64) prefix=x86_64-w64-mingw32- ext=obj ;;
  esac
  dir=build/$preset/CMakeFiles/payload_format.dir/payload
  # C++ names as mangled: UpdateChecksumSse2(const KernelTables&, ...)
  for kernel in Sse2 Avx2 Avx512; do
    object=$dir/entry_checksum_${kernel,,}.cpp.$ext
    entry=$("${prefix}nm" -g --defined-only "$object" |
      awk '{print $NF}' | grep "UpdateChecksum${kernel}" || true)
    [ -n "$entry" ] || fail "$object lacks UpdateChecksum${kernel}"
    check_kernel "$prefix" "$object" "$entry" "${kernel,,}"
  done
  echo "$preset: kernel objects checked"
done

# Unoptimized, where every helper is a function of its own.
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
g++ -std=c++17 -O0 -I. -msse2 -c payload/entry_checksum_sse2.cpp \
  -o "$scratch/sse2.o"
g++ -std=c++17 -O0 -I. -mavx2 -c payload/entry_checksum_avx2.cpp \
  -o "$scratch/avx2.o"
g++ -std=c++17 -O0 -I. -mavx512f -mavx512bw -w \
  -c payload/entry_checksum_avx512.cpp -o "$scratch/avx512.o"
[ "$(nm "$scratch/sse2.o" | grep -c ' t ')" -gt 3 ] ||
  fail "at -O0 the SSE2 kernel's helpers were not compiled apart"
check_kernel "" "$scratch/sse2.o" \
  "$(nm -g --defined-only "$scratch/sse2.o" | awk '/UpdateChecksumSse2/ {print $NF}')" sse2
check_kernel "" "$scratch/avx2.o" \
  "$(nm -g --defined-only "$scratch/avx2.o" | awk '/UpdateChecksumAvx2/ {print $NF}')" avx2
check_kernel "" "$scratch/avx512.o" \
  "$(nm -g --defined-only "$scratch/avx512.o" | awk '/UpdateChecksumAvx512/ {print $NF}')"
echo "unoptimized: kernel objects checked"

# Entries of lengths that leave each narrower kernel some blocks (48 bytes:
# AVX-512 none, AVX2 one pair, SSE2 one block; 247 bytes: three steps
# first) and the byte loop a tail.
cmake --build --preset native --target updater mkupdate >/dev/null
mkdir "$scratch/files"
for size in 1 48 247 1000 65551 1048591; do
  head -c "$size" /dev/urandom >"$scratch/files/f$size.bin"
done
old_cpu() { qemu-x86_64 -cpu Nehalem "$@"; }
mkupdate=build/native/mkupdate
pack() {
  "$@" "$mkupdate" pack --stub build/native/updater --out "$scratch/update" \
    --verify-dir "$scratch/files" "$scratch"/files/* >/dev/null
}
if ! { pack && old_cpu "$mkupdate" list "$scratch/update" >/dev/null; }; then
  fail "updates packed with the widest kernel do not check without AVX"
fi
if ! { pack old_cpu && "$mkupdate" list "$scratch/update" >/dev/null; }; then
  fail "updates packed without AVX do not check with the widest kernel"
fi
echo "emulated processor without AVX: checked"
finish_checks
