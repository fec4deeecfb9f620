#!/usr/bin/env bash
# Installs what the demo, the tests and the benchmark need on a Debian
# machine (run as root): every package of scripts/packages.sh, the i386
# architecture and its packages where this kernel runs 32-bit programs,
# and the ja_JP.UTF-8 locale. Prints nothing when all of it is there.
#
# A package mirror in the middle of a sync is an ordinary day: errors of
# `apt-get update` are reported and the update retried, then the work goes
# on with the lists apt has. An install that fails is retried from the
# release's own archive (`-t` and the code name from /etc/os-release),
# where the amd64 and i386 packages always agree. Only when that fails too
# does this fail, naming the packages it could not install and apt's reason.
#
#   bash scripts/install-deps.sh                    # everything
#   bash scripts/install-deps.sh --packages P...    # just these packages
#
# INSTALL_DEPS_RETRY_SECONDS sets the pause between tries (10).
set -uo pipefail
cd "$(dirname "$0")/.." || exit 1
. scripts/lib.sh
. scripts/packages.sh

retry_seconds=${INSTALL_DEPS_RETRY_SECONDS:-10}
updated=
log=$(mktemp)
trap 'rm -f "$log"' EXIT

# Prints apt's error and warning lines from the log, indented.
show_apt_errors() {
  grep -E '^(E|W|Err):' "$log" | sed 's/^/  /' | head -n 20
}

# apt-get update, tried three times; never fatal by itself.
update_lists() {
  local try
  for try in 1 2 3; do
    if apt-get update -qq >"$log" 2>&1; then
      updated=1
      return 0
    fi
    echo "apt-get update reported errors (try $try of 3):"
    show_apt_errors
    [ "$try" -lt 3 ] && sleep "$retry_seconds"
  done
  echo "going on with the package lists apt has"
  updated=1
}

apt_install() {
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq \
    --no-install-recommends -o DPkg::Lock::Timeout=600 "$@" >"$log" 2>&1
}

# Sets the array missing to those of the packages not installed.
find_missing() {
  local p
  missing=()
  for p in "$@"; do
    package_installed "$p" || missing+=("$p")
  done
}

# Installs those of the packages that are missing.
install_packages() {
  find_missing "$@"
  [ ${#missing[@]} -eq 0 ] && return 0
  if [ "$(id -u)" != 0 ]; then
    echo "missing packages: ${missing[*]}; run this as root to install them" >&2
    return 1
  fi
  echo "installing: ${missing[*]}"
  [ -n "$updated" ] || update_lists
  local wanted=("${missing[@]}")
  apt_install "${wanted[@]}"
  find_missing "${wanted[@]}"
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "apt-get install failed:"
  show_apt_errors
  local codename
  codename=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
  if [ -n "$codename" ]; then
    echo "trying again from the release's own archive (apt-get -t $codename)"
    apt_install -t "$codename" "${wanted[@]}"
    find_missing "${wanted[@]}"
    [ ${#missing[@]} -eq 0 ] && return 0
  fi
  {
    echo "could not install: ${missing[*]}"
    echo "apt-get said:"
    show_apt_errors
  } >&2
  return 1
}

if [ "${1:-}" = --packages ]; then
  shift
  install_packages "$@"
  exit
fi

wanted=("${pkgs_lint[@]}" "${pkgs_native[@]}" "${pkgs_native32[@]}"
  "${pkgs_windows[@]}" "${pkgs_publisher[@]}" "${pkgs_release[@]}"
  "${pkgs_signing[@]}" "${pkgs_wine[@]}" "${pkgs_hardening[@]}"
  "${pkgs_bench[@]}")
# The 32-bit check assembles a tiny program: binutils comes first.
install_packages binutils || exit 1
if kernel_runs_i386; then
  if [ "$(dpkg --print-architecture)" != i386 ] &&
    ! dpkg --print-foreign-architectures | grep -qx i386; then
    echo "adding architecture i386"
    dpkg --add-architecture i386 || exit 1
    updated=
  fi
  wanted+=("${pkgs_native32_i386[@]}" "${pkgs_wine_i386[@]}")
else
  echo "this kernel runs no 32-bit programs: no i386 packages, the suite's i386 runtime for qemu"
  wanted+=("${pkgs_native32_qemu[@]}")
fi
install_packages "${wanted[@]}" || exit 1
if ! locale -a 2>/dev/null | grep -qix 'ja_JP.utf8'; then
  echo "making the locale ja_JP.UTF-8"
  localedef -i ja_JP -f UTF-8 ja_JP.UTF-8 || exit 1
fi
