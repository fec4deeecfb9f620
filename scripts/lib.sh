# Shared by the scripts: installs the Debian packages a step needs, once,
# on a fresh machine (run as root), and does nothing when they are present.
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
