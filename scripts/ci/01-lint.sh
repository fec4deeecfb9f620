#!/usr/bin/env bash
# The scripts themselves: every shell script passes shellcheck (with the
# files it sources), and every Python script pyflakes.
set -euo pipefail
cd "$(dirname "$0")/../.."
. scripts/lib.sh
. scripts/packages.sh
require_packages "${pkgs_lint[@]}"
list() {
  find . \( -path ./build -o -path ./.git \) -prune -o -type f \
    -name "$1" -print | sort
}
mapfile -t shell < <(list '*.sh')
shellcheck -x "${shell[@]}" .ci/run
echo "shellcheck: ${#shell[@]} scripts and .ci/run pass"
mapfile -t python < <(list '*.py')
/usr/bin/python3 -m pyflakes "${python[@]}"
echo "pyflakes: ${#python[@]} scripts pass"
