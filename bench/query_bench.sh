#!/usr/bin/env bash
# One query against grep, in one run: `dovrane NAME -info` and `NAME -exist` on
# an administration of N records (default 100000) against
# grep -m1 '^NAME ' project.dat, for the last record: grep then reads the
# whole file, as the query must to see that no line is damaged.
#   bench/query_bench.sh [BUILD_DIR] [N]      BENCH_DIR: where the installation goes,
#   BENCH_HOSTS: over how many hosts (20); BENCH_INSTALL: an installation made before
#   (dovrane-mkinstall) to use instead of a new one
# Prints "query <option> <dovrane s> <grep s> <ratio>" lines and a "list --list" line; each time is the
# median of 9 rounds of 10 calls (one call lies within the clock's noise), the rounds of
# the two commands taken in turn, so that a machine that gets busier meanwhile slows both.
set -euo pipefail
build=${1:-build}
n=${2:-100000}
work=$(mktemp -d "${BENCH_DIR:-/tmp}/dovrane-query-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT
dovrane=$(realpath "$build/dovrane")
mkinstall=$(realpath "$build/dovrane-mkinstall")
inst=${BENCH_INSTALL:-}
if [ -n "$inst" ]; then
  "$mkinstall" --env "$inst" >"$work/env"
else
  inst="$work/inst"
  "$mkinstall" "$inst" --hosts "${BENCH_HOSTS:-20}" --projects "$n" >"$work/env"
fi
eval "$(cat "$work/env")"
cd "$inst"
file=unc/SRV1/cad/Net/project.dat
name=$(tail -n 1 "$file" | cut -c1-50 | sed 's/ *$//')

now() { date +%s.%N; }
ten() {
  local t0 t1
  t0=$(now)
  for _ in 1 2 3 4 5 6 7 8 9 10; do "$@" >/dev/null 2>&1 || true; done
  t1=$(now)
  echo "($t1 - $t0) / 10" | bc -l
}
# The medians of 9 rounds of each of two commands, in turn: "ours peer".
medians() {
  local ours=() peer=()
  for _ in 1 2 3 4 5 6 7 8 9; do
    ours+=("$(ten "${@:2:$1}")")
    peer+=("$(ten "${@:$(($1 + 2))}")")
  done
  printf '%s %s\n' "$(printf '%s\n' "${ours[@]}" | sort -g | sed -n 5p)" \
    "$(printf '%s\n' "${peer[@]}" | sort -g | sed -n 5p)"
}

cat "$file" >/dev/null  # the page cache warm for both
for option in -info -exist; do
  read -r ours peer < <(medians 3 "$dovrane" "$name" "$option" grep -m1 "^$name " "$file")
  printf 'query %s %.4f %.4f %.2f\n' "$option" "$ours" "$peer" "$(echo "$ours / $peer" | bc -l)"
done
# Every project from the shared table against cat of the file itself.
read -r ours peer < <(medians 2 "$dovrane" --list cat "$file")
printf 'list --list %.4f %.4f %.2f\n' "$ours" "$peer" "$(echo "$ours / $peer" | bc -l)"
