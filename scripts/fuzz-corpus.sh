#!/bin/bash
# Builds the libFuzzer targets with clang (ASan + UBSan) and replays each seed corpus once,
# without mutating: a crash or a sanitizer report on any corpus file fails the script.
# A longer fuzzing session uses the same build: build-fuzz/fuzz/tk/fuzz_tk_rx fuzz/tk/corpus
set -euo pipefail
cd "$(dirname "$0")/.."

BUILD=${FUZZ_BUILD:-build-fuzz}
if ! command -v clang++ >/dev/null 2>&1; then
  echo "fuzz-corpus: clang++ not found (scripts/install-deps.sh installs it)" >&2
  exit 1
fi

CC=clang CXX=clang++ cmake -S . -B "$BUILD" -G Ninja -DPONMC_FUZZ=ON -DPONMC_SANITIZE=address \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null

export ASAN_OPTIONS=${ASAN_OPTIONS:-halt_on_error=1:detect_leaks=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-halt_on_error=1:print_stacktrace=1}

# target : corpus folder
for pair in "fuzz_tk_rx:fuzz/tk/corpus"; do
  target=${pair%%:*}
  corpus=${pair#*:}
  cmake --build "$BUILD" -j2 --target "$target"
  files=("$corpus"/*)
  # Files given one by one run each input exactly once and never write into the corpus.
  "$BUILD/${corpus%/corpus}/$target" -runs=1 "${files[@]}" >"$BUILD/$target.log" 2>&1 || {
    tail -50 "$BUILD/$target.log" >&2
    echo "fuzz-corpus: $target failed on its corpus" >&2
    exit 1
  }
  echo "fuzz-corpus: $target replayed ${#files[@]} inputs"
done
