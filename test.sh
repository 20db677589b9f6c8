#!/usr/bin/env bash
# Installs what is missing, builds the sanitized tree (benchmarks included) and runs every test, each
# in its own process, and every benchmark once, briefly.
set -euo pipefail
cd "$(dirname "$0")"
bash scripts/install-deps.sh
cmake -S . -B build-test -G Ninja -DSANITIZE=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTVS_BUILD_BENCH=ON
cmake --build build-test
cd build-test
SDL_AUDIODRIVER=dummy SDL_VIDEODRIVER=dummy ctest --output-on-failure -j"$(nproc)" --timeout 300
