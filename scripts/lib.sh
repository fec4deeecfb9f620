# shellcheck shell=bash
# Shared by the scripts.

# True when the Debian package (name or name:arch) is installed.
package_installed() {
  dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "ok installed"
}

# Fails, naming them, when any of the packages is missing; scripts/install-deps.sh
# installs them all (the scripts themselves install nothing).
require_packages() {
  local missing=() p
  for p in "$@"; do
    package_installed "$p" || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "missing packages: ${missing[*]}" >&2
  echo "install them with: bash scripts/install-deps.sh (as root)" >&2
  return 1
}

# Fails when the locale that gives Wine code page 932 is missing.
require_japanese_locale() {
  locale -a 2>/dev/null | grep -qix 'ja_JP.utf8' && return 0
  echo "missing locale: ja_JP.UTF-8" >&2
  echo "make it with: bash scripts/install-deps.sh (as root)" >&2
  return 1
}

# Makes the native updater's stand-in registry under $1 name $2 as the
# game's install folder (a REG_SZ value with its terminator), in code page
# 932 as a Japanese Windows gives the updater its value; the stand-in turns
# it into this disk's UTF-8 name.
set_install_folder() {
  local key="$1/HKEY_LOCAL_MACHINE/Software/Orvane/ルーメンホロウ"
  mkdir -p "$key" || return 1
  { printf '%s' "$2" | iconv -f UTF-8 -t CP932 && printf '\0'; } \
    >"$key/InstalledFolder.REG_SZ"
}

# Whether this machine's kernel runs 32-bit x86 programs: a static i386
# program of four instructions must return its exit code. Some kernels are
# built without that (IA32 emulation off) or have it switched off at boot.
kernel_runs_i386() {
  local dir code=0
  dir=$(mktemp -d) || return 1
  # shellcheck disable=SC2016  # $1 and $42 are the assembler's immediates
  printf '.globl _start\n_start:\n movl $1, %%eax\n movl $42, %%ebx\n int $0x80\n' \
    >"$dir/exit42.s"
  if as --32 -o "$dir/exit42.o" "$dir/exit42.s" 2>/dev/null &&
    ld -m elf_i386 -o "$dir/exit42" "$dir/exit42.o" 2>/dev/null; then
    "$dir/exit42" 2>/dev/null || code=$?
  fi
  rm -rf "$dir"
  [ "$code" = 42 ]
}

# On a kernel that runs no 32-bit programs, has every i386 program run
# under qemu-i386 from now on (the kernel hands them to it through
# binfmt_misc, so the suite's own children run there too), on the i386
# runtime of the biarch packages (/lib32); EXIT takes it back.
# Fails, saying why, where that cannot be done (not root, or no
# binfmt_misc).
run_i386_under_qemu() {
  local misc=/proc/sys/fs/binfmt_misc entry=updater-qemu-i386
  [ "$(id -u)" = 0 ] || { echo "not root: binfmt_misc is root's" >&2; return 1; }
  if [ ! -e "$misc/register" ]; then
    mount -t binfmt_misc binfmt_misc "$misc" 2>/dev/null ||
      { echo "binfmt_misc cannot be mounted" >&2; return 1; }
  fi
  [ -e "$misc/$entry" ] || printf '%s' ":$entry:M::"'\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:'"$(command -v qemu-i386):F" \
    >"$misc/register" || { echo "qemu-i386 cannot be registered" >&2; return 1; }
  # shellcheck disable=SC2064  # the entry's path now, not at exit
  trap "echo -1 >'$misc/$entry' 2>/dev/null || true" EXIT
}

# Checks that report and go on: each prints one line, "ok" or "FAIL", with
# the current scope (a scenario, a program) before it; finish_checks lists
# the failures again and fails when there was any.
check_scope=
check_failures=()
pass() { echo "ok    ${check_scope:+[$check_scope] }$*"; }
fail() {
  echo "FAIL  ${check_scope:+[$check_scope] }$*"
  check_failures+=("${check_scope:+$check_scope: }$*")
}
check() { # check DESCRIPTION COMMAND...
  local what=$1
  shift
  if "$@"; then pass "$what"; else fail "$what"; fi
}
finish_checks() {
  [ ${#check_failures[@]} -eq 0 ] && return 0
  printf 'failed: %s\n' "${check_failures[@]}"
  return 1
}
