#!/usr/bin/env bash
# Builds the libFuzzer targets with clang 16 into build-fuzz/, writes their seed corpora into
# build/fuzz-corpus/<target>/, and runs every target for SECONDS each (default 60), with the
# inputs under tests/fuzz/regressions/<target>/ added. Fails on any crash, leak, sanitizer report
# or slow input; what broke is kept in build-fuzz/findings/<target>/.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-60}
build="$root/build-fuzz"
corpus="$root/build/fuzz-corpus"
findings="$build/findings"
clang=$(command -v clang++-16 || true)
if [ -z "$clang" ]; then
  echo "clang++-16 is missing: install clang-16 and libclang-rt-16-dev (tools/apt-packages.txt)" >&2
  exit 1
fi

cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER="$clang" \
  -DNORVALE_FUZZ=ON -DNORVALE_BUILD_TESTS=OFF -DNORVALE_BUILD_GUI=OFF >/dev/null
cmake --build "$build" --parallel 2 --target norvale-fuzz-seeds >/dev/null
mapfile -t targets < <("$build/tests/fuzz/norvale-fuzz-seeds" --list)
if [ ${#targets[@]} -eq 0 ]; then
  echo "norvale-fuzz-seeds names no target" >&2
  exit 1
fi
names=()
for line in "${targets[@]}"; do names+=("norvale-fuzz-${line%% *}"); done
cmake --build "$build" --parallel 2 --target "${names[@]}"
"$build/tests/fuzz/norvale-fuzz-seeds" "$corpus"

failed=()
for line in "${targets[@]}"; do
  name=${line%% *}
  max_len=${line##* }
  mkdir -p "$findings/$name" "$corpus/$name"
  dirs=("$corpus/$name")
  [ -d "$root/tests/fuzz/regressions/$name" ] && dirs+=("$root/tests/fuzz/regressions/$name")
  log="$findings/$name.log"
  echo "fuzzing $name for ${seconds}s"
  if "$build/tests/fuzz/norvale-fuzz-$name" -max_total_time="$seconds" -max_len="$max_len" -timeout=60 \
       -rss_limit_mb=4096 -print_final_stats=1 -artifact_prefix="$findings/$name/" "${dirs[@]}" >"$log" 2>&1; then
    grep -E '^stat::number_of_executed_units|^stat::new_units_added' "$log" | sed "s/^/  /" || true
  else
    failed+=("$name")
    tail -n 40 "$log"
    echo "  $name failed: input and log in $findings/$name/" >&2
  fi
done
if [ ${#failed[@]} -gt 0 ]; then
  echo "fuzzing found problems in: ${failed[*]}" >&2
  exit 1
fi
echo "fuzzing: ${#targets[@]} targets, ${seconds}s each, no crash"
