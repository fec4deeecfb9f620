#!/usr/bin/env bash
# Runs every test stage in scripts/ci/, in order; stops at the first that
# fails. Installs what the stages need on a fresh Debian machine.
set -euo pipefail
cd "$(dirname "$0")/.."
for stage in scripts/ci/*.sh; do
  echo "=== ${stage}"
  bash "$stage"
done
echo "=== all test stages passed"
