#!/usr/bin/env bash
# Long fuzz runs with libFuzzer (clang, address + undefined), in build-fuzz/.
#   scripts/fuzz.sh TARGET SECONDS   run one target (e.g. property_list_fuzz) for SECONDS
#   scripts/fuzz.sh --list           the targets
#   scripts/fuzz.sh --corpus         rewrite the valid-* inputs of every corpus from our encoders
#   scripts/fuzz.sh --all SECONDS    build every target and run each for SECONDS (CI does, with 20);
#                                    a build failure, crash, leak or timeout in any fails the run
# New inputs go to build-fuzz/corpus/TARGET (the committed corpus stays small); a crash, leak,
# timeout or memory blow-up is written to build-fuzz/findings/. Once mended, copy the finding to
# fuzz/corpus/TARGET/regression-<what>, where ctest replays it in every test build.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh

# Every target fuzz/CMakeLists.txt declares, so that a new one is built and run without a change here.
mapfile -t TARGETS < <(sed -n 's/^tvs_fuzz(\([a-z0-9_]*\) .*/\1/p' fuzz/CMakeLists.txt)
if [ ${#TARGETS[@]} -eq 0 ]; then
  echo "no fuzz targets found in fuzz/CMakeLists.txt" >&2
  exit 1
fi
JOBS="${FUZZ_BUILD_JOBS:-$(nproc)}"

if [ "${1:-}" = "--list" ]; then
  printf '%s\n' "${TARGETS[@]}"
  exit 0
fi

configure() {
  CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DTVS_FUZZ=ON -DTVS_BUILD_TESTS=OFF -DTVS_BUILD_BENCH=OFF > /dev/null
}

if [ "${1:-}" = "--corpus" ]; then
  configure
  cmake --build build-fuzz -j "$JOBS" --target fuzz_corpus
  corpus_home="$(mktemp -d)"
  TVS_HOME="$corpus_home" LSAN_OPTIONS="suppressions=$PWD/scripts/lsan.supp" \
    build-fuzz/fuzz/fuzz_corpus fuzz/corpus "$PWD"
  rm -rf "$corpus_home"
  exit 0
fi

if [ $# -ne 2 ] || ! [[ "$2" =~ ^[0-9]+$ ]]; then
  echo "usage: $0 TARGET SECONDS | --all SECONDS | --list | --corpus" >&2
  exit 2
fi
seconds="$2"

# run TARGET: fuzzes it for $seconds from its committed corpus, in a sandbox home of its own.
run() {
  local target="$1"
  local work="build-fuzz/corpus/$target"
  local findings="build-fuzz/findings"
  mkdir -p "$work" "$findings"
  local fuzz_home
  fuzz_home="$(mktemp -d)"
  local status=0
  # Leaks that system libraries keep are not ours (see scripts/lsan.supp).
  TVS_HOME="$fuzz_home" SDL_AUDIODRIVER=dummy SDL_VIDEODRIVER=dummy \
  LSAN_OPTIONS="suppressions=$PWD/scripts/lsan.supp" \
    "build-fuzz/fuzz/$target" -max_total_time="$seconds" -timeout=30 -rss_limit_mb=2048 \
    -max_len=65536 -print_final_stats=1 -artifact_prefix="$findings/$target-" \
    "$work" "fuzz/corpus/$target" || status=$?
  rm -rf "$fuzz_home"
  return "$status"
}

if [ "$1" = "--all" ]; then
  configure
  # Every room too (a few more files than the targets link): clang's checks of the rooms, such as
  # no object destroyed at exit (cmake/Rooms.cmake), then hold for all of them.
  cmake --build build-fuzz -j "$JOBS" --target "${TARGETS[@]}" tvs_rooms
  # The decoders log every input they refuse: each target's output goes to its own file, and
  # only the end of it (the fuzzer's report) is shown when the target fails.
  mkdir -p build-fuzz/logs
  failed=()
  for target in "${TARGETS[@]}"; do
    log="build-fuzz/logs/$target.log"
    if run "$target" > "$log" 2>&1; then
      echo "fuzzed $target for ${seconds}s: $(grep -a -m1 '^Done ' "$log" || echo 'no summary')"
    else
      echo "== $target failed; the end of $log:"
      tail -n 200 "$log"
      failed+=("$target")
    fi
  done
  if [ ${#failed[@]} -ne 0 ]; then
    echo "fuzzing found failures in: ${failed[*]} (inputs in build-fuzz/findings/)" >&2
    exit 1
  fi
  echo "fuzzing: ${#TARGETS[@]} targets ran ${seconds}s each without a finding"
  exit 0
fi

target="$1"
if ! printf '%s\n' "${TARGETS[@]}" | grep -qx "$target"; then
  echo "unknown target $target; $0 --list shows them" >&2
  exit 2
fi

configure
cmake --build build-fuzz -j "$JOBS" --target "$target"
run "$target"
