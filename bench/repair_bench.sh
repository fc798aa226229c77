#!/usr/bin/env bash
# Administration repair against the tools an administrator would use, in one run:
#   dovrane -update (consistent administration)  vs  cut -c52-59 project.dat | sort | uniq -d
#   dovrane -restore (project.dat deleted)       vs  find listing the same project folders,
#                                                    and find with cat of each stored record
# at each size given (default 10000 and 100000 projects on 20 hosts), as ratios.
#   bench/repair_bench.sh [BUILD_DIR] [SIZES...]      BENCH_DIR: where the installations go
# (default /tmp; a file system with slow flushes makes every record write cost one flush).
# BENCH_INSTALL: an installation made before (dovrane-mkinstall) to use for the one size given.
set -euo pipefail
build=${1:-build}
shift || true
sizes=("$@")
[ ${#sizes[@]} -gt 0 ] || sizes=(10000 100000)
hosts=${BENCH_HOSTS:-20}
work=$(mktemp -d "${BENCH_DIR:-/tmp}/dovrane-repair-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT
dovrane=$(realpath "$build/dovrane")
mkinstall=$(realpath "$build/dovrane-mkinstall")

now() { date +%s.%N; }
# Seconds of the median of three runs of the command.
median_of_3() {
  local t0 t1 times=()
  for _ in 1 2 3; do
    t0=$(now); "$@" >/dev/null 2>&1 || true; t1=$(now)
    times+=("$(echo "$t1 - $t0" | bc -l)")
  done
  printf '%s\n' "${times[@]}" | sort -g | sed -n 2p
}
once() {
  local t0 t1
  t0=$(now); "$@" >/dev/null 2>&1; t1=$(now)
  echo "$t1 - $t0" | bc -l
}

printf '%-9s %-34s %10s %10s %7s\n' projects comparison dovrane[s] tool[s] ratio
for n in "${sizes[@]}"; do
  inst=${BENCH_INSTALL:-}
  if [ -n "$inst" ]; then
    "$mkinstall" --env "$inst" >"$work/env$n"
  else
    inst="$work/inst$n"
    "$mkinstall" "$inst" --hosts "$hosts" --projects "$n" >"$work/env$n"
  fi
  eval "$(cat "$work/env$n")"
  net="$inst/unc/SRV1/cad/Net"
  cd "$inst"

  upd=$(median_of_3 "$dovrane" -update)
  pipe=$(median_of_3 bash -c "cut -c52-59 '$net/project.dat' | sort | uniq -d")
  printf '%-9s %-34s %10.3f %10.3f %7.2f\n' "$n" "-update vs cut|sort|uniq -d" "$upd" "$pipe" "$(echo "$upd / $pipe" | bc -l)"

  cp "$net/project.dat" "$work/saved.dat"
  # Median of three rebuilds, each from a deleted project.dat, as find gets
  # the median of three listings (the first run after the sample tool also
  # pays for the file system's first lookups of names that are not there).
  times=()
  for _ in 1 2 3; do
    rm -f "$net/project.dat"
    times+=("$(once "$dovrane" -restore)")
    if [ "$(wc -l <"$net/project.dat")" != "$(wc -l <"$work/saved.dat")" ]; then
      echo "restore at $n projects did not bring every record back" >&2
      exit 1
    fi
  done
  rest=$(printf '%s\n' "${times[@]}" | sort -g | sed -n 2p)
  fnd=$(median_of_3 bash -c "find '$inst'/unc/*/cad/Prj -mindepth 1 -maxdepth 1 -name '*.prj'")
  printf '%-9s %-34s %10.3f %10.3f %7.2f\n' "$n" "-restore vs find" "$rest" "$fnd" "$(echo "$rest / $fnd" | bc -l)"
  # What the rebuild cannot do without: list the folders and read each one's stored record.
  rd=$(median_of_3 bash -c "find '$inst'/unc/*/cad/Prj -mindepth 1 -maxdepth 1 -name '*.prj' -printf '%p/prjinfo.dat\\0' | xargs -0 cat >/dev/null")
  printf '%-9s %-34s %10.3f %10.3f %7.2f\n' "$n" "-restore+read vs find + read records" "$rest" "$rd" "$(echo "$rest / $rd" | bc -l)"
  cd - >/dev/null
  [ -n "${BENCH_INSTALL:-}" ] || rm -rf "$inst"
done
