#!/usr/bin/env bash
# Installs what the project needs, builds it and runs the whole test suite.
# Usage: scripts/test.sh [preset]   (preset: default or sanitize)
set -euo pipefail
cd "$(dirname "$0")/.."
preset=${1:-default}

bash scripts/setup.sh
cmake --preset "$preset"
cmake --build --preset "$preset" --parallel "$(nproc)"
ctest --preset "$preset"
