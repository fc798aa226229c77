#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (AddressSanitizer and
# UndefinedBehaviorSanitizer) and runs each for the given seconds (default 600)
# on a copy of its corpus; new inputs are merged back into fuzz/corpus.
#   fuzz/run.sh [seconds] [target...]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-600}
shift || true
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(admin_header record_v3 record_v12 host_list user_table)
CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DDOVRANE_FUZZ=ON -DDOVRANE_SANITIZE=ON \
  -DDOVRANE_GUI=OFF -DBUILD_TESTING=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build-fuzz --target $(printf 'fuzz_%s ' "${targets[@]}")
for t in "${targets[@]}"; do
  work=$(mktemp -d)
  cp -r "fuzz/corpus/$t/." "$work/"
  echo "== fuzz_$t for ${seconds}s"
  build-fuzz/fuzz_$t -max_total_time="$seconds" -max_len=512 -print_final_stats=1 "$work" 2>&1 | tail -n 4
  build-fuzz/fuzz_$t -merge=1 "fuzz/corpus/$t" "$work" >/dev/null 2>&1
  rm -rf "$work"
done
