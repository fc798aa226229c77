#!/usr/bin/env bash
# Builds and runs the benchmarks; each prints its figures next to a plain tool's.
#   bench/run.sh [records]     default 100000
set -euo pipefail
cd "$(dirname "$0")/.."
generator=()
command -v ninja >/dev/null && generator=(-G Ninja)
cmake -S . -B build "${generator[@]}" >/dev/null
cmake --build build -j2 --target admin_bench conversion_bench
n=${1:-100000}
echo "== project list (lookups against cat, build against cat and grep -c)"
build/admin_bench "$n"
echo "== conversion of the administration (against awk '{print}')"
build/conversion_bench "$n"
