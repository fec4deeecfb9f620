#!/usr/bin/env bash
# Installs what the stages need (scripts/install-deps.sh), then runs every
# test stage in scripts/ci/, in order; stops at the first that fails.
set -euo pipefail
cd "$(dirname "$0")/.."
echo "=== scripts/install-deps.sh"
bash scripts/install-deps.sh
for stage in scripts/ci/*.sh; do
  echo "=== ${stage}"
  bash "$stage"
done
echo "=== all test stages passed"
