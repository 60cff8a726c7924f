#!/usr/bin/env bash
# Shows that the working tree scans, rebuilds and loads every test image exactly as an earlier
# revision does: both builds run the parser, task, export and command-line suites with
# NORVALE_TASK_TRACE set (one line per task: task files' bytes, file map, file bytes,
# notifications), and the sample's `files --json` and `export --json` plus its task files are
# taken from both norvale-cli programs. Any difference is printed and the exit code is 1.
#   tests/identity/compare_with_revision.sh BASE_REV [WORK_DIR]
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
base=${1:?usage: compare_with_revision.sh BASE_REV [WORK_DIR]}
work=${2:-$(mktemp -d)}
mkdir -p "$work"

build_tree() {  # source dir, build dir
  cmake -S "$1" -B "$2" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DNORVALE_BUILD_GUI=OFF >/dev/null
  cmake --build "$2" --parallel 2 >/dev/null
}

trace_tree() {  # build dir, output prefix
  rm -f "$2.trace"
  for suite in test_parsers test_task test_export test_report test_storage test_cli; do
    [ -x "$1/tests/$suite" ] || continue
    (cd "$1/tests" && TZ=Asia/Shanghai NORVALE_TASK_TRACE="$2.trace" "./$suite" >/dev/null 2>&1) || true
  done
  sort -o "$2.trace" "$2.trace"
  local cli="$1/norvale-cli" sample="$work/sample.img" task="$2.task" out="$2.export"
  rm -rf "$task" "$out"
  [ -f "$sample" ] || TZ=Asia/Shanghai "$cli" sample --out "$sample" >/dev/null
  TZ=Asia/Shanghai "$cli" scan --source "$sample" --brand 18 --mode deep --task "$task" >/dev/null 2>&1
  TZ=Asia/Shanghai "$cli" files --task "$task" --json >"$2.files.json"
  TZ=Asia/Shanghai "$cli" export --task "$task" --source "$sample" --out "$out" --json 2>/dev/null |
    sed "s#$out#OUT#g" >"$2.export.json"
  (cd "$task" && sha256sum Attr00*.map) >"$2.taskfiles"
}

if [ ! -d "$work/base-src" ]; then
  git -C "$root" worktree add --detach "$work/base-src" "$base" >/dev/null
fi
build_tree "$work/base-src" "$work/base-build"
build_tree "$root" "$work/head-build"
trace_tree "$work/base-build" "$work/base"
trace_tree "$work/head-build" "$work/head"

# Tasks of tests the base does not have are new, not different: they are counted, not compared.
awk 'NR == FNR { seen[$1] = 1; next } ($1 in seen)' "$work/base.trace" "$work/head.trace" >"$work/head.common.trace"
awk 'NR == FNR { seen[$1] = 1; next } !($1 in seen)' "$work/base.trace" "$work/head.trace" >"$work/head.new.trace"
cp "$work/head.trace" "$work/head.all.trace"
mv "$work/head.common.trace" "$work/head.trace"

status=0
for part in trace files.json export.json taskfiles; do
  if ! diff -q "$work/base.$part" "$work/head.$part" >/dev/null; then
    # head closes the pipe early on a long diff; that must not end the script under pipefail.
    echo "differs: $part"; diff "$work/base.$part" "$work/head.$part" | head -20 || true; status=1
  fi
done
echo "traced tasks: $(wc -l <"$work/head.trace") (base $(wc -l <"$work/base.trace")), new: $(wc -l <"$work/head.new.trace")"
[ $status -eq 0 ] && echo "identical to $base"
git -C "$root" worktree remove --force "$work/base-src" >/dev/null 2>&1 || true
exit $status
