#!/usr/bin/env bash
# Builds and runs the whole test suite.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/tools/build.sh"
cd "$root/build"
ctest --output-on-failure --parallel 2
