#!/usr/bin/env bash
# The office standard's copy of a host check-out against cp -pr of the same
# components, side by side in one run: 100 MiB in 1,000 files below \STD.
# Prints the median of REPS runs of each and their ratio (goal 1.2).
#   bench/checkout_bench.sh [BUILD_DIR]     (REPS=5 by default; TMPDIR for the data)
set -euo pipefail
build=${1:-build}
bin=$build/dovrane-checkout-bench
reps=${REPS:-5}
[ -x "$bin" ] || { echo "build first: cmake --build $build (missing $bin)" >&2; exit 2; }

work=$(mktemp -d "${TMPDIR:-/tmp}/dovrane-bench-XXXXXX")
trap 'rm -rf "$work"' EXIT
std=$work/unc/SRC/STD
echo "creating the office standard in $work ..."
head -c $((100 * 1024 * 1024)) /dev/urandom > "$work/data.bin"
n=0
for d in Sym objekt design Assistent bspbruns fact Kukat1 vek_all Prod res; do
  mkdir -p "$std/$d"
  for f in $(seq -w 0 99); do
    dd if="$work/data.bin" of="$std/$d/file$f.dat" bs=104857 skip=$n count=1 status=none
    n=$((n + 1))
  done
done
for f in std.cfg version.txt; do echo "$f" > "$std/$f"; done
rm "$work/data.bin"

now() { date +%s%N; }
timed() {
  sync
  local t0 t1
  t0=$(now)
  "$@" >/dev/null
  t1=$(now)
  echo $(((t1 - t0) / 1000))
}
median() { sort -n | awk '{a[NR]=$1} END {m=(NR%2)?a[(NR+1)/2]:(a[NR/2]+a[NR/2+1])/2; printf "%d", m}'; }
plain() {
  mkdir -p "$work/unc/DST/STD"
  cp -pr "$std"/{Sym,objekt,design,Assistent,bspbruns,fact,Kukat1,vek_all,Prod,res} "$work/unc/DST/STD/"
  cp -p "$std"/std.cfg "$std"/version.txt "$work/unc/DST/STD/"
}
a=() b=()
for _ in $(seq "$reps"); do
  rm -rf "$work/unc/DST"; a+=("$(timed "$bin" "$work/unc")")
  rm -rf "$work/unc/DST"; b+=("$(timed plain)")
done
rm -rf "$work/unc/DST"
"$bin" "$work/unc"
diff -r "$std" "$work/unc/DST/STD" >/dev/null || { echo "copy differs from the source" >&2; exit 1; }
ma=$(printf '%s\n' "${a[@]}" | median)
mb=$(printf '%s\n' "${b[@]}" | median)
echo
printf '%-34s %10s %10s %7s %6s\n' "operation (plain tool)" "dovrane s" "plain s" "ratio" "goal"
awk -v a="$ma" -v b="$mb" 'BEGIN {r=a/b; printf "%-34s %10.3f %10.3f %7.2f %6s  %s\n", "office standard copy (cp -pr)", a/1e6, b/1e6, r, 1.2, (r<=1.2?"ok":"SLOW")}'
echo "($reps runs each, median; data under $work, removed on exit)"
