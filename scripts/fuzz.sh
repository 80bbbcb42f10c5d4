#!/usr/bin/env bash
# Fuzzes one target with libFuzzer for a number of minutes, under AddressSanitizer and
# UndefinedBehaviorSanitizer:  scripts/fuzz.sh TARGET MINUTES   (e.g. VepDatagram_fuzz 5).
# Starts from the target's corpus in tests/fuzz/corpus/TARGET; what it finds new is kept in
# build-fuzz/corpus/TARGET, a crashing input in build-fuzz/ (copy it into the corpus once the
# fault is mended, so that the normal test run replays it). Prints the run's figures and the
# coverage of the target's own decoder files. Touches no network.
set -euo pipefail
cd "$(dirname "$0")/.."
if [ $# -ne 2 ]; then
  echo "usage: scripts/fuzz.sh TARGET MINUTES; targets:" >&2
  ls tests/fuzz/*_fuzz.cpp | xargs -n1 basename | sed 's/\.cpp$//' >&2
  exit 2
fi
target=$1 minutes=$2
if ! command -v clang++ >/dev/null; then
  [ "$(id -u)" -eq 0 ] || { echo "fuzz.sh: needs clang (run as root to install)" >&2; exit 1; }
  apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
    clang llvm libclang-rt-14-dev >/dev/null
fi

CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DSCOUTOR_FUZZ=ON -DCMAKE_CXX_FLAGS="-fprofile-instr-generate -fcoverage-mapping" >/dev/null
cmake --build build-fuzz --target "$target" >/dev/null

work=build-fuzz/corpus/$target
mkdir -p "$work"
cp -n tests/fuzz/corpus/"$target"/* "$work"/ 2>/dev/null || true
export LLVM_PROFILE_FILE=$PWD/build-fuzz/$target.profraw
(cd build-fuzz && "./tests/fuzz/$target" -max_total_time=$((minutes * 60)) -print_final_stats=1 \
  -artifact_prefix=./ "corpus/$target") 2>&1 | grep -E '^(#[0-9]+.*DONE|stat::|==|SUMMARY|artifact)' || true

profdata=$(command -v llvm-profdata || command -v llvm-profdata-14 || true)
cov=$(command -v llvm-cov || command -v llvm-cov-14 || true)
if [ -n "$profdata" ] && [ -n "$cov" ]; then
  "$profdata" merge -sparse "build-fuzz/$target.profraw" -o "build-fuzz/$target.profdata"
  "$cov" report "build-fuzz/tests/fuzz/$target" -instr-profile="build-fuzz/$target.profdata" \
    2>/dev/null | grep -E '^(protocol|transport|hostnet|tools)/.*\.cpp|^Filename' || true
fi
