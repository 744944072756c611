#!/usr/bin/env bash
# Sets up a fresh Debian 12 machine, builds the client and starts it.
set -euo pipefail

cd "$(dirname "$0")/.."
source scripts/setup.sh
install_packages "${client_packages[@]}"

cmake -S . -B build-run -G Ninja -DCMAKE_BUILD_TYPE=Release -DVANDRELL_BENCHMARKS=OFF
cmake --build build-run --parallel "$(nproc)" --target vandrellqt

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    echo "No display found. On a machine without one, start the client in a virtual display:" >&2
    echo "    apt-get install -y xvfb && xvfb-run -a ./scripts/run.sh" >&2
    exit 1
fi
exec ./build-run/vandrellqt "$@"
