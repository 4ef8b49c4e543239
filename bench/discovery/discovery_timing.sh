#!/usr/bin/env bash
# Wall time of discovery over a class set against the default run on the same
# input, alternating in one run (the machine may be shared: compare the
# ratios). Discovery is talvo-proteome --discover when the binary has it,
# otherwise the loop of per-class runs (one -A:<letters> run per class, every
# run writing its whole table, as discovery.py runs them).
#
# Usage: bench/discovery/discovery_timing.sh [talvo-proteome] [FASTA] [rounds] [classes]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
talvo=${1:-$here/../../build/talvo-proteome}
input=${2:-/usr/share/doc/mmseqs2/example-data/DB.fasta.gz}
rounds=${3:-3}
classes=${4:-$here/classes.tsv}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

discover=0
"$talvo" --help 2>&1 | grep -q -- '--discover' && discover=1

discovery() {  # options...
  if [ "$discover" = 1 ]; then
    "$talvo" --discover --classes "$classes" --threads 2 --no-progress "$@" "$input" > /dev/null
  else
    grep -v '^#' "$classes" | grep . | while IFS=$'\t' read -r _ letters; do
      "$talvo" "-A:$letters" --threads 2 --no-progress "$@" "$input" > /dev/null
    done
  fi
}
default_run() { "$talvo" --threads 2 --no-progress "$@" "$input" > /dev/null; }
seconds() {  # command... -> wall seconds
  local t0 t1
  t0=$(date +%s.%N)
  "$@" 2> /dev/null
  t1=$(date +%s.%N)
  echo "$t1 - $t0" | bc
}

declare -A total
labels=("default run" "discovery" "discovery -G:1 --exact-null")
for _ in $(seq "$rounds"); do
  total["default run"]=$(echo "${total["default run"]:-0} + $(seconds default_run)" | bc)
  total["discovery"]=$(echo "${total["discovery"]:-0} + $(seconds discovery)" | bc)
  total["discovery -G:1 --exact-null"]=$(echo "${total["discovery -G:1 --exact-null"]:-0} + $(seconds discovery -G:1 --exact-null)" | bc)
done
echo "input $input, classes $classes ($(grep -v '^#' "$classes" | grep -c .)), $rounds rounds, engine: $([ "$discover" = 1 ] && echo --discover || echo per-class loop)"
base=$(echo "${total["default run"]} / $rounds" | bc -l)
for label in "${labels[@]}"; do
  mean=$(echo "${total[$label]} / $rounds" | bc -l)
  printf '%-32s %8.2f s  %6.1fx the default run\n' "$label" "$mean" "$(echo "$mean / $base" | bc -l)"
done
