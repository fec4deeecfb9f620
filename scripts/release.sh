#!/usr/bin/env bash
# Builds the publisher's kit from this source with the publisher preset
# (the native mkupdate, the Windows stubs and mkupdate.exe, none of the
# tests) and writes into dist/, emptied first:
#   mkupdate_VERSION_ARCH.deb      mkupdate, its man page, the docs, both stubs
#   mkupdate-VERSION-windows.zip   mkupdate.exe, updater.exe and the docs
#   SHA256SUMS
# VERSION is project(VERSION) in CMakeLists.txt. docs/publishing.md tells
# what to do with them. Every file in the packages carries the time
# SOURCE_DATE_EPOCH, the last commit's when it is unset, so that any clone
# of the same commit gives the same bytes.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/lib.sh
. scripts/packages.sh
require_packages "${pkgs_publisher[@]}"

if [ -z "${SOURCE_DATE_EPOCH:-}" ]; then
  if ! SOURCE_DATE_EPOCH=$(git log -1 --format=%ct 2>/dev/null); then
    echo "release.sh: not a git clone; set SOURCE_DATE_EPOCH to the" \
      "source's time (seconds since 1970)" >&2
    exit 1
  fi
fi
export SOURCE_DATE_EPOCH
# Nor the builder's umask (the archives' own modes) nor time zone (the
# zip's times are local ones).
umask 022
export TZ=UTC
echo "== the packages' time: $SOURCE_DATE_EPOCH ($(date -u -d "@$SOURCE_DATE_EPOCH" '+%F %T') UTC)"

echo "== configuring build/publisher"
cmake --preset publisher >/dev/null
echo "== building mkupdate and, with MinGW-w64, the Windows stubs and mkupdate.exe (takes minutes)"
cmake --build --preset publisher >/dev/null
rm -rf dist
mkdir dist
dist=$PWD/dist
echo "== packing the .deb"
(cd build/publisher && cpack -G DEB -B "$dist" >/dev/null)
echo "== packing the zip"
cpack -G ZIP --config build/publisher/windows-i686/CPackConfig.cmake \
  -B "$dist" >/dev/null
rm -rf dist/_CPack_Packages
echo "== writing SHA256SUMS"
(cd dist && sha256sum -- *.deb *.zip >SHA256SUMS)
ls -l dist
