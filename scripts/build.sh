#!/usr/bin/env bash
# Configures and builds the kit in ./build (Release by default).
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build -DCMAKE_BUILD_TYPE="${BUILD_TYPE:-Release}" >/dev/null
cmake --build build -j"${JOBS:-2}"
