#!/usr/bin/env bash
# Installs what is needed, builds, and runs the whole test suite through CTest:
# once normally, once under AddressSanitizer + UBSan; in between, the Debian
# packages are built, installed, tried and removed.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
jobs=$(nproc)

# Parsers that read outside input are fuzzed for a bounded time.
bash scripts/fuzz.sh

# Configured for /usr, so the packages below are made from this same tree.
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_INSTALL_PREFIX=/usr
cmake --build build -j"$jobs"
ctest --test-dir build --output-on-failure -j"$jobs"

# The Debian packages: built from build/, installed, run, checked, removed.
bash scripts/package-check.sh

cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DQUILLET_SANITIZE=ON
cmake --build build-asan -j"$jobs"
ASAN_OPTIONS=detect_leaks=0:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    ctest --test-dir build-asan --output-on-failure -j"$jobs"
