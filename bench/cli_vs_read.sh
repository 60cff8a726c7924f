#!/usr/bin/env bash
# Whole norvale-cli scan processes (scan, rebuild, load) against a plain read of the same image,
# with the image in the page cache, so that two builds can be compared on the same images:
#   bench/cli_vs_read.sh CLI BRAND IMAGE [EXTRA SCAN ARGS...]
# prints: image MiB, dd MB/s, scan MB/s, ratio, peak RSS MiB (best of three scans).
set -uo pipefail
cli=$1 brand=$2 image=$3
shift 3
bytes=$(stat -c %s "$image")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
best_read=0 best_scan=0 rss=0
dd if="$image" of=/dev/null bs=4M status=none  # into the page cache
for _ in 1 2 3; do
  t0=$(date +%s.%N); dd if="$image" of=/dev/null bs=4M status=none; t1=$(date +%s.%N)
  best_read=$(python3 -c "print(max($best_read, $bytes / ($t1 - $t0) / 1e6))")
done
for _ in 1 2 3; do
  rm -rf "$work/task"
  t0=$(date +%s.%N)
  /usr/bin/time -f %M -o "$work/rss" "$cli" scan --source "$image" --brand "$brand" --mode deep --task "$work/task" --quiet "$@" >/dev/null 2>&1
  t1=$(date +%s.%N)
  best_scan=$(python3 -c "print(max($best_scan, $bytes / ($t1 - $t0) / 1e6))")
  rss=$(python3 -c "print(max($rss, $(cat "$work/rss")))")
done
python3 -c "print(f'$(basename "$image")\t{$bytes/2**20:.0f} MiB\tread {$best_read:.0f} MB/s\ttask {$best_scan:.0f} MB/s\tratio {$best_scan/$best_read:.2f}\tpeak RSS {$rss/1024:.0f} MiB')"
