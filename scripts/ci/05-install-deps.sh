#!/usr/bin/env bash
# The install step against a package mirror in the middle of a sync (a
# fake apt-get in front of the real one): it must still install, or fail
# naming what is missing and why.
set -euo pipefail
cd "$(dirname "$0")/../.."
python3 scripts/install_deps_test.py
