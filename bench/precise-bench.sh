#!/usr/bin/env bash
# The precise closure before and after a change, on one machine, one thread, user CPU time:
#   bench/precise-bench.sh BEFORE_BUILD AFTER_BUILD [ROUNDS]
# Each BUILD is a build folder with cli/zuba-cli and bench/ring_bench (a release or ci build with
# ZUBA_BUILD_BENCH=ON). The two builds run each command in turn, ROUNDS times (default 5;
# bench/compare-builds.py: median and least user time), so that the load of a shared machine falls
# on both alike:
#   - zuba-cli run --machine examples/ring-590.json (260 energies) --threads 1, report and values;
#   - zuba-cli trim-fit on examples/tvk310-p-disturbed.sdf with examples/trim-coils.tsv, --threads 1;
#   - zuba-cli isochronise on examples/tvk310-p-disturbed.sdf, --threads 1;
# then ring_bench of each build (the energy loop, the warm re-closure, the preparation: CPU time),
# the document size of the ring run, and the peak resident memory of a 2000-energy precise run on
# the ring example with the after build.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
before=$(cd "${1:?before build folder}" && pwd)
after=$(cd "${2:?after build folder}" && pwd)
rounds=${3:-5}
/usr/bin/time -f '' true 2>/dev/null || "$here/tools/ensure-packages.sh" time
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
py=/usr/bin/python3
compare() { "$py" "$here/bench/compare-builds.py" "$before/cli/zuba-cli,$after/cli/zuba-cli" --rounds "$1" -- "${@:2}"; }
echo "$(nproc) cores, load average $(cut -d' ' -f1-3 /proc/loadavg)"
ex=$here/examples
echo "== ring, 260 energies, precise, --threads 1"
compare "$rounds" run --machine "$ex/ring-590.json" --threads 1 --quiet --report r.txt --values r.tsv
echo "== trim-fit, tvk310-p-disturbed, 5 coils, --threads 1"
compare "$rounds" trim-fit --map "$ex/tvk310-p-disturbed.sdf" --coils "$ex/trim-coils.tsv" --threads 1 --json
echo "== isochronise, tvk310-p-disturbed, --threads 1"
compare "$rounds" isochronise --map "$ex/tvk310-p-disturbed.sdf" --threads 1 --json
for b in before after; do
  dir=$before
  [ $b = after ] && dir=$after
  echo "== ring_bench, $b"
  "$dir/bench/ring_bench" --benchmark_format=console 2>/dev/null | grep -E "^(Loop|Warm|Prepare)"
  "$dir/cli/zuba-cli" run --machine "$ex/ring-590.json" --threads 2 --quiet --save "ring-$b.zub"
  echo "ring document, $b: $(stat -c %s "ring-$b.zub") bytes"
  rm -f "ring-$b.zub"
done
echo "== 2000 energies, precise, --threads 1, after: user s, peak resident KB"
/usr/bin/time -f '%U %M' "$after/cli/zuba-cli" run --machine "$ex/ring-590.json" --threads 1 --quiet \
  --set EkBegin=72 --set EkEnd=590 --set dEk=0.259 --values big.tsv
echo "energies: $(($(wc -l <big.tsv) - 1))"
echo "load average at the end $(cut -d' ' -f1-3 /proc/loadavg)"
