#!/usr/bin/env bash
# The main job on the built-in sample: make a recorder image, scan it, list and export the files.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cli="$root/build/norvale-cli"
work="${1:-$root/build/demo}"
rm -rf "$work"
mkdir -p "$work"

"$cli" sample --out "$work/sample.img"
"$cli" scan --source "$work/sample.img" --brand 18 --mode deep --task "$work/task"
echo
"$cli" files --task "$work/task"
echo
"$cli" export --task "$work/task" --source "$work/sample.img" --out "$work/export"
echo
echo "Recovered video exported to: $work/export"
find "$work/export" -type f -name '*.h264' | sort | head -n 3
echo "... (play one with: ffplay FILE, or check it with: ffprobe FILE)"
