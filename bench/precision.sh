#!/bin/sh
# Runs both example maps with both closures and prints the figures of docs/PRECISION.md: the
# identity F0 = |q| Bmn / (2 pi gamma m) of closed orbits, the isochronism error of each closure,
# the difference of the two F0 curves, and the wall time of each run. With --pictures DIR it also
# draws the frequency and isochronism graphs of both closures and the tune diagram into DIR.
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

run() {  # name mode map mass_samu charge closure
  start=$(date +%s.%N)
  "$cli" run --map "$here/examples/$3" --mode "$2" --closure "$6" --quiet \
    --values "$work/$1-$6.tsv" --save "$work/$1-$6.zub" 2>"$work/$1-$6.err"
  end=$(date +%s.%N)
  awk -v name="$1" -v closure="$6" -v m="$4" -v q="$5" -v t0="$start" -v t1="$end" \
      -v c="$c" -v e="$e" -v u="$u" '
    BEGIN { FS = "\t"; pi = 4 * atan2(1, 1); mass = m * u; worst = 0; lo = 1; hi = -1 }
    NR > 1 {
      gamma = 1 + $1 / (mass * c * c)
      identity = q * e * $4 / (2 * pi * gamma * mass)
      d = $6 / identity - 1; if (d < 0) d = -d; if (d > worst) worst = d
      if ($8 < lo) lo = $8; if ($8 > hi) hi = $8
      if ($7 > 0.0005 || $7 < -0.0005) open++
      if ($10 == "unstable" || $11 == "unstable") unstable++
    }
    END { printf "%-4s %-9s identity %.2e  isochronism %+.2e .. %+.2e  unclosed %d  unstable %d  %.1f s\n",
                 name, closure, worst, lo, hi, open, unstable, t1 - t0 }' "$work/$1-$6.tsv"
}

for closure in described precise; do
  run tvk "TVK-310: p" tvk310-p.sdf 1.007276466812 1 "$closure"
  run avf "AVF: 14N5" avf-14n5.sdf 14.000330460238006 5 "$closure"
done
for name in tvk avf; do
  paste "$work/$name-described.tsv" "$work/$name-precise.tsv" | awk -v name="$name" '
    BEGIN { FS = "\t"; worst = 0; dr = 0 }
    NR > 1 { d = $19 / $6 - 1; if (d < 0) d = -d; if (d > worst) { worst = d; at = $2 }
             r = $16 - $3; if (r < 0) r = -r; if (r > dr) dr = r }
    END { printf "%-4s default - precise: largest |dF0/F0| %.2e at %.1f MeV, largest |dRmn| %.2e m\n",
                 name, worst, at, dr }'
done
if [ -n "$pictures" ]; then
  mkdir -p "$pictures"
  for name in tvk avf; do
    "$cli" plot "$work/$name-described.zub" --kind frequency -o "$pictures/$name-f0-default.png"
    "$cli" plot "$work/$name-precise.zub" --kind frequency -o "$pictures/$name-f0-precise.png"
    "$cli" plot "$work/$name-described.zub" --compare "$work/$name-precise.zub" \
      --kind isochronism -o "$pictures/$name-isochronism.png"
    "$cli" plot "$work/$name-precise.zub" --kind tunes -o "$pictures/$name-tunes.png"
  done 2>/dev/null
fi
