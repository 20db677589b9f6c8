#!/usr/bin/env bash
# Long fuzz runs with libFuzzer (clang, address + undefined), in build-fuzz/.
#   scripts/fuzz.sh TARGET SECONDS   run one target (e.g. property_list_fuzz) for SECONDS
#   scripts/fuzz.sh --list           the targets
#   scripts/fuzz.sh --corpus         rewrite the valid-* inputs of every corpus from our encoders
# New inputs go to build-fuzz/corpus/TARGET (the committed corpus stays small); a crash, leak,
# timeout or memory blow-up is written to build-fuzz/findings/. Once mended, copy the finding to
# fuzz/corpus/TARGET/regression-<what>, where ctest replays it in every test build.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh

TARGETS=(catalogue_fuzz property_list_fuzz keyed_archive_fuzz transport_event_file_fuzz
         measurement_message_fuzz upload_response_fuzz installations_response_fuzz gzip_fuzz
         url_fuzz keychain_file_fuzz raw_event_stored_form_fuzz)
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
  echo "usage: $0 TARGET SECONDS | --list | --corpus" >&2
  exit 2
fi
target="$1"
seconds="$2"
if ! printf '%s\n' "${TARGETS[@]}" | grep -qx "$target"; then
  echo "unknown target $target; $0 --list shows them" >&2
  exit 2
fi

configure
cmake --build build-fuzz -j "$JOBS" --target "$target"

work="build-fuzz/corpus/$target"
findings="build-fuzz/findings"
mkdir -p "$work" "$findings"
fuzz_home="$(mktemp -d)"
trap 'rm -rf "$fuzz_home"' EXIT
# Leaks that system libraries keep are not ours (see scripts/lsan.supp).
TVS_HOME="$fuzz_home" SDL_AUDIODRIVER=dummy SDL_VIDEODRIVER=dummy \
LSAN_OPTIONS="suppressions=$PWD/scripts/lsan.supp" \
  "build-fuzz/fuzz/$target" -max_total_time="$seconds" -timeout=30 -rss_limit_mb=2048 \
  -max_len=65536 -print_final_stats=1 -artifact_prefix="$findings/$target-" \
  "$work" "fuzz/corpus/$target"
