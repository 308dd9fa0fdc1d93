#!/usr/bin/env bash
# Builds the libFuzzer targets (preset `fuzz`: clang, AddressSanitizer + UndefinedBehaviorSanitizer)
# and runs each for the given number of seconds, one after the other.
#   tools/fuzz.sh [seconds] [target...]   default 60 per target; targets: document field_map
#                                         polar_map record_map table_map polar_mesh_map
#                                         (default all)
# Seeds: documents and small maps of every format written by the program itself (fuzz_seeds), plus
# examples/*.sdf.
# The growing corpora stay in BUILD/corpus/<target>; a finding is written to BUILD/findings/ and
# makes the script exit non-zero. ZUBA_FUZZ_BUILD_DIR overrides the build folder (build/fuzz).
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-60}
shift || true
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(document field_map polar_map record_map table_map polar_mesh_map)
build=${ZUBA_FUZZ_BUILD_DIR:-build/fuzz}
jobs=${ZUBA_FUZZ_JOBS:-2}

tools/ensure-packages.sh clang libclang-rt-14-dev
cmake --preset fuzz -B "$build" >/dev/null
cmake --build "$build" --target fuzz_seeds "${targets[@]/#/fuzz_}" -j "$jobs"

mkdir -p "$build/findings"
for target in document field_map polar_map record_map table_map polar_mesh_map; do
  mkdir -p "$build/seeds/$target" "$build/corpus/$target"
done
"$build/tools/fuzz/fuzz_seeds" "$build/seeds/document" "$build/seeds/field_map" \
  "$build/seeds/polar_map" "$build/seeds/record_map" "$build/seeds/table_map" \
  "$build/seeds/polar_mesh_map"
for map in examples/*.sdf tests/data/*.sdf; do
  [ -f "$map" ] && cp "$map" "$build/seeds/field_map/"
done
for doc in tests/data/*.zub; do
  [ -f "$doc" ] && cp "$doc" "$build/seeds/document/"
done

status=0
for target in "${targets[@]}"; do
  echo "== fuzz_$target for ${seconds}s =="
  log="$build/fuzz_$target.log"
  # -malloc_limit_mb: an input of a few kilobytes that makes the reader ask for 64 MB at once is a
  # finding (memory must stay bounded by a small multiple of the file's size).
  if ! "$build/tools/fuzz/fuzz_$target" -max_total_time="$seconds" -max_len=4096 \
        -rss_limit_mb=2048 -malloc_limit_mb=64 -timeout=10 -print_final_stats=1 \
        -artifact_prefix="$build/findings/${target}-" \
        "$build/corpus/$target" "$build/seeds/$target" >"$log" 2>&1; then
    status=1
    echo "fuzz_$target: FINDING (see $log and $build/findings/)"
    grep -E '^==[0-9]+==ERROR|SUMMARY|Test unit written' "$log" || tail -20 "$log"
  fi
  grep -E '^stat::number_of_executed_units|^stat::peak_rss_mb|^#[0-9]+.*DONE' "$log" || true
done
exit $status
