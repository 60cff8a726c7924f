#!/usr/bin/env bash
# Shows that two norvale-cli programs print the same for the sample's task commands: each runs
# them in a folder of its own, and their stdout, stderr and exit codes (clock times in log lines
# and the folder masked), task files and written files are compared. Any difference is printed
# and the exit code is 1.
#   tests/identity/compare_cli_output.sh BASE_CLI HEAD_CLI [WORK_DIR]
set -uo pipefail
base_cli=${1:?usage: compare_cli_output.sh BASE_CLI HEAD_CLI [WORK_DIR]}
head_cli=${2:?usage: compare_cli_output.sh BASE_CLI HEAD_CLI [WORK_DIR]}
work=${3:-$(mktemp -d)}
export TZ=Asia/Shanghai

run_all() {  # cli, output folder
  local cli=$1 out=$2
  rm -rf "$out" && mkdir -p "$out"
  run() { local name=$1; shift; "$cli" "$@" >"$out/$name.out" 2>"$out/$name.err"; echo "rc=$?" >>"$out/$name.out"; }
  run sample sample --out "$out/s.img"
  run scan scan --source "$out/s.img" --brand 18 --mode deep --task "$out/task"
  run scanq scan --source "$out/s.img" --brand 18 --mode quick --task "$out/taskq"
  run files files --task "$out/task"
  run filesj files --task "$out/task" --json
  run info info --task "$out/task"
  run export export --task "$out/task" --source "$out/s.img" --out "$out/exp"
  run exportagain export --task "$out/task" --source "$out/s.img" --out "$out/exp"
  run convert convert --task "$out/task" --source "$out/s.img" --out "$out/conv" --channel 1
  run clip clip --task "$out/task" --source "$out/s.img" --out "$out/clip" --from "2016-05-17 08:00:00" --to "2016-05-17 08:00:05"
  run report report --task "$out/task" --source "$out/s.img" --no-open
  run preview preview --task "$out/task" --source "$out/s.img" --index 2 --out "$out/p.png"
  run identify identify --source "$out/s.img"
  run identifyj identify --source "$out/s.img" --json
  run notask files --task "$out/nothing"
  run resumedone scan --resume --task "$out/task"
  sed -i -E "s#$out#OUT#g; s/[0-9]{4}-[0-9]{2}-[0-9]{2} [0-9]{2}-[0-9]{2}-[0-9]{2}/TIME/" "$out"/*.out "$out"/*.err
  for d in task taskq; do (cd "$out/$d" && sha256sum Attr00*.map) >"$out/$d.sums"; done
  # report.dfxml and the log report name the folder and the time of the run.
  for d in exp conv clip; do (cd "$out/$d" && find . -type f ! -name report.dfxml -exec sha256sum {} + | sort) >"$out/$d.sums"; done
  sha256sum <"$out/p.png" >"$out/png.sums"
}

run_all "$base_cli" "$work/base"
run_all "$head_cli" "$work/head"
status=0
for f in "$work"/base/*.out "$work"/base/*.err "$work"/base/*.sums; do
  name=$(basename "$f")
  if ! cmp -s "$f" "$work/head/$name"; then
    echo "differs: $name"
    diff "$f" "$work/head/$name" | head -20
    status=1
  fi
done
[ $status -eq 0 ] && echo "identical: $(ls "$work"/base/*.out | wc -l) commands"
exit $status
