#!/usr/bin/env bash
# The command line from end to end on the built-in sample image: scan, list, identify, report,
# and the clear refusals of bad input.
set -u
cli="$1"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
failures=0

check() {  # check NAME CONDITION...
  local name="$1"
  shift
  if "$@"; then
    echo "ok   $name"
  else
    echo "FAIL $name"
    failures=$((failures + 1))
  fi
}
contains() { grep -qF -- "$2" "$1"; }
exits_with() {  # exits_with CODE COMMAND...
  local want="$1"
  shift
  "$@" >"$work/out" 2>"$work/err"
  local got=$?
  [ "$got" -eq "$want" ] || { echo "  exit $got, wanted $want"; cat "$work/err"; return 1; }
}

exits_with 0 "$cli" sample --out "$work/sample.img"
check "sample image written" test -s "$work/sample.img"

exits_with 0 "$cli" scan --source "$work/sample.img" --brand 18 --mode deep --task "$work/task" --quiet
check "scan finds the sample's files" contains "$work/out" "files: 24"

exits_with 0 "$cli" files --task "$work/task" --json
check "files lists the task" contains "$work/out" '"index": 24'

# identify
check "identify on the sample" exits_with 0 "$cli" identify --source "$work/sample.img"
check "identify names brand 18" contains "$work/out" "[18]  中视安防监控录像系统"
check "identify names the signature brand" contains "$work/out" "signature: [0]"
check "identify status line" contains "$work/err" "已经识别出1种监控类型,请选择后确定"
check "identify --json" exits_with 0 "$cli" identify --source "$work/sample.img" --json
check "identify --json candidate" contains "$work/out" '{"brand": 18, "text": "[18]  中视安防监控录像系统", "hits": '
check "identify --json range" contains "$work/out" '"start_sector": 0, "end_sector": 4952'
check "identify sub-range" exits_with 0 "$cli" identify --source "$work/sample.img" --start-sector 100 --end-sector 2000 --json
check "identify sub-range is used" contains "$work/out" '"start_sector": 100, "end_sector": 2000'
head -c 8388608 /dev/zero >"$work/zeros.img"
check "identify on a blank disk" exits_with 0 "$cli" identify --source "$work/zeros.img" --json
check "identify finds nothing on a blank disk" contains "$work/out" '"candidates": [],'
check "identify blank status line" contains "$work/err" "从存储设备底层没有判断出监控类型,请手工选择"
check "identify missing source" exits_with 1 "$cli" identify --source "$work/missing.img"
check "identify missing source message" contains "$work/err" "访问源设备失败,请确认源设备是否存在"
check "identify folder as source" exits_with 1 "$cli" identify --source "$work"
check "identify without source" exits_with 2 "$cli" identify
check "identify reversed range" exits_with 2 "$cli" identify --source "$work/sample.img" --start-sector 10 --end-sector 5
check "identify bad sector number" exits_with 2 "$cli" identify --source "$work/sample.img" --start-sector x
check "identify range beyond any disk" exits_with 2 "$cli" identify --source "$work/sample.img" --end-sector 18446744073709551615
check "identify partition with sectors" exits_with 2 "$cli" identify --source "$work/sample.img" --partition 1 --start-sector 0

# report
check "report" exits_with 0 "$cli" report --task "$work/task" --source "$work/sample.img" --no-open
check "report prints its path" contains "$work/out" "$work/task/日志报表.html"
check "report file starts with the byte-order mark" test "$(head -c 2 "$work/task/日志报表.html" | od -An -tx1 | tr -d ' ')" = "fffe"
if command -v iconv >/dev/null; then
  iconv -f UTF-16LE -t UTF-8 "$work/task/日志报表.html" >"$work/report.txt"
  check "report lists every file" contains "$work/report.txt" '<TD BGCOLOR="#FFFFFF">24<TD BGCOLOR="#FFFFFF">4<TD'
  check "report channels" contains "$work/report.txt" '[1] [2] [3] [4] '
fi
cp "$work/task/日志报表.html" "$work/first.html"
check "report again" exits_with 0 "$cli" report --task "$work/task" --source "$work/sample.img" --no-open
check "second report is the same" cmp -s "$work/first.html" "$work/task/日志报表.html"
check "report without task" exits_with 2 "$cli" report --source "$work/sample.img"
check "report on a folder that holds no task" exits_with 1 "$cli" report --task "$work" --source "$work/sample.img" --no-open
check "report on a missing source" exits_with 1 "$cli" report --task "$work/task" --source "$work/missing.img" --no-open
mv "$work/task/日志报表.html" "$work/kept.html"
mkdir "$work/task/日志报表.html"
check "report that cannot be created" exits_with 1 "$cli" report --task "$work/task" --source "$work/sample.img" --no-open
check "report creation message" contains "$work/err" "创建日志报表文件失败,请检查此文件是否存在并且被占用"

if [ "$failures" -ne 0 ]; then
  echo "$failures check(s) failed"
  exit 1
fi
echo "all checks passed"
