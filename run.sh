#!/usr/bin/env bash
# Installs what is missing, builds, and runs ZUBA.
#   ./run.sh          the main job on the bundled example map
#   ./run.sh ARGS...  passes ARGS to zuba-cli
#   ./run.sh --gui    starts the desktop program
#   ./run.sh --python SCRIPT [ARGS...]  runs a Python script with the module zuba importable
set -euo pipefail
caller=$PWD
cd "$(dirname "$0")"
here=$PWD

tools/ensure-packages.sh
cmake --preset release >/dev/null
bin=build/release

if [ "${1:-}" = "--python" ]; then
  shift
  [ $# -gt 0 ] || { echo "usage: ./run.sh --python SCRIPT [ARGS...]" >&2; exit 1; }
  if ! built=$(cmake --build --preset release -j "$(nproc)" --target zuba_python 2>&1); then
    echo "$built" >&2
    exit 1
  fi
  # Debian's interpreter, whichever python3 comes first on PATH, in the caller's folder.
  cd "$caller"
  PYTHONPATH="$here/$bin/python${PYTHONPATH:+:$PYTHONPATH}" exec /usr/bin/python3 "$@"
fi
cmake --build --preset release -j "$(nproc)" --target zuba-cli $( [ "${1:-}" = "--gui" ] && echo zuba )

if [ "${1:-}" = "--gui" ]; then
  shift
  exec "$bin/app/zuba" "$@"
fi
if [ $# -gt 0 ]; then
  exec "$bin/cli/zuba-cli" "$@"
fi

# The main job: the "TVK-310: p" preset on the bundled proton map, every output written to out/.
mkdir -p out
"$bin/cli/zuba-cli" map-info examples/tvk310-p.sdf
"$bin/cli/zuba-cli" run --map examples/tvk310-p.sdf --mode "TVK-310: p" \
  --report out/tvk310-p.txt --save out/tvk310-p.zub --values out/tvk310-p.tsv \
  --plot out/tvk310-p.png
