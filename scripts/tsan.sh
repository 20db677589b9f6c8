#!/usr/bin/env bash
# Races: builds the tests of the concurrency-heavy rooms with ThreadSanitizer (build-tsan/) and
# runs them, each test in its own process. Only these rooms are compiled (and what they link).
# Reports inside uninstrumented system libraries are suppressed by scripts/tsan.supp.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh

ROOM_TESTS=(platform_base_tests platform_dispatch_tests promises_tests utilities_tests
            VDTCORLibrary_tests clt_uploader_tests installations_tests measurement_foundation_tests
            measurement_storage_tests)

cmake -S . -B build-tsan -G Ninja -DSANITIZE=thread -DCMAKE_BUILD_TYPE=RelWithDebInfo \
      -DTVS_BUILD_BENCH=OFF > /dev/null
cmake --build build-tsan -j "${TSAN_BUILD_JOBS:-$(nproc)}" --target "${ROOM_TESTS[@]}"
labels="^($(IFS='|'; echo "${ROOM_TESTS[*]}"))\$"
cd build-tsan
SDL_AUDIODRIVER=dummy SDL_VIDEODRIVER=dummy \
  ctest --output-on-failure -j"$(nproc)" --timeout 300 -L "$labels"
