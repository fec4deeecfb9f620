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

# The suite passes for an ordinary user too, what needs root skipping with
# a line of its own. Run as nobody where nobody can reach the build.
tests=$PWD/build/native/updater_tests
if [ "$(id -u)" = 0 ] && command -v runuser >/dev/null; then
  if runuser -u nobody -- test -x "$tests"; then
    echo "=== the unit suite as the user nobody"
    (cd /tmp && runuser -u nobody -- "$tests" --gtest_brief=1)
  else
    echo "the unit suite is not run as nobody: nobody cannot reach $tests"
  fi
fi
