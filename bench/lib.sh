# Shared by the benchmark scripts: times two commands side by side, several
# times each in turn, and prints one row with the medians and their ratio.
#   measure FIGURE GOAL REPS "OUR COMMAND" "PEER NAME" "PEER COMMAND" [PREPARE]
# GOAL is the largest ratio (ours / peer) that meets the goal. PREPARE runs
# before every single timing of either command (not timed), e.g. to restore a
# file the command changes. Rows: "ROW<TAB>figure<TAB>ours<TAB>peer name<TAB>peer<TAB>ratio<TAB>goal<TAB>met".

now_ns() { date +%s%N; }

median() { sort -n | awk '{a[NR]=$1} END {if (NR%2) print a[(NR+1)/2]; else print (a[NR/2]+a[NR/2+1])/2}'; }

time_once() {  # prints seconds
  local prepare=$1 command=$2 t0 t1
  [ -n "$prepare" ] && eval "$prepare" >/dev/null 2>&1
  t0=$(now_ns)
  eval "$command" >/dev/null 2>&1 || true
  t1=$(now_ns)
  awk -v a="$t0" -v b="$t1" 'BEGIN {printf "%.6f\n", (b - a) / 1e9}'
}

measure() {
  local figure=$1 goal=$2 reps=$3 ours=$4 peer_name=$5 peer=$6 prepare=${7:-}
  local ours_times="" peer_times="" i
  for ((i = 0; i < reps; i++)); do
    ours_times+="$(time_once "$prepare" "$ours")"$'\n'
    peer_times+="$(time_once "$prepare" "$peer")"$'\n'
  done
  local o p
  o=$(printf '%s' "$ours_times" | median)
  p=$(printf '%s' "$peer_times" | median)
  awk -v f="$figure" -v o="$o" -v pn="$peer_name" -v p="$p" -v g="$goal" 'BEGIN {
    r = (p > 0) ? o / p : 0
    printf "ROW\t%s\t%.4f\t%s\t%.4f\t%.2f\t%s\t%s\n", f, o, pn, p, r, g, (r <= g ? "yes" : "no")
  }'
}
