#!/usr/bin/env bash
# Installs what is missing, builds the sanitized tree and runs every test, each in its own process.
set -euo pipefail
cd "$(dirname "$0")"
bash scripts/install-deps.sh
cmake -S . -B build-test -G Ninja -DSANITIZE=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTVS_BUILD_BENCH=OFF
cmake --build build-test
cd build-test
SDL_AUDIODRIVER=dummy SDL_VIDEODRIVER=dummy ctest --output-on-failure -j"$(nproc)" --timeout 300
