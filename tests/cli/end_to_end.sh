#!/usr/bin/env bash
# The command line from end to end, as a script or an investigator uses it.
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
json() { python3 -c "import json,sys; d=json.load(sys.stdin); $1"; }

"$cli" sample --out "$work/sample.img" >/dev/null
check "sample image written" test -s "$work/sample.img"

"$cli" scan --source "$work/sample.img" --brand 18 --mode deep --task "$work/task" >"$work/scan.out" 2>"$work/scan.err"
check "scan exits 0" test $? -eq 0
check "scan reports completion" grep -q "解析完成" "$work/scan.err"
check "scan shows the brand's messages" grep -q "深度解析\*\*\[18\]  中视安防监控录像系统\*\*视频流信息完成" "$work/scan.err"

# A quick scan that finds none of the brand's index structures ends as a scan, not as a stop.
"$cli" scan --source "$work/sample.img" --brand 2 --mode quick --task "$work/other" >/dev/null 2>"$work/other.err"
check "a quick scan of another brand's disk is no stop" grep -q "^解析完成" "$work/other.err"

"$cli" files --task "$work/task" --json >"$work/files.json" 2>/dev/null
check "files lists 24 entries" json "assert len(d) == 24, len(d)" <"$work/files.json"
check "files carries the contract keys" json "assert all(set(['index','channel','day','start','end','recorder_start','recorder_end','start_time','end_time','size','records']) <= set(e) for e in d)" <"$work/files.json"
check "files are in channel then day order" json "k=[(e['channel'], e['day']) for e in d]; assert k == sorted(k) and d[0]['day'] == '2016-05-17' and d[0]['start'] == '2016年05月17日 08时00分00秒', d[0]" <"$work/files.json"

"$cli" export --task "$work/task" --source "$work/sample.img" --out "$work/out" --json >"$work/export.json" 2>/dev/null
check "export exits 0" test $? -eq 0
check "export leaves no partial file" test -z "$(find "$work/out" -name '.*.partial')"
"$cli" info --task "$work/task" --json >"$work/info.json" 2>"$work/info.err"
check "info exits 0" test $? -eq 0
check "info says a completed scan and its files" json "assert d['complete'] is True and d['checkpoint_sector'] is None and d['found_from'] == 'files' and d['found_count'] == 24 and d['brand'] == 18, d" <"$work/info.json"
check "files of a completed task says nothing of an unfinished scan" bash -c "! \"$cli\" files --task \"$work/task\" 2>&1 >/dev/null | grep -q 扫描未完成"
golden="$(dirname "$0")/golden"
check "files --json of the sample is the golden listing" cmp -s "$work/files.json" "$golden/sample_files.json"
check "export --json of the sample is the golden listing" \
  cmp -s <(sed "s#$work/out#OUT#g" "$work/export.json") "$golden/sample_export.json"
# The recorder's zone, not the workstation's: scanned in UTC and listed in New York, the sample
# (recorded in Shanghai) lists the golden listing; a clock correction moves the shown times only.
TZ=UTC "$cli" scan --source "$work/sample.img" --brand 18 --mode deep --task "$work/zoned" --zone Asia/Shanghai --quiet >/dev/null 2>&1
check "a task with its zone lists the same on any workstation" \
  cmp -s <(TZ=America/New_York "$cli" files --task "$work/zoned" --json 2>/dev/null) "$golden/sample_files.json"
"$cli" scan --source "$work/sample.img" --brand 18 --mode deep --task "$work/slow" --clock-offset 90 --quiet >/dev/null 2>&1
check "a clock correction moves start and end but not the recorder's times" json "e=d[0]; assert (e['start'], e['recorder_start'], e['start_time']) == ('2016年05月17日 08时01分30秒', '2016年05月17日 08时00分00秒', 1463443200), e" < <("$cli" files --task "$work/slow" --json 2>/dev/null)
"$cli" scan --source "$work/sample.img" --brand 18 --mode deep --task "$work/t4" --zone Nowhere/City 2>/dev/null; code=$?
check "an unknown zone is a usage error" test $code -eq 2
check "export writes 24 files with hashes" json "assert len(d) == 24 and all(len(e['sha256']) == 64 and not e['skipped'] for e in d)" <"$work/export.json"
first=$(json "print(d[0]['path'])" <"$work/export.json")
check "hash matches the file" test "$(sha256sum "$first" | cut -d' ' -f1)" = "$(json "print(d[0]['sha256'])" <"$work/export.json")"
frames=$(ffprobe -v error -count_frames -select_streams v:0 -show_entries stream=nb_read_frames -of csv=p=0 "$first" 2>/dev/null)
check "exported file is an H.264 stream ffprobe decodes (200 frames)" test "$frames" = "200"

"$cli" export --task "$work/task" --source "$work/sample.img" --out "$work/out" --json --channel 2 --day 2016-05-18 >"$work/again.json" 2>/dev/null
check "filtered export skips the existing files" json "assert len(d) == 2 and all(e['skipped'] for e in d) and all('/CH02/2016-05-18/' in e['path'] for e in d)" <"$work/again.json"

check "export folder has a manifest sha256sum checks" bash -c "cd '$work/out' && sha256sum -c --strict --quiet SHA256SUMS"
check "the manifest lists every exported file" test "$(wc -l <"$work/out/SHA256SUMS")" -eq 24
check "the manifest survives the run that skipped" bash -c "cd '$work/out' && sha256sum -c --strict --quiet SHA256SUMS"
check "--version names the program and the build's version" bash -c "\"$cli\" --version | grep -qE '^norvale-cli [0-9]+\.[0-9]+\.[0-9]+$'"
check "report.dfxml is well-formed XML" xmllint --noout "$work/out/report.dfxml"
check "report.dfxml keeps all 24 files after a run that skipped some" test "$(grep -c '<fileobject>' "$work/out/report.dfxml")" -eq 24

# convert: one MP4 per file, the clip's 200 frames in 8 s; preview: the first picture.
"$cli" convert --task "$work/task" --source "$work/sample.img" --out "$work/mp4" --json >"$work/convert.json" 2>"$work/convert.err"
check "convert exits 0" test $? -eq 0
check "convert writes 24 whole MP4s" json "assert len(d) == 24 and all(e['complete'] and e['codec'] == 'h264' and e['frames'] == 200 and e['key_frames'] == 8 and abs(e['duration'] - 8) < 1e-6 and e['skipped_bytes'] == 0 for e in d), d[0]" <"$work/convert.json"
check "convert keeps the export's names" json "assert d[0]['path'].endswith('/CH01/2016-05-17/CH01_20160517-080000_20160517-080007.mp4'), d[0]" <"$work/convert.json"
check "convert shows progress as export does" grep -qF "数量:" "$work/convert.err"
mp4=$(json "print(d[0]['path'])" <"$work/convert.json")
check "ffprobe reads 200 frames of H.264 in the MP4" test "$(ffprobe -v error -count_frames -select_streams v:0 -show_entries stream=codec_name,nb_read_frames -of csv=p=0 "$mp4" 2>/dev/null)" = "h264,200"
check "the MP4 lasts 8 s" test "$(ffprobe -v error -show_entries format=duration -of csv=p=0 "$mp4" 2>/dev/null)" = "8.000000"
check "the MP4 carries the recorder's start time" test "$(ffprobe -v error -show_entries format_tags=creation_time -of csv=p=0 "$mp4" 2>/dev/null)" = "2016-05-17T08:00:00.000000Z"
check "the MP4 decodes without an error" test -z "$(ffmpeg -nostdin -v error -i "$mp4" -f null - 2>&1)"
check "the MP4 folder has a manifest sha256sum checks" bash -c "cd '$work/mp4' && sha256sum -c --strict --quiet SHA256SUMS"
"$cli" convert --task "$work/task" --source "$work/sample.img" --out "$work/mp4" --json --channel 3 >"$work/convert2.json" 2>/dev/null
check "a second convert skips the existing MP4s" json "assert len(d) == 6 and all(e['skipped'] for e in d)" <"$work/convert2.json"
check "the MP4 manifest still lists all 24" test "$(wc -l <"$work/mp4/SHA256SUMS")" -eq 24
check "the MP4 report names each MP4 and the recording it comes from" test "$(grep -c '<norvale:derived_from>' "$work/mp4/report.dfxml")" -eq 24
cp "$work/sample.img" "$work/damaged.img"
python3 -c "
import sys
with open(sys.argv[1], 'r+b') as f:
    f.seek(4096 + 150000); f.write(bytes((i * 7919 + 13) % 251 + 2 for i in range(40000)))" "$work/damaged.img"
"$cli" convert --task "$work/task" --source "$work/damaged.img" --out "$work/mp4d" --json --channel 1 --day 2016-05-17 >"$work/damaged.json" 2>"$work/damaged.err"; code=$?
check "a damaged file is written with its loss and exit code 0" test $code -eq 0
check "the damaged file is written but not complete" json "e=d[0]; assert not e['complete'] and e['frames'] > 100 and e['skipped_bytes'] > 0 and d[1]['complete'], d" <"$work/damaged.json"
check "the loss is reported on stderr" grep -q "file 1 incomplete" "$work/damaged.err"
"$cli" preview --task "$work/task" --source "$work/sample.img" --index 1 --out "$work/first.png" >"$work/preview.out" 2>/dev/null
check "preview exits 0" test $? -eq 0
check "preview writes a 352x288 PNG" test "$(ffprobe -v error -show_entries stream=codec_name,width,height -of csv=p=0 "$work/first.png" 2>/dev/null)" = "png,352,288"
"$cli" preview --task "$work/task" --source "$work/sample.img" --index 99 --out "$work/none.png" 2>/dev/null; code=$?
check "preview of a file that does not exist exits 1" test $code -eq 1
"$cli" preview --task "$work/task" --source "$work/sample.img" --index 0 --out "$work/none.png" 2>/dev/null; code=$?
check "preview --index 0 is a usage error" test $code -eq 2
head -c 2535424 /dev/urandom >"$work/noise.img"
"$cli" preview --task "$work/task" --source "$work/noise.img" --index 1 --out "$work/none.png" 2>"$work/err"; code=$?
check "preview of a file without a key frame exits 1" test $code -eq 1
check "preview says there is no picture" grep -q "has no picture" "$work/err"
check "no picture file is left behind" test ! -e "$work/none.png"
"$cli" convert --task "$work/task" --source "$work/noise.img" --out "$work/mp4n" --channel 1 --day 2016-05-17 >/dev/null 2>"$work/err"; code=$?
check "convert of files without video exits 1" test $code -eq 1
# Any number of threads, and reads past the page cache, make the same task files.
"$cli" scan --source "$work/sample.img" --brand 18 --mode deep --task "$work/one" --threads 1 --quiet >/dev/null 2>&1
"$cli" scan --source "$work/sample.img" --brand 18 --mode deep --task "$work/three" --threads 3 --direct --quiet >/dev/null 2>&1
check "three threads and direct reads make the one-thread task files" \
  cmp -s <(cd "$work/one" && sha256sum Attr00*.map) <(cd "$work/three" && sha256sum Attr00*.map)
check "the default scan makes them too" \
  cmp -s <(cd "$work/one" && sha256sum Attr00*.map) <(cd "$work/task" && sha256sum Attr00*.map)
"$cli" scan --source "$work/sample.img" --brand 18 --mode deep --task "$work/t4" --threads 0 2>/dev/null; code=$?
check "zero threads is a usage error" test $code -eq 2

# Bad input: clear messages and exit codes, nothing half done.
"$cli" scan --source "$work/missing.img" --brand 18 --mode deep --task "$work/t2" 2>"$work/err"; code=$?
check "missing source exits 1" test $code -eq 1
check "missing source says so" grep -q "访问源设备失败" "$work/err"
touch "$work/afile"
"$cli" scan --source "$work/sample.img" --brand 18 --mode deep --task "$work/afile/task" 2>"$work/err"; code=$?
check "task folder that cannot be created exits 1" test $code -eq 1
"$cli" scan --source "$work/sample.img" --brand 99 --mode deep --task "$work/t3" 2>/dev/null; code=$?
check "brand out of range is a usage error" test $code -eq 2
"$cli" scan --source "$work/sample.img" --brand 18 --mode fast --task "$work/t3" 2>/dev/null; code=$?
check "unknown mode is a usage error" test $code -eq 2
mkdir -p "$work/foreign"
head -c 4096 /dev/urandom >"$work/foreign/Attr001.map"
"$cli" files --task "$work/foreign" 2>"$work/err"; code=$?
check "foreign task folder exits 1" test $code -eq 1
check "foreign task folder names the problem" grep -q "访问任务路径失败" "$work/err"
"$cli" files --task "$work/nothing-here" 2>/dev/null; code=$?
check "missing task folder exits 1" test $code -eq 1

# identify: the sampled brands with their hits, fewest first; report: the HTML log report.
"$cli" identify --source "$work/sample.img" >"$work/id.out" 2>"$work/id.err"
check "identify exits 0" test $? -eq 0
check "identify names brand 18 with its hits" grep -qP "^\[18\]  中视安防监控录像系统\thits: \d+$" "$work/id.out"
check "identify gives the signature brand" grep -qF "signature: [0]  未知监控录像系统" "$work/id.out"
check "identify says how many brands it found" grep -qP "^已经识别出\d+种监控类型,请选择后确定$" "$work/id.err"
"$cli" identify --source "$work/sample.img" --start-sector 100 --end-sector 2000 --json >"$work/id.json" 2>/dev/null
check "identify --json carries the range and the candidates" json "assert d['start_sector'] == 100 and d['end_sector'] == 2000 and d['candidates'][-1]['brand'] == 18 and d['candidates'][-1]['hits'] > 0 and d['candidates'][-1]['text'] == '[18]  中视安防监控录像系统' and d['signature_brand'] == 0 and not d['stopped'], d" <"$work/id.json"
head -c 8388608 /dev/zero >"$work/zeros.img"
"$cli" identify --source "$work/zeros.img" --json >"$work/id.json" 2>"$work/id.err"
check "identify on a blank disk finds nothing" json "assert d['candidates'] == [], d" <"$work/id.json"
check "identify on a blank disk says so" grep -qF "从存储设备底层没有判断出监控类型,请手工选择" "$work/id.err"
{ printf 'DHFS4.1\0'; head -c 4194296 /dev/zero; } >"$work/dhfs.img"
"$cli" identify --source "$work/dhfs.img" --json >"$work/id.json" 2>/dev/null
check "identify gives the signature brand of a stamped disk" json "assert d['signature_brand'] == 2 and d['signature_text'] == '[2]  大华监控录像系统', d" <"$work/id.json"
"$cli" identify --source "$work/missing.img" 2>"$work/err"; code=$?
check "identify on a missing source exits 1" test $code -eq 1
check "identify on a missing source says so" grep -qF "访问源设备失败,请确认源设备是否存在" "$work/err"
"$cli" identify --source "$work" 2>/dev/null; code=$?
check "identify on a folder exits 1" test $code -eq 1
for bad in "--start-sector 10 --end-sector 5" "--start-sector x" "--end-sector 18446744073709551615" "--partition 0 --start-sector 0"; do
  # shellcheck disable=SC2086
  "$cli" identify --source "$work/sample.img" $bad 2>/dev/null; code=$?
  check "identify $bad is a usage error" test $code -eq 2
done 2>/dev/null
"$cli" identify 2>/dev/null; code=$?
check "identify without a source is a usage error" test $code -eq 2

"$cli" report --task "$work/task" --source "$work/sample.img" --no-open >"$work/report.out" 2>"$work/report.err"
check "report exits 0" test $? -eq 0
check "report prints its path" test "$(cat "$work/report.out")" = "$work/task/日志报表.html"
check "report announces completion" grep -qF "生成日志报表完成" "$work/report.err"
check "report starts with the UTF-16LE byte-order mark" test "$(head -c 2 "$work/task/日志报表.html" | od -An -tx1 | tr -d ' ')" = "fffe"
report_text() { python3 -c "import sys; sys.stdout.write(open(sys.argv[1], 'rb').read().decode('utf-16'))" "$1"; }
check "report lists every file" grep -qF '<TR ALIGN="LEFT"><TD BGCOLOR="#FFFFFF">24<TD BGCOLOR="#FFFFFF">4<TD' <(report_text "$work/task/日志报表.html")
check "report lists the channels" grep -qF '通道信息<TD BGCOLOR="#FFFFFF">[1] [2] [3] [4] ' <(report_text "$work/task/日志报表.html")
cp "$work/task/日志报表.html" "$work/first.html"
"$cli" report --task "$work/task" --source "$work/sample.img" --no-open >/dev/null 2>&1
check "a second report is the same" cmp -s "$work/first.html" "$work/task/日志报表.html"
"$cli" report --source "$work/sample.img" 2>/dev/null; code=$?
check "report without a task is a usage error" test $code -eq 2
"$cli" report --task "$work/foreign" --source "$work/sample.img" --no-open 2>/dev/null; code=$?
check "report on a folder without a task exits 1" test $code -eq 1
"$cli" report --task "$work/task" --source "$work/missing.img" --no-open 2>/dev/null; code=$?
check "report on a missing source exits 1" test $code -eq 1
mkdir -p "$work/blocked"
cp "$work"/task/Attr00?.map "$work/blocked/"
mkdir "$work/blocked/日志报表.html"
"$cli" report --task "$work/blocked" --source "$work/sample.img" --no-open 2>"$work/err"; code=$?
check "a report that cannot be created exits 1" test $code -eq 1
check "a report that cannot be created says so" grep -qF "创建日志报表文件失败,请检查此文件是否存在并且被占用" "$work/err"

# An image whose size is not a multiple of 512: the trailing bytes are scanned too.
head -c $(( $(stat -c %s "$work/sample.img") - 700 )) "$work/sample.img" >"$work/odd.img"
"$cli" scan --source "$work/odd.img" --brand 18 --mode quick --task "$work/odd" >/dev/null 2>&1
check "odd-sized image scans" json "assert len(d) == 24, len(d)" < <("$cli" files --task "$work/odd" --json 2>/dev/null)

# A recorder image kept as a file inside a partition: devices lists the partition, and
# scan --partition scans just its sectors.
mkdir -p "$work/fsroot"
cp "$work/sample.img" "$work/fsroot/"
mkfs.ext4 -q -F -d "$work/fsroot" "$work/fs.img" 16M
truncate -s 1M "$work/disk.img"
cat "$work/fs.img" >>"$work/disk.img"
truncate -s 18M "$work/disk.img"
printf 'label: dos\nstart=2048, size=32768, type=83\n' | sfdisk -q "$work/disk.img"
"$cli" devices --image "$work/disk.img" --json >"$work/devices.json" 2>/dev/null
check "devices lists the image's ext4 partition" json "i=[x for x in d if x['kind'] == 3][0]; p=i['partitions'][0]; assert p['fs_name'] == 'EXT4' and p['start'] == 1048576, p" <"$work/devices.json"
"$cli" scan --source "$work/disk.img" --partition 0 --brand 18 --mode deep --task "$work/part" >/dev/null 2>"$work/part.err"
check "scan --partition finds the recordings inside it" json "assert len(d) == 24, len(d)" < <("$cli" files --task "$work/part" --json 2>/dev/null)
"$cli" scan --source "$work/disk.img" --partition 3 --brand 18 --mode deep --task "$work/part3" 2>/dev/null; code=$?
check "a partition that is not listed exits 1" test $code -eq 1
"$cli" identify --source "$work/disk.img" --partition 0 --json >"$work/id.json" 2>/dev/null
check "identify --partition samples just that partition" json "assert d['start_sector'] == 2048 and d['end_sector'] == 2048 + 32768 and d['candidates'][-1]['brand'] == 18, d" <"$work/id.json"
"$cli" identify --source "$work/disk.img" --partition 3 2>/dev/null; code=$?
check "identify on a partition that is not listed exits 1" test $code -eq 1

# An EWF set of the sample, and the sample split in three: the same 24 files; verify checks the
# stored hashes.
ewfacquirestream -q -S 1048576 -c none -d sha1 -C "case 1" -t "$work/ev" <"$work/sample.img" >/dev/null 2>&1
check "ewfacquirestream made a set of three segments" test -s "$work/ev.E03"
"$cli" scan --source "$work/ev.E01" --brand 18 --mode deep --task "$work/ewf" >/dev/null 2>&1
check "scan of the EWF set finds the 24 files" cmp -s "$work/files.json" <("$cli" files --task "$work/ewf" --json 2>/dev/null)
split -b 1000000 -a 3 --numeric-suffixes=1 "$work/sample.img" "$work/part."
"$cli" scan --source "$work/part.001" --brand 18 --mode deep --task "$work/split" >/dev/null 2>&1
check "scan of the split image finds the 24 files" cmp -s "$work/files.json" <("$cli" files --task "$work/split" --json 2>/dev/null)
"$cli" verify --source "$work/ev.E01" >"$work/verify.out" 2>/dev/null
check "verify of the EWF set exits 0" test $? -eq 0
check "verify names the MD5 of the sample as matching" grep -qP "^MD5\t$(md5sum <"$work/sample.img" | cut -d' ' -f1)\tmatches the stored hash$" "$work/verify.out"
"$cli" devices --image "$work/ev.E01" --json >"$work/devices.json" 2>/dev/null
check "devices shows the EWF evidence" json "e=d[-1]['evidence']; assert e['kind'] == 'ewf' and e['segments'] == 3 and e['case_number'] == 'case 1' and e['sha1'] == '$(sha1sum <"$work/sample.img" | cut -d' ' -f1)', e" <"$work/devices.json"
"$cli" verify 2>/dev/null; code=$?
check "verify without a source is a usage error" test $code -eq 2

# Ctrl-C during a long scan: it stops at a block, keeps what it found, and the task is held
# against other processes while it runs.
cp "$work/sample.img" "$work/big.img"
truncate -s 24G "$work/big.img"
"$cli" scan --source "$work/big.img" --brand 18 --mode deep --task "$work/big" >"$work/big.out" 2>"$work/big.err" &
scan_pid=$!
sleep 1
"$cli" files --task "$work/big" 2>"$work/held.err"; code=$?
check "a task in use is refused to a second process" test $code -eq 1
check "the refusal says why" grep -q "another process" "$work/held.err"
kill -INT "$scan_pid"
wait "$scan_pid"; code=$?
check "stopped scan exits 0" test $code -eq 0
check "stopped scan says it stopped" grep -q "stopped" "$work/big.err"
check "stopped scan kept what it found" json "assert len(d) == 24, len(d)" < <("$cli" files --task "$work/big" --json 2>/dev/null)

echo "$passes passed, $failures failed"
test "$failures" -eq 0
