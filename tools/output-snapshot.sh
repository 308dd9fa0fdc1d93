#!/usr/bin/env bash
# Writes every user-visible output of zuba-cli on both example maps into one folder, so that two
# builds can be compared byte for byte with `diff -r`:
#   tools/output-snapshot.sh BUILD_DIR OUT_DIR
# BUILD_DIR holds cli/zuba-cli (for example build/release). Runs both maps in both closure modes
# with 1 and 2 threads (report, document, values, JSON, plots of every kind, summary, messages),
# the map commands, the document commands and the synthetic map writer.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:?build folder}
out=${2:?output folder}
cli="$(cd "$build" && pwd)/cli/zuba-cli"
mkdir -p "$out"
# Every file is named relative to the output folder (the report and the document keep the names
# they are given), so that snapshots of two checkouts compare equal.
cp examples/tvk310-p.sdf examples/avf-14n5.sdf "$out/"
# A fixed time for the copied maps: documents keep the map's stamp (size, time, hash).
touch -d "2000-01-01 00:00:00 UTC" "$out/tvk310-p.sdf" "$out/avf-14n5.sdf"
cd "$out"
out=.
export XDG_RUNTIME_DIR=${XDG_RUNTIME_DIR:-$(mktemp -d)}

# Runs a command, keeping stdout, stderr and the exit code under the given name.
keep() {
  local name=$1
  shift
  set +e
  "$@" >"$out/$name.stdout" 2>"$out/$name.stderr"
  echo $? >"$out/$name.rc"
  set -e
}

# The default closure's name on the command line of the build being snapshotted (builds before
# the name "standard" called it otherwise), so that snapshots of old and new builds compare.
standard=$("$cli" run --help | grep -o -E '\{[a-z]+,precise\}' | head -n 1 |
  sed -E 's/\{([a-z]+),.*/\1/')

for map in tvk310-p avf-14n5; do
  mode="TVK-310: p"
  [ "$map" = avf-14n5 ] && mode="AVF: 14N5"
  keep "$map.map-info" "$cli" map-info "$map.sdf"
  keep "$map.map-info-json" "$cli" map-info "$map.sdf" --json
  keep "$map.harmonics" "$cli" harmonics "$map.sdf" --sectors 4 --json
  keep "$map.field" "$cli" field "$map.sdf" 0.3 0.7
  for closure in standard precise; do
    arg=$closure
    [ "$closure" = standard ] && arg=$standard
    for threads in 1 2; do
      tag="$map.$closure.t$threads"
      keep "$tag.run" "$cli" run --map "$map.sdf" --mode "$mode" --closure "$arg" \
        --threads "$threads" --quiet --report "$out/$tag.txt" --save "$out/$tag.zub" \
        --values "$out/$tag.tsv" --plot "$out/$tag.png"
      keep "$tag.json" "$cli" run --map "$map.sdf" --mode "$mode" --closure "$arg" \
        --threads "$threads" --quiet --json
      keep "$tag.summary" "$cli" run --map "$map.sdf" --mode "$mode" \
        --closure "$arg" --threads "$threads" --set EkEnd=20
    done
    tag="$map.$closure.t1"
    keep "$tag.info" "$cli" info "$out/$tag.zub" --json
    keep "$tag.report" "$cli" report "$out/$tag.zub" -o "$out/$tag.report.txt"
    for kind in frequency isochronism tunes; do
      keep "$tag.plot-$kind" "$cli" plot "$out/$tag.zub" --kind "$kind" -o "$out/$tag.$kind.svg"
    done
  done
done
# Refusals and failures: their messages and exit codes.
keep refused-set "$cli" run --map tvk310-p.sdf --set dEk=0
keep refused-h "$cli" run --map tvk310-p.sdf --set H=0
keep refused-map "$cli" run --map /nonexistent.sdf
keep refused-path "$cli" run --map "  "
keep failed-energy "$cli" run --map tvk310-p.sdf --set EkEnd=90 --quiet
keep failed-precise "$cli" run --map tvk310-p.sdf --set EkEnd=90 --closure precise --quiet
keep synth "$cli" synth-map --mode "TVK-310: p" --unit Gs --r-min 0.05 --r-max 0.4 --dr 0.01 \
  --theta-min 0 --theta-max 360 --dtheta 2 --flutter 0.4 --flutter-radius 0.15 --spiral 20 \
  -o "$out/synth.sdf"
echo "snapshot in $(pwd)"
