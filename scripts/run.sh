#!/usr/bin/env bash
# Installs what the desk needs, builds it and starts it.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh
cmake --preset default
cmake --build --preset default --parallel "$(nproc)"
if [ -x build/src/app/tallybrook ]; then
  exec build/src/app/tallybrook "$@"
fi
echo "Built the desk's libraries and tests. The desk window and the local backend it starts arrive with later changes."
