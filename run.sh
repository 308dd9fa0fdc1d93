#!/usr/bin/env bash
# Installs what is missing, builds, and runs ZUBA.
#   ./run.sh          the main job on the bundled example map
#   ./run.sh ARGS...  passes ARGS to zuba-cli
#   ./run.sh --gui    starts the desktop program
set -euo pipefail
cd "$(dirname "$0")"

tools/ensure-packages.sh
cmake --preset release >/dev/null
cmake --build --preset release -j "$(nproc)" --target zuba-cli $( [ "${1:-}" = "--gui" ] && echo zuba )
bin=build/release

if [ "${1:-}" = "--gui" ]; then
  shift
  exec "$bin/app/zuba" "$@"
fi
if [ $# -gt 0 ]; then
  exec "$bin/cli/zuba-cli" "$@"
fi

"$bin/cli/zuba-cli" map-info examples/tvk310-p.sdf
