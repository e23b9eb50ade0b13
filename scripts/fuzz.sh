#!/usr/bin/env bash
# Builds the fuzz targets (clang, libFuzzer, ASan and UBSan) and runs each for a while.
# Usage: scripts/fuzz.sh [seconds per target] [target...]   (default 60 s, every target)
#   FUZZ_RUNS=N stops each target after N executions instead (with a 12 h bound on time).
# New inputs go to build-fuzz/corpus/<target>; a crash is saved as build-fuzz/crashes/<target>-crash-…,
# to be fixed and then committed under tests/fuzz/corpus/<target>/ as a regression case.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
shift || true

bash scripts/setup.sh
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz --parallel "$(nproc)"

targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  targets=(fuzz_http_request fuzz_rest_query fuzz_server_requests fuzz_desk_records fuzz_version_manifest
           fuzz_webhook_url)
fi
mkdir -p build-fuzz/crashes
export TZ=UTC LANG=C.UTF-8 LC_ALL=C.UTF-8 QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=0}
failed=0
for target in "${targets[@]}"; do
  mkdir -p "build-fuzz/corpus/$target"
  if [ -n "${FUZZ_RUNS:-}" ]; then limit=(-runs="$FUZZ_RUNS" -max_total_time=43200); else limit=(-max_total_time="$seconds"); fi
  log="build-fuzz/$target.log"
  # The first folder takes what the fuzzer finds; the committed seeds are only read.
  if "build-fuzz/tests/fuzz/$target" "${limit[@]}" -timeout=10 -rss_limit_mb=4096 -print_final_stats=1 \
       -artifact_prefix="build-fuzz/crashes/$target-" "build-fuzz/corpus/$target" "tests/fuzz/corpus/$target" \
       >"$log" 2>&1; then
    result=ok
  else
    result=FAILED
    failed=1
    tail -n 40 "$log"
  fi
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
  took=$(sed -n 's/^Done [0-9]* runs in \([0-9]*\) second.*/\1/p' "$log" | tail -n 1)
  echo "fuzz: $target $result, ${runs:-?} executions in ${took:-?} s"
done
exit $failed
