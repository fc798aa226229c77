#!/usr/bin/env bash
# The file operations against the plain tools, side by side in one run:
#   copy engine vs cp -p, SumDirectorySize vs du -sb, DeleteDirectoryTree vs rm -rf,
# on 200 MiB in 2,000 files and on one 200 MiB file. Prints the median of
# REPS runs of each and their ratio (dovrane / plain tool; goals 1.2, 1.5, 1.5).
#   bench/fileops_bench.sh [BUILD_DIR]     (REPS=5 by default; TMPDIR for the data)
set -euo pipefail
build=${1:-build}
bin=$build/dovrane-fileops-bench
reps=${REPS:-5}
[ -x "$bin" ] || { echo "build first: cmake --build $build (missing $bin)" >&2; exit 2; }

work=$(mktemp -d "${TMPDIR:-/tmp}/dovrane-bench-XXXXXX")
trap 'rm -rf "$work"' EXIT

mib=200
files=2000
per_file=$((mib * 1024 * 1024 / files))
echo "creating test data in $work ..."
mkdir -p "$work/many"
head -c $((mib * 1024 * 1024)) /dev/urandom > "$work/one.bin"
# 2,000 files of 104,857 bytes in 20 folders of 100, cut from the same random data.
for d in $(seq -w 0 19); do
  mkdir -p "$work/many/dir$d"
  for f in $(seq -w 0 99); do
    n=$((10#$d * 100 + 10#$f))
    dd if="$work/one.bin" of="$work/many/dir$d/file$f.dat" bs=$per_file skip=$n count=1 status=none
  done
done
mkdir -p "$work/single"
mv "$work/one.bin" "$work/single/one.bin"

now() { date +%s%N; }
# Runs "$@" once after flushing earlier writes; prints the seconds it took.
timed() {
  sync
  local t0 t1
  t0=$(now)
  "$@" >/dev/null
  t1=$(now)
  echo $(((t1 - t0) / 1000))
}
median() { sort -n | awk '{a[NR]=$1} END {m=(NR%2)?a[(NR+1)/2]:(a[NR/2]+a[NR/2+1])/2; printf "%d", m}'; }

# bench NAME GOAL SETUP OURS PLAIN: median microseconds of each, SETUP untimed before each run.
results=()
bench() {
  local name=$1 goal=$2 setup=$3 ours=$4 plain=$5 a=() b=()
  for _ in $(seq "$reps"); do
    eval "$setup"; a+=("$(timed bash -c "$ours")")
    eval "$setup"; b+=("$(timed bash -c "$plain")")
  done
  local ma mb
  ma=$(printf '%s\n' "${a[@]}" | median)
  mb=$(printf '%s\n' "${b[@]}" | median)
  results+=("$(awk -v n="$name" -v a="$ma" -v b="$mb" -v g="$goal" \
    'BEGIN {r=a/b; printf "%-34s %10.3f %10.3f %7.2f %6s  %s", n, a/1e6, b/1e6, r, g, (r<=g?"ok":"SLOW")}')")
}

for set in many single; do
  src="$work/$set"
  label=$([ $set = many ] && echo "2000 files" || echo "one file")
  bench "copy   $label (cp -pr)" 1.2 "rm -rf '$work/dst'" \
    "'$bin' copy '$src' '$work/dst'" "cp -pr '$src' '$work/dst'"
  bench "size   $label (du -sb)" 1.5 ":" "'$bin' sum '$src'" "du -sb '$src'"
  bench "delete $label (rm -rf)" 1.5 "rm -rf '$work/dst'; cp -r '$src' '$work/dst'" \
    "'$bin' delete '$work/dst'" "rm -rf '$work/dst'"
done
rm -rf "$work/dst"

# Both results must agree with the plain tools: same bytes, same size.
"$bin" copy "$work/many" "$work/check" && diff -r "$work/many" "$work/check" >/dev/null \
  || { echo "copy differs from the source" >&2; exit 1; }
files_sum=$(find "$work/many" -type f -printf '%s\n' | awk '{s+=$1} END {print s}')
[ "$("$bin" sum "$work/many")" = "$files_sum" ] || { echo "size sum differs from find's" >&2; exit 1; }

echo
printf '%-34s %10s %10s %7s %6s\n' "operation (plain tool)" "dovrane s" "plain s" "ratio" "goal"
printf '%s\n' "${results[@]}"
echo "($reps runs each, median; data under $work, removed on exit)"
