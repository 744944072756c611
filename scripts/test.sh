#!/usr/bin/env bash
# Sets up a fresh Debian 12 machine, builds everything and runs every test twice: once in a
# normal build, once under AddressSanitizer and UndefinedBehaviorSanitizer. A third build, with
# clang, runs each fuzz target under libFuzzer for a fixed number of inputs. The time of each
# stage is printed at the end.
set -euo pipefail

cd "$(dirname "$0")/.."

source scripts/setup.sh
# miniupnpd, nftables and iproute2 let the port-mapping test run a real gateway; clang and its
# runtime libraries bring libFuzzer.
install_packages "${client_packages[@]}" libbenchmark-dev miniupnpd-nftables nftables iproute2 \
    clang libclang-rt-14-dev

jobs=$(nproc)
timings=()

# Runs the command and notes how long it took under the name.
stage() {
    local name=$1 start=$SECONDS
    shift
    "$@"
    timings+=("$(printf '%-20s %5d s' "$name" $((SECONDS - start)))")
}

build() {
    local folder=$1
    shift
    cmake -S . -B "$folder" -G Ninja "$@"
    cmake --build "$folder" --parallel "$jobs"
}

run_tests() {
    (cd "$1" && ctest --output-on-failure --parallel "$jobs")
}

fuzz_build() {
    CC=clang CXX=clang++ build build-fuzz -DCMAKE_BUILD_TYPE=Debug -DVANDRELL_FUZZ=ON \
        -DVANDRELL_BENCHMARKS=OFF
}

run_sanitized_tests() {
    ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 run_tests "$1"
}

stage "normal build" build build -DCMAKE_BUILD_TYPE=RelWithDebInfo
stage "normal tests" run_tests build

stage "sanitizer build" build build-sanitize -DCMAKE_BUILD_TYPE=Debug -DVANDRELL_SANITIZE=ON \
    -DVANDRELL_BENCHMARKS=OFF
stage "sanitizer tests" run_sanitized_tests build-sanitize

# Only the libraries and the fuzz targets; libFuzzer reports its own findings.
stage "fuzz build" fuzz_build
stage "fuzz tests" run_tests build-fuzz

printf '%s\n' "${timings[@]}"
