#!/usr/bin/env bash
# The tree commands' long operations against the plain tools, side by side:
#   the copy of a 2,000-file project to another host vs cp -pr of its folder,
#   the properties' measurement of that folder vs du -sb.
# Prints the median of REPS runs of each and their ratio (goals 1.2 and 1.5).
#   bench/tree_bench.sh [BUILD_DIR]     (REPS=5 by default; TMPDIR for the data)
set -euo pipefail
build=${1:-build}
bin=$build/dovrane-tree-bench
reps=${REPS:-5}
for b in "$bin" "$build/dovrane" "$build/dovrane-mkinstall"; do
  [ -x "$b" ] || { echo "build first: cmake --build $build (missing $b)" >&2; exit 2; }
done
build_abs=$(cd "$build" && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/dovrane-tree-bench-XXXXXX")
trap 'rm -rf "$work"' EXIT
"$build_abs/dovrane-mkinstall" "$work/inst" --hosts 2 --projects 1 >/dev/null
eval "$("$build_abs/dovrane-mkinstall" --env "$work/inst")"
src=$(ls -d "$work"/inst/unc/SRV*/cad/Prj/n0000001.prj)
name=$("$build_abs/dovrane-mkinstall" --list-projects "$work/inst" | head -1)
target=$(case "$src" in */SRV1/*) echo SRV2 ;; *) echo SRV1 ;; esac)
mib=200
files=2000
per_file=$((mib * 1024 * 1024 / files))
echo "creating test data in $src ..."
head -c $((mib * 1024 * 1024)) /dev/urandom > "$work/one.bin"
for d in $(seq -w 0 19); do
  mkdir -p "$src/dir$d"
  for f in $(seq -w 0 99); do
    n=$((10#$d * 100 + 10#$f))
    dd if="$work/one.bin" of="$src/dir$d/file$f.dat" bs=$per_file skip=$n count=1 status=none
  done
done
rm -f "$work/one.bin"
cd "$work/inst"

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
results=()
bench() {
  local label=$1 goal=$2 setup=$3 ours=$4 plain=$5 a=() b=()
  for _ in $(seq "$reps"); do
    eval "$setup"; a+=("$(timed bash -c "$ours")")
    eval "$setup"; b+=("$(timed bash -c "$plain")")
  done
  local ma mb
  ma=$(printf '%s\n' "${a[@]}" | median)
  mb=$(printf '%s\n' "${b[@]}" | median)
  results+=("$(awk -v n="$label" -v a="$ma" -v b="$mb" -v g="$goal" \
    'BEGIN {r=a/b; printf "%-34s %10.3f %10.3f %7.2f %6s  %s", n, a/1e6, b/1e6, r, g, (r<=g?"ok":"SLOW")}')")
}
undo="'$build_abs/dovrane' 'Bench Copy' -erase_y >/dev/null 2>&1 || true; rm -rf '$work/plain'"
bench "copy project 2000 files (cp -pr)" 1.2 "$undo" \
  "'$build_abs/dovrane-tree-bench' copy '$name' 'Bench Copy' $target" "cp -pr '$src' '$work/plain'"
bench "properties 2000 files (du -sb)" 1.5 ":" "'$build_abs/dovrane-tree-bench' size '$src'" "du -sb '$src'"

# The copy holds the same files as the source.
eval "$undo"
"$build_abs/dovrane-tree-bench" copy "$name" "Bench Copy" "$target"
copy_dir=$(ls -d "$work/inst/unc/$target/cad/Prj"/n*.prj | tail -1)
for d in "$src"/dir*; do diff -r "$d" "$copy_dir/$(basename "$d")" >/dev/null || { echo "copy differs" >&2; exit 1; }; done

echo
printf '%-34s %10s %10s %7s %6s\n' "operation (plain tool)" "dovrane s" "plain s" "ratio" "goal"
printf '%s\n' "${results[@]}"
echo "($reps runs each, median; data under $work, removed on exit)"
