#!/usr/bin/env bash
# Installs what is missing, builds the app and starts it in a window (headless without a display:
# it then writes a snapshot of the root screen and says where). Extra arguments go to the app.
set -euo pipefail
cd "$(dirname "$0")"
bash scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTVS_BUILD_TESTS=OFF -DTVS_BUILD_BENCH=OFF
cmake --build build --target TavoVastrowSoundboard
exec build/TVS/TavoVastrowSoundboard "$@"
