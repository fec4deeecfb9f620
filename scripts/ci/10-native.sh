#!/usr/bin/env bash
# The native build with the POSIX stand-in, and its unit and process tests.
set -euo pipefail
cd "$(dirname "$0")/../.."
. scripts/lib.sh
. scripts/packages.sh
require_packages "${pkgs_native[@]}"
cmake --preset native >/dev/null
cmake --build --preset native
ctest --preset native
