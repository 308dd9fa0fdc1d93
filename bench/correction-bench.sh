#!/usr/bin/env bash
# Measures the corrections on the example maps with the release build and prints one table:
#   - zuba-cli trim-fit on examples/tvk310-p-disturbed.sdf with examples/trim-coils.tsv, the 101
#     energies of "TVK-310: p", --threads 1 and 2: wall and CPU time, the currents found against
#     the opposite of the currents that disturbed the map, the isochronism and RF phase before and
#     after, the condition number;
#   - zuba-cli isochronise on the proton example made without the flutter correction of its mean
#     field (synth-map --no-flutter-correction), --threads 2: wall time, isochronism before, after
#     (unrounded field) and after writing the corrected map (values to 1e-5 T);
#   - zuba-cli isochronise on the ring example (80 .. 560 MeV in 4 MeV steps) as it is, with a
#     Gaussian bump of 0.3 mT at 3.5 m (sigma 0.2 m) and with noise of 0.05 mT from radius node to
#     radius node added (written as .sdf, values to 0.1 Gs): termination, iterations, isochronism
#     before and after, the largest |dB| and its total variation and range over the orbits' span;
#   - with --noise-draws N, the same for N further draws of that noise (draws 1 .. N; draw 0 is the
#     one above), and the largest total variation / range over all of them.
# Usage: bench/correction-bench.sh [--no-build] [--noise-draws N]
set -euo pipefail

here=$(cd "$(dirname "$0")/.." && pwd)
build=1
draws=0
while [ $# -gt 0 ]; do
  case $1 in
    --no-build) build=0 ;;
    --noise-draws) draws=${2:?--noise-draws needs a count}; shift ;;
    *) echo "usage: $0 [--no-build] [--noise-draws N]" >&2; exit 1 ;;
  esac
  shift
done
needed=()
/usr/bin/time -f '' true 2>/dev/null || needed+=(time)
command -v jq >/dev/null || needed+=(jq)
if [ ${#needed[@]} -gt 0 ]; then "$here/tools/ensure-packages.sh" "${needed[@]}"; fi
if [ "$build" = 1 ]; then
  (cd "$here" && cmake --preset release >/dev/null && cmake --build build/release --target zuba-cli -j2 >/dev/null)
fi
cli=$here/build/release/cli/zuba-cli
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
echo "Measuring on $(nproc) cores, load average $(cut -d' ' -f1-3 /proc/loadavg)" >&2

# timed NAME ARGS...: zuba-cli with GNU time; NAME.json its output, NAME.time "wall user sys".
timed() {
  local name=$1; shift
  echo "  $name" >&2
  /usr/bin/time -f '%e %U %S' -o "$work/$name.time" "$cli" "$@" >"$work/$name.json" 2>"$work/$name.err" ||
    { echo "zuba-cli failed for $name:" >&2; cat "$work/$name.err" >&2; exit 1; }
}
wall() { cut -d' ' -f1 "$work/$1.time"; }
cpu() { awk '{ printf "%.2f", $2 + $3 }' "$work/$1.time"; }
verdict() { if awk -v a="$1" -v b="$2" "BEGIN { exit !(a $3 b) }"; then echo "met"; else echo "MISSED"; fi; }
rows=()
row() { rows+=("$(printf '%-58s|%40s|%12s|%s' "$1" "$2" "$3" "$4")"); }

fit=(trim-fit --map "$here/examples/tvk310-p-disturbed.sdf" --coils "$here/examples/trim-coils.tsv" --json)
timed fit-t1 "${fit[@]}" --threads 1
timed fit-t2 "${fit[@]}" --threads 2
"$cli" synth-map --mode "TVK-310: p" --unit Gs --r-min 0.05 --r-max 0.75 --dr 0.01 --theta-min 0 \
  --theta-max 360 --dtheta 2 --flutter 0.4 --flutter-radius 0.15 --spiral 25 --no-flutter-correction \
  -o "$work/uncorrected.sdf" >/dev/null
timed iso-t2 isochronise --map "$work/uncorrected.sdf" --threads 2 -o "$work/corrected.sdf" --json
# The ring example with a smooth error and with noise in its mean field (awk: header kept, values
# radius by radius, 720 azimuths each).
ring=(--set ParticleName=p --set m0=1.007276466812 --set Q=1 --set Frf=50.65 --set H=6 --set N=8
  --set EkBegin=80 --set EkEnd=560 --set dEk=4 --threads 2 --json)
# perturb bump | perturb noise [DRAW]: the noise of each radius node from a generator seeded by the
# draw and the node.
perturb() {
  awk -v kind="$1" -v draw="${2:-0}" 'BEGIN { last = -1 } NR <= 3 { print; if (NR == 2) { r0 = $1; dr = $3 } next }
    { for (k = 1; k <= NF; k++) { i = int(n / 720); R = r0 + i * dr
        if (kind == "bump") d = 3 * exp(-0.5 * ((R - 3.5) / 0.2) ^ 2)
        else { if (i != last) { srand(draw * 100000 + 1000 + i); u = rand(); v = rand(); noise = 0.5 * sqrt(-2 * log(u)) * cos(6.283185307 * v); last = i } d = noise }
        printf "%.1f%s", $k + d, (k < NF ? " " : "\n"); n++ } }' "$here/examples/ring-590.sdf"
}
perturb bump >"$work/ring-bump.sdf"
perturb noise >"$work/ring-noise.sdf"
timed ring isochronise --map "$here/examples/ring-590.sdf" "${ring[@]}"
timed ring-bump isochronise --map "$work/ring-bump.sdf" "${ring[@]}"
timed ring-noise isochronise --map "$work/ring-noise.sdf" "${ring[@]}"
noiseRuns=(ring-noise)
for ((d = 1; d <= draws; d++)); do
  perturb noise "$d" >"$work/ring-noise-$d.sdf"
  timed "ring-noise-$d" isochronise --map "$work/ring-noise-$d.sdf" "${ring[@]}"
  noiseRuns+=("ring-noise-$d")
done

j() { jq -r "$2" "$work/$1.json"; }
row "trim-fit, 101 energies, --threads 1: wall / CPU s" "$(wall fit-t1) / $(cpu fit-t1)" "" ""
row "trim-fit, 101 energies, --threads 2: wall / CPU s" "$(wall fit-t2) / $(cpu fit-t2)" "< 10 s" \
  "$(verdict "$(wall fit-t2)" 10 '<')"
# The map was disturbed by T1..T5 = 20, -35, 15, -10, 40 A: the fit should give the opposite.
disturbance=(20 -35 15 -10 40)
worstRel=0
for k in 0 1 2 3 4; do
  current=$(j fit-t2 ".currents[$k].current_A")
  rel=$(awk -v c="$current" -v d="${disturbance[$k]}" 'BEGIN { r = (c + d) / d; if (r < 0) r = -r; printf "%.2e", r }')
  worstRel=$(awk -v a="$worstRel" -v b="$rel" 'BEGIN { print (b > a ? b : a) }')
  row "  $(j fit-t2 ".currents[$k].name") (disturbed by ${disturbance[$k]} A), A" \
    "$(printf '%.4f' "$current") (off by $rel)" "" ""
done
row "trim-fit currents, worst relative difference" "$worstRel" "< 1 %" "$(verdict "$worstRel" 0.01 '<')"
row "trim-fit isochronism before / after" \
  "$(printf '%.3e / %.3e' "$(j fit-t2 .isochronism_before)" "$(j fit-t2 .isochronism_after)")" "" ""
row "trim-fit RF phase before / after, deg" \
  "$(printf '%.3f / %.4f' "$(j fit-t2 .phase_deg_before)" "$(j fit-t2 .phase_deg_after)")" "" ""
row "trim-fit condition number, iterations" \
  "$(printf '%.3f' "$(j fit-t2 .condition_number)"), $(j fit-t2 .iterations)" "" ""
row "trim-fit --threads 1 vs 2, currents" \
  "$([ "$(jq -c .currents "$work/fit-t1.json")" = "$(jq -c .currents "$work/fit-t2.json")" ] && echo identical || echo DIFFERENT)" \
  "identical" ""
row "isochronise, no flutter correction, --threads 2: wall s" "$(wall iso-t2)" "" ""
after=$(j iso-t2 .isochronism_after)
row "isochronise: isochronism before / after (unrounded)" \
  "$(printf '%.3e / %.3e' "$(j iso-t2 .isochronism_before)" "$after")" "< 5e-7" "$(verdict "$after" 5e-7 '<')"
row "isochronise: after writing the map (values to 1e-5 T)" \
  "$(printf '%.3e' "$(j iso-t2 .isochronism_after_written)")" "" ""
row "isochronise: iterations, termination" "$(j iso-t2 .iterations), $(j iso-t2 .termination)" "" ""
for name in ring ring-bump "${noiseRuns[@]}"; do
  row "isochronise $name: wall s, termination, iterations" \
    "$(wall $name), $(j $name .termination), $(j $name .iterations)" "" ""
  row "  isochronism before / after" \
    "$(printf '%.2e / %.2e' "$(j $name .isochronism_before)" "$(j $name .isochronism_after)")" "" ""
  row "  RF phase before / after, deg" \
    "$(printf '%.2f / %.2f' "$(j $name .phase_deg_before)" "$(j $name .phase_deg_after)")" "" ""
  tv=$(j $name .total_variation_t); range=$(j $name .range_t)
  row "  largest |dB|, total variation / range, T" \
    "$(printf '%.2e, %.2e / %.2e' "$(j $name .largest_delta_b_t)" "$tv" "$range")" "TV <= 4 range" \
    "$(verdict "$tv" "$(awk -v r="$range" 'BEGIN { print 4 * r }')" '<=')"
done

if [ "$draws" -gt 0 ]; then
  worstRatio=$(for name in "${noiseRuns[@]}"; do j "$name" 'if .range_t > 0 then .total_variation_t / .range_t else 0 end'; done |
    awk 'NR == 1 || $1 > w { w = $1 } END { printf "%.2f", w }')
  row "noise, $((draws + 1)) draws: largest total variation / range" "$worstRatio" "<= 4" \
    "$(verdict "$worstRatio" 4 '<=')"
fi
printf '%-58s|%40s|%12s|%s\n' "Measurement" "Measured" "Target" "Verdict"
printf '%s\n' "${rows[@]}"
echo "Load average at the end: $(cut -d' ' -f1-3 /proc/loadavg)"
