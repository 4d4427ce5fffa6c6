#!/usr/bin/env bash
# Measures whether the way the benchmark's output is read changes its result.
#
# Runs a test build of the benchmark (the first 32 numbers of the real range,
# build/tests/factorize_range_first32) in three ways, interleaved round by
# round so that drifts of the machine fall on all three alike:
#   file    standard output to a file (block-buffered, as in a plain run)
#   stdbuf  stdbuf -oL, standard output to a file (line-buffered)
#   watch   factorize_check watch LOG -- ... (a pseudo-terminal: line-buffered)
# and prints each run's elapsed time, then each way's mean and spread.
#
#     tools/measure_output_modes.sh [ROUNDS]      (default 5; OMP_NUM_THREADS as set)
set -euo pipefail
rounds=${1:-5}
build=${BUILD_DIR:-build}
program=$build/tests/factorize_range_first32
check=$build/factorize_check
for needed in "$program" "$check"; do
  [[ -x $needed ]] || { echo "$0: $needed not found; build first (cmake --workflow --preset default)" >&2; exit 2; }
done
[[ $rounds =~ ^[1-9][0-9]*$ ]] || { echo "$0: ROUNDS must be a positive whole number, got '$rounds'" >&2; exit 2; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

elapsed_of() { sed -n 's/^Elapsed time: \([0-9.]*\) seconds$/\1/p' "$1"; }

for ((round = 1; round <= rounds; round++)); do
  "$program" > "$work/file.out"
  echo "file   $(elapsed_of "$work/file.out")"
  stdbuf -oL "$program" > "$work/stdbuf.out"
  echo "stdbuf $(elapsed_of "$work/stdbuf.out")"
  "$check" watch --range 1999999999..2000000030 "$work/watch.log" -- "$program" > /dev/null 2>&1 ||
    { echo "$0: the watched run failed" >&2; exit 1; }
  echo "watch  $(elapsed_of "$work/watch.log")"
  rm -f "$work/watch.log"
done | tee "$work/times"

echo
awk '{ n[$1]++; s[$1] += $2; q[$1] += $2 * $2 }
     END { for (m in n) { mean = s[m] / n[m]; var = n[m] > 1 ? (q[m] - n[m] * mean * mean) / (n[m] - 1) : 0;
                          printf "%-6s mean %.2f s  sd %.2f s  over %d runs\n", m, mean, sqrt(var > 0 ? var : 0), n[m] } }' \
  "$work/times" | sort
