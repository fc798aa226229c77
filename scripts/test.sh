#!/usr/bin/env bash
# Installs what is missing, builds dovrane and runs every test.
#   scripts/test.sh              normal build in build/
#   scripts/test.sh --sanitize   AddressSanitizer + UndefinedBehaviorSanitizer in build-asan/
#   scripts/test.sh --tsan       ThreadSanitizer in build-tsan/
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh

dir=build
flags=()
case "${1:-}" in
  --sanitize) dir=build-asan; flags=(-DDOVRANE_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug) ;;
  --tsan) dir=build-tsan; flags=(-DDOVRANE_TSAN=ON -DCMAKE_BUILD_TYPE=Debug) ;;
  "") ;;
  *) echo "usage: $0 [--sanitize|--tsan]" >&2; exit 2 ;;
esac

generator=()
command -v ninja >/dev/null && generator=(-G Ninja)
cmake -S . -B "$dir" "${generator[@]}" "${flags[@]}" >/dev/null
cmake --build "$dir" -j "$(nproc)"
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=0}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
export QT_QPA_PLATFORM=offscreen
ctest --test-dir "$dir" --output-on-failure -j "$(nproc)"
