#!/usr/bin/env bash
# Builds of dovrane against each other on the list: `dovrane --list` and
# `dovrane NAME -info` (the last record) of one administration of N records,
# for a change whose gain is a few hundredths of a millisecond (a build with
# it, A, and builds without, B...).
#   bench/list_ab_bench.sh DOVRANE_A DOVRANE_B [DOVRANE_B2 ...]
#     N (default 100000), ROUNDS (default 15), REPEAT (default 1: how often
#     the whole comparison runs), MKINSTALL (default: beside DOVRANE_A),
#     BENCH_DIR: where the installation goes
# Prints "B list A_ms B_ms B-A_ms" and "B info ..." for each B: each time the
# median of ROUNDS rounds of 20 calls, the rounds of A and B taken in turn
# (A first in odd rounds, B first in even ones), so that a machine that gets
# busier meanwhile slows both alike.
set -euo pipefail
a=$(realpath "${1:?build A}")
shift
[ $# -gt 0 ] || { echo "usage: $0 DOVRANE_A DOVRANE_B [DOVRANE_B2 ...]" >&2; exit 2; }
bs=()
for b in "$@"; do bs+=("$(realpath "$b")"); done
mkinstall=$(realpath "${MKINSTALL:-$(dirname "$a")/dovrane-mkinstall}")
n=${N:-100000}
rounds=${ROUNDS:-15}
repeat=${REPEAT:-1}
work=$(mktemp -d "${BENCH_DIR:-/tmp}/dovrane-ab-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT
"$mkinstall" "$work/inst" --hosts 20 --projects "$n" >"$work/env"
eval "$(cat "$work/env")"
cd "$work/inst"
file=unc/SRV1/cad/Net/project.dat
name=$(tail -n 1 "$file" | cut -c1-50 | sed 's/ *$//')

now() { date +%s%N; }
# Milliseconds per call, over 20 calls.
twenty() {
  local t0 t1
  t0=$(now)
  for _ in 1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16 17 18 19 20; do "$@" >/dev/null 2>&1 || true; done
  t1=$(now)
  echo "($t1 - $t0) / 20000000" | bc -l
}
median() { sort -g | sed -n "$(((rounds + 1) / 2))p"; }
compare() {
  local b=$1 label=$2
  shift 2
  local ta=() tb=()
  for ((r = 0; r < rounds; ++r)); do
    if ((r % 2 == 0)); then
      ta+=("$(twenty "$a" "$@")")
      tb+=("$(twenty "$b" "$@")")
    else
      tb+=("$(twenty "$b" "$@")")
      ta+=("$(twenty "$a" "$@")")
    fi
  done
  local ma mb
  ma=$(printf '%s\n' "${ta[@]}" | median)
  mb=$(printf '%s\n' "${tb[@]}" | median)
  printf '%s %s %.3f %.3f %+.3f\n' "$(basename "$b")" "$label" "$ma" "$mb" "$(echo "$mb - $ma" | bc -l)"
}

cat "$file" >/dev/null  # the page cache warm for both
for b in "$a" "${bs[@]}"; do "$b" --list >/dev/null; done
for ((k = 0; k < repeat; ++k)); do
  for b in "${bs[@]}"; do
    compare "$b" list --list
    compare "$b" info "$name" -info
  done
done
