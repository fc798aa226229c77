#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (AddressSanitizer and
# UndefinedBehaviorSanitizer) and runs each for the given seconds (default 600)
# on a copy of its corpus; new inputs are merged back into fuzz/corpus. A
# crash, a leak or a sanitizer report ends the run with its report and
# exit status 1. CI runs each target for 30 seconds.
#   fuzz/run.sh [seconds] [target...]
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh --fuzz
seconds=${1:-600}
shift || true
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(admin_header record_v3 record_v12 host_list user_table)
CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DDOVRANE_FUZZ=ON -DDOVRANE_SANITIZE=ON \
  -DDOVRANE_GUI=OFF -DBUILD_TESTING=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
# The whole core is compiled with clang too: it sees an ignored result of a
# virtual call (the Env's), which GCC lets pass.
cmake --build build-fuzz -j "$(nproc)"
for t in "${targets[@]}"; do
  work=$(mktemp -d)
  cp -r "fuzz/corpus/$t/." "$work/"
  echo "== fuzz_$t for ${seconds}s"
  # A crashing input is written to the working folder (crash-<sha1>).
  if ! build-fuzz/fuzz_$t -max_total_time="$seconds" -max_len=512 -print_final_stats=1 "$work" >"$work.log" 2>&1; then
    tail -n 100 "$work.log"
    echo "FAIL: fuzz_$t (input above and in crash-*, leak-* or timeout-* here)"
    exit 1
  fi
  tail -n 4 "$work.log"
  build-fuzz/fuzz_$t -merge=1 "fuzz/corpus/$t" "$work" >/dev/null 2>&1
  rm -rf "$work" "$work.log"
done
