#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for a bounded time
# (FUZZ_SECONDS, default 30) over its seed corpus. Any crash or sanitizer
# report fails the run.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${FUZZ_SECONDS:-30}
CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUILLET_FUZZ=ON
cmake --build build-fuzz -j"$(nproc)"
shopt -s nullglob
for fuzzer in build-fuzz/bin/fuzz_*; do
    name=$(basename "$fuzzer")
    corpus=tests/fuzz/corpus/$name
    work=$(mktemp -d)
    seeds=()
    [ -d "$corpus" ] && seeds=("$corpus")
    echo "== $name for ${seconds}s"
    "$fuzzer" -max_total_time="$seconds" -rss_limit_mb=2048 -print_final_stats=1 "$work" "${seeds[@]}"
    rm -rf "$work"
done
