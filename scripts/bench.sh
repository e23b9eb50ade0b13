#!/usr/bin/env bash
# Builds the benchmarks and runs each; every one prints its own figures. Timings are figures to read, not
# pass/fail checks. Usage: scripts/bench.sh
set -euo pipefail
cd "$(dirname "$0")/.."

# One benchmark target a line, in the order they run.
benchmarks=(
  bench_csvexport
  bench_pdfexport
  bench_today
  server_bench
  bench_visitors
  bench_startup
  bench_soak
)

cmake --preset default >/dev/null
cmake --build build --target "${benchmarks[@]}"
export QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen}
for b in "${benchmarks[@]}"; do
  "build/bench/$b"
done

# The hosted project's schema on a real PostgreSQL: 1,000 accounts, 1,000,000 visitors.
bash bench/pg_scale.sh
