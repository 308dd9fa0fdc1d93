#!/usr/bin/env bash
# Runs the example maps (the two presets and the eight-sector ring, 72 - 590 MeV) with both
# closures and prints the figures of docs/PRECISION.md: the identity F0 = |q| Bmn / (2 pi gamma m)
# of closed orbits and the largest radial-velocity residual (each with its energy), the isochronism
# error of each closure, the energies not closed, the difference of the two F0 curves, and the wall
# time of each run. With --pictures DIR it also draws the frequency and isochronism graphs of both
# closures and the tune diagram into DIR. The default closure on the ring takes one to two minutes.
# Usage: bench/precision.sh [path/to/zuba-cli] [--pictures DIR]
set -eu
here=$(cd "$(dirname "$0")/.." && pwd)
cli=${1:-$here/build/release/cli/zuba-cli}
pictures=""
if [ "${2:-}" = "--pictures" ]; then pictures=${3:?--pictures needs a folder}; fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The program's own constants, read from numerics/constants.h.
constant() { sed -n "s/.*constexpr double $1 = \([0-9.e+-]*\);.*/\1/p" "$here/numerics/constants.h"; }
c=$(constant kSpeedOfLight)
e=$(constant kElementaryCharge)
u=$(constant kKilogramsPerSamu)

run() {  # name map mass_samu charge closure run-parameter-arguments...
  local name=$1 map=$2 m=$3 q=$4 closure=$5
  shift 5
  start=$(date +%s.%N)
  "$cli" run --map "$here/examples/$map" "$@" --closure "$closure" --quiet \
    --values "$work/$name-$closure.tsv" --save "$work/$name-$closure.zub" 2>"$work/$name-$closure.err" ||
    [ $? = 3 ]  # 3: no precise orbit closed; the outputs are still written
  end=$(date +%s.%N)
  # Unclosed: the default search's closure error dReo above its 0.5 mm, or a precise energy
  # without values.
  awk -v name="$name" -v closure="$closure" -v m="$m" -v q="$q" -v t0="$start" -v t1="$end" \
      -v c="$c" -v e="$e" -v u="$u" '
    BEGIN { FS = "\t"; pi = 4 * atan2(1, 1); mass = m * u; worst = 0; lo = 1; hi = -1 }
    NR > 1 && $6 == "" { open++ }
    NR > 1 && $6 != "" {
      gamma = 1 + $1 / (mass * c * c)
      identity = q * e * $4 / (2 * pi * gamma * mass)
      d = $6 / identity - 1; if (d < 0) d = -d; if (d > worst) { worst = d; at = $2 }
      v = $13 < 0 ? -$13 : $13; if (v > vr) { vr = v; atvr = $2 }
      if ($8 < lo) lo = $8; if ($8 > hi) hi = $8
      if ($7 > 0.0005 || $7 < -0.0005) open++
      if ($10 == "unstable" || $11 == "unstable") unstable++
    }
    END { printf "%-4s %-9s identity %.2e (%g MeV)  vR residual %.1e m/rad (%g MeV)  isochronism %+.2e .. %+.2e  unclosed %d of %d  unstable %d  %.1f s\n",
                 name, closure, worst, at, vr, atvr, lo, hi, open, NR - 1, unstable, t1 - t0 }' "$work/$name-$closure.tsv"
}

ring=(--set ParticleName=p --set m0=1.007276466812 --set Q=1 --set Frf=50.65 --set H=6 --set N=8
      --set EkBegin=72 --set EkEnd=590 --set dEk=2)
for closure in standard precise; do
  run tvk tvk310-p.sdf 1.007276466812 1 "$closure" --mode "TVK-310: p"
  run avf avf-14n5.sdf 14.000330460238006 5 "$closure" --mode "AVF: 14N5"
  run ring ring-590.sdf 1.007276466812 1 "$closure" "${ring[@]}"
done
for name in tvk avf ring; do
  paste "$work/$name-standard.tsv" "$work/$name-precise.tsv" | awk -v name="$name" '
    BEGIN { FS = "\t"; worst = 0; dr = 0 }
    NR > 1 && $6 != "" && $19 != "" { d = $19 / $6 - 1; if (d < 0) d = -d; if (d > worst) { worst = d; at = $2 }
             r = $16 - $3; if (r < 0) r = -r; if (r > dr) dr = r }
    END { printf "%-4s default - precise: largest |dF0/F0| %.2e at %.1f MeV, largest |dRmn| %.2e m\n",
                 name, worst, at, dr }'
done
if [ -n "$pictures" ]; then
  mkdir -p "$pictures"
  for name in tvk avf ring; do
    "$cli" plot "$work/$name-standard.zub" --kind frequency -o "$pictures/$name-f0-default.png"
    "$cli" plot "$work/$name-precise.zub" --kind frequency -o "$pictures/$name-f0-precise.png"
    "$cli" plot "$work/$name-standard.zub" --compare "$work/$name-precise.zub" \
      --kind isochronism -o "$pictures/$name-isochronism.png"
    "$cli" plot "$work/$name-precise.zub" --kind tunes -o "$pictures/$name-tunes.png"
  done 2>/dev/null
fi
