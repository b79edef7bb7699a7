#!/bin/sh
# Configures and builds one build folder: scripts/build.sh [release|asan]
#   release  build/release, optimised with debug information (the default)
#   asan     build/asan, with AddressSanitizer and UndefinedBehaviorSanitizer, tests only
set -eu
top=$(cd "$(dirname "$0")/.." && pwd)
kind=${1:-release}
jobs=$(nproc 2>/dev/null || echo 2)
case "$kind" in
    release) dir="$top/build/release"; flags="-DCMAKE_BUILD_TYPE=RelWithDebInfo" ;;
    asan)    dir="$top/build/asan"; flags="-DCMAKE_BUILD_TYPE=Debug -DQUORVANTI_SANITIZE=ON -DQUORVANTI_BENCH=OFF" ;;
    *) echo "build.sh: unknown build kind '$kind' (release or asan)" >&2; exit 2 ;;
esac
# shellcheck disable=SC2086
cmake -S "$top" -B "$dir" $flags >/dev/null
cmake --build "$dir" -j "$jobs"
