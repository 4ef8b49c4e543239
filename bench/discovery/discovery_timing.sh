#!/usr/bin/env bash
# Discovery over a class set against the default run on the same input, on 2
# threads, alternating in one run: CPU seconds (user + system, which stay
# comparable on a shared machine) and wall seconds of each, and their ratios
# to the default run's. Discovery is talvo-proteome --discover when the binary
# has it, otherwise the loop of per-class runs (one -A:<letters> run per
# class, as discovery.py runs them).
#
# Usage: bench/discovery/discovery_timing.sh [talvo-proteome] [FASTA] [rounds] [classes]
# (classes: a --classes file; default: the built-in set)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
talvo=${1:-$here/../../build/talvo-proteome}
input=${2:-/usr/share/doc/mmseqs2/example-data/DB.fasta.gz}
rounds=${3:-5}
classes=${4:-}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

discover=0
"$talvo" --help 2>&1 | grep -q -- '--discover' && discover=1
class_option=()
[ -n "$classes" ] && class_option=(--classes "$classes")

discovery() {  # options...
  if [ "$discover" = 1 ]; then
    "$talvo" --discover "${class_option[@]}" --threads 2 --no-progress "$@" "$input" > /dev/null
  else
    "$talvo" --list-classes "${class_option[@]}" 2> /dev/null | tail -n +2 |
      while IFS=$'\t' read -r _ letters _ linkage; do
        "$talvo" "-A:$letters" "-E:$linkage" --threads 2 --no-progress "$@" "$input" > /dev/null
      done
  fi
}
default_run() { "$talvo" --threads 2 --no-progress "$@" "$input" > /dev/null; }
# Appends "cpu wall" of the command (its child processes' user + system
# seconds, and its elapsed seconds) to the file named first.
measure() {
  local file=$1 TIMEFORMAT='%U %S %R'
  shift
  { time "$@" 2> /dev/null; } 2>> "$work/raw$file"
  tail -n 1 "$work/raw$file" | awk '{ print $1 + $2, $3 }' >> "$work/$file"
}

labels=("default run" "--discover" "--discover -G:1 --exact-null")
for _ in $(seq "$rounds"); do
  measure 0 default_run
  measure 1 discovery
  measure 2 discovery -G:1 --exact-null
done
echo "input $input, classes ${classes:-built-in} ($("$talvo" --list-classes "${class_option[@]}" 2> /dev/null | tail -n +2 | wc -l)), 2 threads, $rounds rounds alternating, engine: $([ "$discover" = 1 ] && echo --discover || echo per-class loop)"
base=$(awk '{ s += $1 } END { print s / NR }' "$work/0")
for i in 0 1 2; do
  awk -v label="${labels[$i]}" -v base="$base" '{ cpu += $1; wall += $2 }
    END { printf "%-30s %7.3f s CPU %7.3f s wall  %5.2fx the default run (CPU)\n", label, cpu / NR, wall / NR, cpu / NR / base }' "$work/$i"
done
