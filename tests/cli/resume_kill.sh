#!/usr/bin/env bash
# A scan killed with SIGKILL (early, inside a checkpoint's flush, in and after the rebuild) and then
# resumed leaves task files byte-identical to a scan never interrupted. The scan kills itself at
# the moment its hidden test options name: --test-kill-at MOMENT[:N], --checkpoint-seconds S.
set -uo pipefail
cli="$1"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
passes=0
check() {  # check NAME CONDITION...
  local name="$1"; shift
  if "$@"; then passes=$((passes + 1)); else echo "FAILED: $name"; failures=$((failures + 1)); fi
}
sums() { (cd "$1" && sha256sum Attr001.map Attr002.map Attr003.map Attr004.map); }
# The header's checkpoint tag (bytes 100-101): the scan had not finished.
has_checkpoint() { [ "$(od -An -tx1 -j100 -N2 "$1/Attr001.map" | tr -d ' ')" = "0100" ]; }
has_header() { [ -f "$1/Attr001.map" ] && [ "$(stat -c %s "$1/Attr001.map")" -ge 256 ]; }

"$cli" sample --out "$work/sample.img" >/dev/null
"$cli" scan --source "$work/sample.img" --brand 18 --mode deep --task "$work/ref" --quiet >/dev/null 2>&1
check "the reference scan completes" test $? -eq 0
sums "$work/ref" >"$work/ref.sums"

killed_scan() {  # killed_scan NAME OPTION... : a scan that kills itself (SIGKILL) where the options say
  local name="$1"; shift
  "$cli" scan --source "$work/sample.img" --brand 18 --mode deep --task "$work/$name" --threads 2 "$@" \
    >/dev/null 2>"$work/$name.err"
  check "$name: the scan was killed (SIGKILL)" test $? -eq 137
}

# Early: after the header is written, while blocks are still being scanned.
killed_scan early --test-kill-at progress:2
check "early: the task is started" has_header "$work/early"
# Inside a checkpoint: records written past the last checkpoint, its header not yet.
killed_scan flush --checkpoint-seconds 0 --test-kill-at flush
check "flush: the scan was killed inside a checkpoint" grep -q "killed at: flush" "$work/flush.err"
# In the rebuild: the sorted segments written, the file entries not yet.
killed_scan sorted --test-kill-at sorted
check "sorted: the scan was killed in the rebuild" grep -q "killed at: sorted" "$work/sorted.err"
# After the rebuild wrote the sorted segments and file entries, before the last header.
killed_scan rebuild --test-kill-at rebuild
check "rebuild: the scan was killed after the rebuild" grep -q "killed at: rebuild" "$work/rebuild.err"

for name in early flush sorted rebuild; do
  check "$name: the killed scan left a checkpoint" has_checkpoint "$work/$name"
  "$cli" scan --resume --task "$work/$name" >"$work/$name.out" 2>"$work/$name.resume"
  check "$name: the resume exits 0" test $? -eq 0
  check "$name: the resume completes" grep -q "解析完成" "$work/$name.resume"
  check "$name: the task files are those of the uninterrupted scan" cmp -s <(sums "$work/$name") "$work/ref.sums"
  check "$name: the listing is the uninterrupted scan's" \
    cmp -s <("$cli" files --task "$work/$name" --json 2>/dev/null) <("$cli" files --task "$work/ref" --json 2>/dev/null)
done

"$cli" scan --resume --task "$work/ref" >/dev/null 2>"$work/done.err"
check "a completed task is not resumed (exit 1)" test $? -eq 1
check "a completed task is named so" grep -q "任务已完成" "$work/done.err"
check "a completed task has no checkpoint" test "$(has_checkpoint "$work/ref"; echo $?)" -eq 1
check "a completed task is left as it was" cmp -s <(sums "$work/ref") "$work/ref.sums"

killed_scan nosource --test-kill-at progress:2
rm -f "$work/nosource/source.txt"
"$cli" scan --resume --task "$work/nosource" >/dev/null 2>"$work/nosource.err"
check "without a recorded source the resume asks for --source (exit 2)" test $? -eq 2
"$cli" scan --resume --task "$work/nosource" --source "$work/sample.img" --quiet >/dev/null 2>&1
check "with --source it resumes" cmp -s <(sums "$work/nosource") "$work/ref.sums"

echo "$passes passed, $failures failed"
[ "$failures" -eq 0 ]
