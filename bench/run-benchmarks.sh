#!/usr/bin/env bash
# Builds the release preset and measures, side by side on this machine, the figures of
# docs/PERFORMANCE.md, then prints them as one table:
#   - the full "TVK-310: p" and "AVF: 14N5" runs on the example maps with --threads 1 and 2
#     (wall time, CPU time = user + sys, peak resident memory; these runs write the report only);
#   - the precise closure on the eight-sector ring example (protons 72 - 590 MeV, 260 energies)
#     with --threads 1 and 2 (report and values; the values of both compared byte for byte);
#   - the per-call field routine (--reference-field --threads 1) against the fast path on the same
#     three energies of each map (first, middle, last), scaled per energy to the full run;
#   - ns per integration step on one thread (one-trial benchmark) and the field evaluation alone
#     (field benchmark);
#   - peak resident memory of a 101-energy run against the size of its results (the document);
#   - document save and load of a 101-energy record;
#   - the desktop program's map view with a 101-energy document at 1200 x 900 (offscreen): a
#     repaint, and the first draw that reads the field map again;
#   - reading a measured-record map of 141 x 1080 and a polar map of 801 x 360 nodes;
#   - identical reports and per-energy values: the fast path against the per-call routine (on the
#     three energies always; on the full runs with --full-reference, minutes per map) and the
#     one-thread against the two-thread run;
#   - the rounding floor of that comparison (bench/closure_floor): how many field values along
#     orbits are the per-call routine's bit for bit, and how far dReo moves when field values
#     change by one unit in the last place at random.
# Usage: bench/run-benchmarks.sh [--full-reference] [--no-build] [--keep DIR]
#   --full-reference  also run both maps in full with --reference-field --threads 1
#   --no-build        use build/release as it is
#   --keep DIR        keep the reports, values tables and timings in DIR
set -euo pipefail

here=$(cd "$(dirname "$0")/.." && pwd)
fullReference=0
build=1
keep=""
while [ $# -gt 0 ]; do
  case "$1" in
    --full-reference) fullReference=1 ;;
    --no-build) build=0 ;;
    --keep) keep=${2:?--keep needs a folder}; shift ;;
    -h|--help) sed -n '2,26p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "unknown option: $1" >&2; exit 2 ;;
  esac
  shift
done

# GNU time gives the peak resident memory ("Maximum resident set size"); jq reads the benchmarks.
needed=()
/usr/bin/time -f '' true 2>/dev/null || needed+=(time)
command -v jq >/dev/null || needed+=(jq)
if [ ${#needed[@]} -gt 0 ]; then "$here/tools/ensure-packages.sh" "${needed[@]}"; fi

if [ "$build" = 1 ]; then
  (cd "$here" && cmake --preset release >/dev/null &&
     cmake --build build/release --target zuba-cli field_bench orbit_bench doc_io_bench closure_floor \
       view_bench map_read_bench -j2 >/dev/null)
fi
bin=$here/build/release
cli=$bin/cli/zuba-cli

if [ -n "$keep" ]; then
  mkdir -p "$keep"
  work=$(cd "$keep" && pwd)
else
  work=$(mktemp -d)
  trap 'rm -rf "$work"' EXIT
fi

loadStart=$(cut -d' ' -f1-3 /proc/loadavg)
echo "Measuring on $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ //'), load average $loadStart" >&2

# timed NAME ARGS...: runs zuba-cli with GNU time; NAME.time holds "wall user sys maxrss_kB".
# Every run writes into its own folder NAME/ under the same file names: a report starts with the
# name of its file, so reports of different runs compare byte for byte only under the same name.
timed() {
  local name=$1; shift
  echo "  $name" >&2
  mkdir -p "$work/$name"
  /usr/bin/time -f '%e %U %S %M' -o "$work/$name.time" "$cli" run --quiet "$@" 2>"$work/$name.err" ||
    { echo "zuba-cli run failed for $name:" >&2; cat "$work/$name.err" >&2; exit 1; }
}
wall() { cut -d' ' -f1 "$work/$1.time"; }
cpu() { awk '{ printf "%.2f", $2 + $3 }' "$work/$1.time"; }
rssKb() { cut -d' ' -f4 "$work/$1.time"; }

tvk=(--map "$here/examples/tvk310-p.sdf" --mode "TVK-310: p")
avf=(--map "$here/examples/avf-14n5.sdf" --mode "AVF: 14N5")
# Three energies of each run: the first, the middle and the last.
tvkFew=(--set EkBegin=0.6 --set EkEnd=60.6 --set dEk=30)
avfFew=(--set EkBegin=1 --set EkEnd=100 --set dEk=49.5)
tvkEnergies=101
avfEnergies=100
fewEnergies=3
# The eight-sector ring, every energy closed by the precise closure.
ring=(--map "$here/examples/ring-590.sdf" --set ParticleName=p --set m0=1.007276466812 --set Q=1
      --set Frf=50.65 --set H=6 --set N=8 --set EkBegin=72 --set EkEnd=590 --set dEk=2
      --closure precise)

echo "Runs:" >&2
for map in tvk avf; do
  declare -n args=$map
  timed "$map-t1" "${args[@]}" --threads 1 --report "$work/$map-t1/report.txt"
  timed "$map-t2" "${args[@]}" --threads 2 --report "$work/$map-t2/report.txt"
done
for threads in 1 2; do
  timed "ring-t$threads" "${ring[@]}" --threads $threads --report "$work/ring-t$threads/report.txt" \
    --values "$work/ring-t$threads/values.tsv"
done
for map in tvk avf; do
  declare -n args=$map few=${map}Few
  timed "$map-few-fast" "${args[@]}" "${few[@]}" --threads 1 --report "$work/$map-few-fast/report.txt" \
    --values "$work/$map-few-fast/values.tsv"
  timed "$map-few-ref" "${args[@]}" "${few[@]}" --threads 1 --reference-field \
    --report "$work/$map-few-ref/report.txt" --values "$work/$map-few-ref/values.tsv"
done
# Not compared with the timed runs: the values and the document of the full fast runs, on one and
# on two threads. The document's size is the size of the results.
for map in tvk avf; do
  declare -n args=$map
  for threads in 1 2; do
    timed "$map-save$threads" "${args[@]}" --threads $threads --report "$work/$map-save$threads/report.txt" \
      --values "$work/$map-save$threads/values.tsv" --save "$work/$map-save$threads/results.zub"
  done
done
if [ "$fullReference" = 1 ]; then
  for map in tvk avf; do
    declare -n args=$map
    timed "$map-ref" "${args[@]}" --threads 1 --reference-field --report "$work/$map-ref/report.txt" \
      --values "$work/$map-ref/values.tsv"
  done
fi

echo "Benchmarks:" >&2
echo "  field_bench" >&2
"$bin/bench/field_bench" --benchmark_filter='BM_InterpolateField|BM_FieldPatchesEvaluate$' \
  --benchmark_format=json >"$work/field_bench.json" 2>/dev/null
echo "  orbit_bench" >&2
"$bin/bench/orbit_bench" --benchmark_format=json >"$work/orbit_bench.json" 2>/dev/null
echo "  doc_io_bench" >&2
"$bin/bench/doc_io_bench" --benchmark_format=json >"$work/doc_io_bench.json" 2>/dev/null
echo "  view_bench" >&2
"$bin/bench/view_bench" --benchmark_filter='BM_Repaint/3|BM_MapFirstDraw' \
  --benchmark_format=json >"$work/view_bench.json" 2>/dev/null
echo "  map_read_bench" >&2
"$bin/bench/map_read_bench" --benchmark_format=json >"$work/map_read_bench.json" 2>/dev/null
# The rounding floor of the dReo comparison (not timed): bit-equality of the field values along
# orbits, and the dReo spread that random one-ulp field differences cause.
echo "  closure_floor" >&2
"$bin/bench/closure_floor" >"$work/closure_floor.txt"
loadEnd=$(cut -d' ' -f1-3 /proc/loadavg)

bench() {  # FILE NAME FIELD
  # The benchmark's name may carry suffixes such as /iterations:3/real_time.
  jq -r --arg n "$2" --arg f "$3" \
    '.benchmarks[] | select(.name == $n or (.name | startswith($n + "/"))) | .[$f]' "$work/$1.json"
}

# Per-energy values of two values tables: the largest relative difference of columns 1 to 6 (Ek_J
# .. F0_Hz) and the largest absolute difference of dReo (column 7, m); "ok" in front when every
# value is within 1e-12 relative and every dReo within 1e-15 m.
compareValues() {
  if [ "$(wc -l <"$1")" != "$(wc -l <"$2")" ]; then echo "different row counts"; return; fi
  # The second table's columns start after the first's: their count is taken from the header.
  paste "$1" "$2" | awk -F'\t' '
    NR == 1 { n = NF / 2 }
    NR > 1 {
      for (k = 1; k <= 6; k++) {
        a = $k; b = $(k + n); d = a - b; if (d < 0) d = -d; s = a < 0 ? -a : a
        r = s > 0 ? d / s : d; if (r > rel) rel = r; if (r > 1e-12) badRel++
      }
      d = $7 - $(7 + n); if (d < 0) d = -d; if (d > abs) abs = d; if (d > 1e-15) badAbs++
    }
    END { printf "%s rel %.1e, dReo %.2e m", (badRel + badAbs == 0 ? "ok" : "OVER"), rel, abs
          if (badAbs) printf " (%d rows > 1e-15)", badAbs
          if (badRel) printf " (%d values > 1e-12)", badRel }'
}
same() { if cmp -s "$1" "$2"; then echo "identical"; else echo "DIFFERENT"; fi; }
verdict() { if awk -v a="$1" -v b="$2" "BEGIN { exit !(a $3 b) }"; then echo "met"; else echo "MISSED"; fi; }
ratio() { awk -v a="$1" -v b="$2" -v d="${3:-1}" 'BEGIN { printf "%.*f", d, a / b }'; }

# Field evaluation (CPU time per call, ns).
fieldRef=$(bench field_bench BM_InterpolateField cpu_time)
fieldFast=$(bench field_bench BM_FieldPatchesEvaluate cpu_time)
fieldSpeedup=$(ratio "$fieldRef" "$fieldFast")
# Integration step on one thread (CPU time, one trial orbit of a full turn).
stepFast=$(bench orbit_bench BM_TrialOrbitFieldPatches ns_per_step)
stepRef=$(bench orbit_bench BM_TrialOrbitReferenceField ns_per_step)
# Document I/O (wall time, ms).
docSave=$(bench doc_io_bench BM_SaveDocumentFile real_time)
docLoad=$(bench doc_io_bench BM_LoadDocumentFile real_time)
docMb=$(bench doc_io_bench BM_SaveDocumentFile file_MB)

rows=()
row() { rows+=("$(printf '%-62s|%34s|%15s|%s' "$1" "$2" "$3" "$4")"); }

row "Field evaluation: per-call routine, ns/call (CPU)" "$(printf '%.1f' "$fieldRef")" "" ""
row "Field evaluation: fast patches, ns/call (CPU)" "$(printf '%.2f' "$fieldFast")" "" ""
row "Field evaluation speed-up" "${fieldSpeedup}x" ">= 50x" "$(verdict "$fieldSpeedup" 50 '>=')"
row "Integration step, fast, 1 thread, ns/step (CPU)" "$(printf '%.1f' "$stepFast")" "<= 50 ns" \
  "$(verdict "$stepFast" 50 '<=')"
row "Integration step, per-call routine, ns/step (CPU)" "$(printf '%.0f' "$stepRef")" "" ""

for map in tvk avf; do
  declare -n energies=${map}Energies
  label=$([ "$map" = tvk ] && echo '"TVK-310: p"' || echo '"AVF: 14N5"')
  refFew=$(cpu "$map-few-ref")
  fastFew=$(cpu "$map-few-fast")
  # The per-call routine on the full run, scaled per energy from the three energies (CPU time).
  refFull=$(awk -v t="$refFew" -v n="$energies" -v k="$fewEnergies" 'BEGIN { printf "%.1f", t * n / k }')
  t1Cpu=$(cpu "$map-t1")
  t1Wall=$(wall "$map-t1")
  t2Wall=$(wall "$map-t2")
  row "$label full run, --threads 1: wall / CPU s" "$t1Wall / $t1Cpu" "" ""
  row "$label full run, --threads 2: wall / CPU s" "$t2Wall / $(cpu "$map-t2")" "" ""
  # Cores the runs obtained (CPU / wall): below 1 and 2 when other work shares the machine.
  row "$label cores obtained, --threads 1 / 2 (CPU / wall)" \
    "$(ratio "$t1Cpu" "$t1Wall" 2) / $(ratio "$(cpu "$map-t2")" "$t2Wall" 2)" "" ""
  row "$label 3 energies, per-call routine / fast: CPU s" "$refFew / $fastFew" "" ""
  row "$label same 3 energies, speed-up (CPU)" "$(ratio "$refFew" "$fastFew")x" "" ""
  row "$label per-call full run, scaled x$energies/3 (CPU s)" "$refFull" "" ""
  if [ "$fullReference" = 1 ]; then
    row "$label per-call full run, measured: wall / CPU s" "$(wall "$map-ref") / $(cpu "$map-ref")" "" ""
    refFull=$(cpu "$map-ref")
    basis="measured"
  else
    basis="scaled"
  fi
  t1Speedup=$(ratio "$refFull" "$t1Cpu")
  t2Speedup=$(ratio "$refFull" "$t2Wall")
  if [ "$map" = tvk ]; then
    row "$label --threads 1 speed-up ($basis ref CPU / CPU)" "${t1Speedup}x" ">= 25x" "$(verdict "$t1Speedup" 25 '>=')"
    row "$label --threads 2 speed-up ($basis ref CPU / wall)" "${t2Speedup}x" ">= 50x" "$(verdict "$t2Speedup" 50 '>=')"
  else
    row "$label --threads 1 speed-up ($basis ref CPU / CPU)" "${t1Speedup}x" "" ""
    row "$label --threads 2 speed-up ($basis ref CPU / wall)" "${t2Speedup}x" "" ""
  fi
  docBytes=$(stat -c %s "$work/$map-save2/results.zub")
  for run in t1 t2; do
    rss=$(( $(rssKb "$map-$run") * 1024 ))
    r=$(awk -v a="$rss" -v b="$docBytes" 'BEGIN { printf "%.2f", a / b }')
    row "$label peak RSS, --threads ${run#t} / results size (MB)" \
      "$(awk -v a="$rss" -v b="$docBytes" 'BEGIN { printf "%.0f / %.0f = %.2f", a / 1e6, b / 1e6, a / b }')" \
      "<= 1.5" "$(verdict "$r" 1.5 '<=')"
  done
  rss=$(( $(rssKb "$map-save2") * 1024 ))
  row "$label peak RSS of a run that also saves (MB)" \
    "$(awk -v a="$rss" -v b="$docBytes" 'BEGIN { printf "%.0f = %.2f x results", a / 1e6, a / b }')" "" ""
  row "$label report, --threads 1 vs 2" "$(same "$work/$map-t1/report.txt" "$work/$map-t2/report.txt")" "identical" \
    "$([ "$(same "$work/$map-t1/report.txt" "$work/$map-t2/report.txt")" = identical ] && echo met || echo MISSED)"
  docs=$(same "$work/$map-save1/results.zub" "$work/$map-save2/results.zub")
  vals=$(same "$work/$map-save1/values.tsv" "$work/$map-save2/values.tsv")
  row "$label document / values, --threads 1 vs 2" "$docs / $vals" "identical" \
    "$([ "$docs $vals" = "identical identical" ] && echo met || echo MISSED)"
  fewReport=$(same "$work/$map-few-fast/report.txt" "$work/$map-few-ref/report.txt")
  row "$label report, fast vs per-call, 3 energies" "$fewReport" "identical" \
    "$([ "$fewReport" = identical ] && echo met || echo MISSED)"
  fewValues=$(compareValues "$work/$map-few-fast/values.tsv" "$work/$map-few-ref/values.tsv")
  row "$label values, fast vs per-call, 3 energies" "$fewValues" "1e-12, 1e-15 m" \
    "$([ "${fewValues%% *}" = ok ] && echo met || echo MISSED)"
  if [ "$fullReference" = 1 ]; then
    full=$(same "$work/$map-t1/report.txt" "$work/$map-ref/report.txt")
    row "$label report, fast vs per-call, full run" "$full" "identical" \
      "$([ "$full" = identical ] && echo met || echo MISSED)"
    fullValues=$(compareValues "$work/$map-save2/values.tsv" "$work/$map-ref/values.tsv")
    row "$label values, fast vs per-call, full run" "$fullValues" "1e-12, 1e-15 m" \
      "$([ "${fullValues%% *}" = ok ] && echo met || echo MISSED)"
  else
    row "$label report/values, fast vs per-call, full run" "not run" "identical" \
      "use --full-reference"
  fi
  mode=$([ "$map" = tvk ] && echo 'TVK-310: p' || echo 'AVF: 14N5')
  row "$label field values along orbits, fast vs per-call" \
    "$(grep -F "$mode, patches vs" "$work/closure_floor.txt" |
       sed -E 's/.*: ([0-9]+) % equal, ([0-9]+) % one ulp apart, at most ([0-9]+) ulp/\1 % equal, \2 % 1 ulp, max \3/')" "" ""
  row "$label dReo floor: random 1-ulp field changes" \
    "$(grep -F "$mode, every value" "$work/closure_floor.txt" |
       sed -E 's/.*up to ([0-9.e+-]+) m \(([0-9]+) changed, ([0-9]+) above.*/\1 m (\3 rows > 1e-15)/')" "" ""
done
ringT1Cpu=$(cpu ring-t1)
ringT2Wall=$(wall ring-t2)
row "Ring 72-590 MeV precise, --threads 1: wall / CPU s" "$(wall ring-t1) / $ringT1Cpu" "" ""
row "Ring 72-590 MeV precise, --threads 2: wall / CPU s" "$ringT2Wall / $(cpu ring-t2)" "< 5 s wall" \
  "$(verdict "$ringT2Wall" 5 '<')"
row "Ring cores obtained, --threads 1 / 2 (CPU / wall)" \
  "$(ratio "$ringT1Cpu" "$(wall ring-t1)" 2) / $(ratio "$(cpu ring-t2)" "$ringT2Wall" 2)" "" ""
ringSame=$(same "$work/ring-t1/values.tsv" "$work/ring-t2/values.tsv")
row "Ring values, --threads 1 vs 2" "$ringSame" "identical" \
  "$([ "$ringSame" = identical ] && echo met || echo MISSED)"
row "Document save, ${docMb%.*} MB, wall ms" "$(printf '%.0f' "$docSave")" "about 1 s" ""
row "Document load, ${docMb%.*} MB, wall ms" "$(printf '%.0f' "$docLoad")" "about 1 s" ""
mapRepaint=$(bench view_bench BM_Repaint/3 real_time)
mapFirst=$(bench view_bench BM_MapFirstDraw real_time)
row "Map view repaint, 101 energies, 1200x900 window, wall ms" "$(printf '%.1f' "$mapRepaint")" \
  "< 50 ms" "$(verdict "$mapRepaint" 50 '<')"
row "Map view first draw (reads the map), wall ms" "$(printf '%.1f' "$mapFirst")" "< 300 ms" \
  "$(verdict "$mapFirst" 300 '<')"
for map in "BM_ReadRecordMap141x1080:Record map 141 x 1080" "BM_ReadPolarMap801x360:Polar map 801 x 360"; do
  ms=$(bench map_read_bench "${map%%:*}" real_time)
  mb=$(bench map_read_bench "${map%%:*}" file_MB)
  row "${map#*:} read, $(printf '%.0f' "$mb") MB, wall ms" "$(printf '%.1f' "$ms")" "< 100 ms" \
    "$(verdict "$ms" 100 '<')"
done

echo
echo "Machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ //')"
echo "Load average (1, 5, 15 min): $loadStart at the start, $loadEnd at the end"
echo
printf '%-62s|%34s|%15s|%s\n' "Measure" "Figure" "Target" "Verdict"
printf '%s\n' "--------------------------------------------------------------+----------------------------------+---------------+--------"
printf '%s\n' "${rows[@]}"
