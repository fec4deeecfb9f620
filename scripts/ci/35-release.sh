#!/usr/bin/env bash
# The packages a publisher gets: scripts/release.sh builds the kit and
# writes dist/; scripts/release_test.py installs the .deb (as root; it
# purges it again), packs (with and without --stub, as JSON too), lists,
# verifies, checks and applies with the installed tool and its stubs,
# checks the JSON against the installed schemas, the man page, the zip and
# the versions. Then release.sh runs in two fresh clones, which must give
# the same SHA256SUMS (scripts/release_clones_test.py).
set -euo pipefail
cd "$(dirname "$0")/../.."
. scripts/lib.sh
. scripts/packages.sh
require_packages "${pkgs_publisher[@]}" "${pkgs_release[@]}"
bash scripts/release.sh
/usr/bin/python3 scripts/release_test.py
/usr/bin/python3 scripts/release_clones_test.py
