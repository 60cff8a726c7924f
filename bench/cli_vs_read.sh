#!/usr/bin/env bash
# Whole norvale-cli scan processes (scan, rebuild, load) against a plain read of the same image,
# with the image in the page cache, so that two builds can be compared on the same images:
#   bench/cli_vs_read.sh CLI BRAND IMAGE [EXTRA SCAN ARGS...]
# prints: image MiB, dd MB/s, whole-task MB/s, their ratio and peak RSS (best of three runs).
set -euo pipefail
[ $# -ge 3 ] || { echo "usage: $0 CLI BRAND IMAGE [SCAN ARGS...]" >&2; exit 2; }
cli=$1 brand=$2 image=$3
shift 3
[ -f "$image" ] || { echo "no image $image" >&2; exit 1; }
bytes=$(stat -c %s "$image")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
seconds() { python3 -c "import sys; print(float(sys.argv[2]) - float(sys.argv[1]))" "$@"; }
best_read=1e9 best_task=1e9 rss=0
dd if="$image" of=/dev/null bs=4M status=none  # into the page cache
for _ in 1 2 3; do
  t0=$(date +%s.%N); dd if="$image" of=/dev/null bs=4M status=none; t1=$(date +%s.%N)
  best_read=$(python3 -c "print(min($best_read, $(seconds "$t0" "$t1")))")
done
for _ in 1 2 3; do
  rm -rf "$work/task"
  t0=$(date +%s.%N)
  if ! /usr/bin/time -f %M -o "$work/rss" "$cli" scan --source "$image" --brand "$brand" --mode deep \
      --task "$work/task" --quiet "$@" >/dev/null 2>"$work/err"; then
    echo "scan failed:" >&2; cat "$work/err" >&2; exit 1
  fi
  t1=$(date +%s.%N)
  best_task=$(python3 -c "print(min($best_task, $(seconds "$t0" "$t1")))")
  rss=$(python3 -c "print(max($rss, $(tail -1 "$work/rss")))")
done
python3 - "$image" "$bytes" "$best_read" "$best_task" "$rss" <<'PY'
import os, sys
name, size, read, task, rss = sys.argv[1], int(sys.argv[2]), float(sys.argv[3]), float(sys.argv[4]), int(sys.argv[5])
print(f"{os.path.basename(name)}\t{size / 2**20:.0f} MiB\tread {size / read / 1e6:.0f} MB/s"
      f"\ttask {size / task / 1e6:.0f} MB/s\tratio {read / task:.2f}\tpeak RSS {rss / 1024:.0f} MiB")
PY
