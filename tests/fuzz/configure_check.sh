#!/usr/bin/env bash
# The fuzz tree configures with clang++-16, links libFuzzer and names every target; another
# compiler is refused with a clear message. Exit 77 (skipped) when clang++-16 is not installed.
set -uo pipefail
src=$1
work=$2
other=${3:-}
clang=$(command -v clang++-16 || true)
if [ -z "$clang" ]; then
  echo "clang++-16 is not installed: skipped"
  exit 77
fi
rm -rf "$work"
mkdir -p "$work"

# libFuzzer and the sanitizer runtimes come with libclang-rt-14-dev.
printf 'extern "C" int LLVMFuzzerTestOneInput(const unsigned char*, unsigned long) { return 0; }\n' > "$work/probe.cpp"
if ! "$clang" -fsanitize=fuzzer,address,undefined "$work/probe.cpp" -o "$work/probe" > "$work/probe.log" 2>&1; then
  cat "$work/probe.log"
  echo "clang++ cannot link a libFuzzer target: install libclang-rt-16-dev"
  exit 1
fi

common=(-G Ninja -DNORVALE_FUZZ=ON -DNORVALE_BUILD_TESTS=OFF -DNORVALE_BUILD_GUI=OFF)
if ! cmake -S "$src" -B "$work/clang" "${common[@]}" -DCMAKE_CXX_COMPILER="$clang" > "$work/clang.log" 2>&1; then
  cat "$work/clang.log"
  echo "the fuzz tree does not configure with $clang"
  exit 1
fi
for t in seeds partitions decoder scan task_files identify; do
  grep -q "build norvale-fuzz-$t:" "$work/clang/build.ninja" || { echo "no target norvale-fuzz-$t"; exit 1; }
done
grep -q -- "-fsanitize=fuzzer-no-link,address,undefined" "$work/clang/build.ninja" \
  || { echo "the core is not built with the fuzzer instrumentation"; exit 1; }

if [ -n "$other" ] && ! "$other" --version 2>/dev/null | grep -qi clang; then
  if cmake -S "$src" -B "$work/other" "${common[@]}" -DCMAKE_CXX_COMPILER="$other" > "$work/other.log" 2>&1; then
    echo "NORVALE_FUZZ configured with $other, which cannot build libFuzzer targets"
    exit 1
  fi
  grep -q "NORVALE_FUZZ needs clang" "$work/other.log" || { cat "$work/other.log"; exit 1; }
fi
rm -rf "$work"
echo "the fuzz tree configures with $clang"
