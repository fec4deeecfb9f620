# Shared by the scripts: installs the Debian packages a step needs, once,
# on a fresh machine (run as root), and does nothing when they are present.
# A package of another architecture is named with it (wine32:i386); that
# architecture must have been added first (need_architecture).
need_packages() {
  local missing=()
  local p
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed" ||
      missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "installing: ${missing[*]}"
  if [ -z "${APT_UPDATED:-}" ]; then
    apt-get update -qq || return 1
    export APT_UPDATED=1
  fi
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
    "${missing[@]}" >/dev/null || return 1
}

# Makes the native updater's stand-in registry under $1 name $2 as the
# game's install folder (a REG_SZ value with its terminator).
set_install_folder() {
  local key="$1/HKEY_LOCAL_MACHINE/Software/Orvane/ルーメンホロウ"
  mkdir -p "$key" || return 1
  printf '%s\0' "$2" >"$key/InstalledFolder.REG_SZ"
}

# Lets dpkg install packages of another architecture (i386 beside amd64).
# A newly added architecture has no package lists yet: the next
# need_packages fetches them.
need_architecture() {
  [ "$(dpkg --print-architecture)" = "$1" ] && return 0
  dpkg --print-foreign-architectures | grep -qx "$1" && return 0
  echo "adding architecture $1"
  dpkg --add-architecture "$1" || return 1
  unset APT_UPDATED
}

# Whether this machine's kernel runs 32-bit x86 programs: a static i386
# program of four instructions must return its exit code. Some kernels are
# built without that (IA32 emulation off) or have it switched off at boot.
kernel_runs_i386() {
  local dir code=0
  dir=$(mktemp -d) || return 1
  printf '.globl _start\n_start:\n movl $1, %%eax\n movl $42, %%ebx\n int $0x80\n' \
    >"$dir/exit42.s"
  if as --32 -o "$dir/exit42.o" "$dir/exit42.s" 2>/dev/null &&
    ld -m elf_i386 -o "$dir/exit42" "$dir/exit42.o" 2>/dev/null; then
    "$dir/exit42" 2>/dev/null || code=$?
  fi
  rm -rf "$dir"
  [ "$code" = 42 ]
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
