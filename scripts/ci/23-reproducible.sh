#!/usr/bin/env bash
# The Windows programs are the same bytes from every build of the same
# source: built twice from fresh copies in two folders, at two times, in two
# environments, and compared (scripts/reproducible_build.py).
set -euo pipefail
cd "$(dirname "$0")/../.."
. scripts/lib.sh
. scripts/packages.sh
require_packages "${pkgs_publisher[@]}" python3
/usr/bin/python3 scripts/reproducible_build.py
