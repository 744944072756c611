#!/usr/bin/env bash
# Sets up a fresh Debian 12 machine, builds everything and runs every test twice:
# once in a normal build, once under AddressSanitizer and UndefinedBehaviorSanitizer.
set -euo pipefail

cd "$(dirname "$0")/.."

source scripts/setup.sh
# miniupnpd, nftables and iproute2 let the port-mapping test run a real gateway.
install_packages "${client_packages[@]}" libbenchmark-dev miniupnpd-nftables nftables iproute2

jobs=$(nproc)

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build --parallel "$jobs"
(cd build && ctest --output-on-failure --parallel "$jobs")

cmake -S . -B build-sanitize -G Ninja -DCMAKE_BUILD_TYPE=Debug -DVANDRELL_SANITIZE=ON \
    -DVANDRELL_BENCHMARKS=OFF
cmake --build build-sanitize --parallel "$jobs"
(cd build-sanitize &&
    ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
        ctest --output-on-failure --parallel "$jobs")
