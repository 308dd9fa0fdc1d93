#!/usr/bin/env bash
# Runs clang-tidy (.clang-tidy) over the product code, the sources of every library and front end,
# with the compile commands of the ci build. Exits non-zero on any finding.
#   tools/tidy.sh [FILE...]    only the files given
set -euo pipefail
cd "$(dirname "$0")/.."
tools/ensure-packages.sh clang-tidy
build=build/ci
if [ ! -f "$build/compile_commands.json" ]; then
  cmake --preset ci >/dev/null
fi
# Qt's generated sources (moc, rcc) must exist before their includes can be analysed.
cmake --build "$build" --target zuba_app_autogen zuba_view_autogen >/dev/null 2>&1 || true
if [ $# -gt 0 ]; then
  files=("$@")
else
  mapfile -t files < <(git ls-files 'platform/*.cpp' 'numerics/*.cpp' 'results/*.cpp' 'calc/*.cpp' \
                         'graph/*.cpp' 'app/*.cpp' 'cli/*.cpp' 'python/*.cpp')
fi
printf '%s\n' "${files[@]}" |
  xargs -P "$(nproc)" -n 4 clang-tidy -p "$build" --quiet 2>/dev/null | tee /tmp/tidy.$$.log >&2 || true
if grep -q -E "(warning|error): " /tmp/tidy.$$.log; then
  echo "clang-tidy: $(grep -c -E '(warning|error): ' /tmp/tidy.$$.log) findings" >&2
  rm -f /tmp/tidy.$$.log
  exit 1
fi
rm -f /tmp/tidy.$$.log
echo "clang-tidy: no findings in ${#files[@]} files"
