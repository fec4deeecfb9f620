#!/usr/bin/env bash
# Builds the publisher's kit from this source with the publisher preset
# (the native mkupdate, the Windows stubs and mkupdate.exe, none of the
# tests) and writes into dist/, emptied first:
#   mkupdate_VERSION_ARCH.deb      mkupdate, its man page, the docs, both stubs
#   mkupdate-VERSION-windows.zip   mkupdate.exe, updater.exe and the docs
#   SHA256SUMS
# VERSION is project(VERSION) in CMakeLists.txt. docs/publishing.md tells
# what to do with them.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/lib.sh
. scripts/packages.sh
require_packages "${pkgs_publisher[@]}"

cmake --preset publisher >/dev/null
cmake --build --preset publisher >/dev/null
rm -rf dist
mkdir dist
dist=$PWD/dist
(cd build/publisher && cpack -G DEB -B "$dist" >/dev/null)
cpack -G ZIP --config build/publisher/windows-i686/CPackConfig.cmake \
  -B "$dist" >/dev/null
rm -rf dist/_CPack_Packages
(cd dist && sha256sum -- *.deb *.zip >SHA256SUMS)
ls -l dist
