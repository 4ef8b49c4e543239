#!/usr/bin/env bash
# What the mask of --discover --masked costs: --discover alone, --discover
# -L --masked (the classes analysed again at the mask's linkage distance 8)
# and --discover -E:8 -L --masked (the tables at that distance, one
# analysis), on the same input and 2 threads, alternating in one run. CPU
# seconds (user + system, which stay comparable on a shared machine), wall
# seconds, and each one's ratio to --discover alone.
#
# Usage: bench/masking/mask_timing.sh [talvo-proteome] [FASTA] [rounds]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
talvo=${1:-$here/../../build/talvo-proteome}
input=${2:-/usr/share/doc/mmseqs2/example-data/DB.fasta.gz}
rounds=${3:-5}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

discover() { "$talvo" --discover --threads 2 --no-progress --output /dev/null "$@" "$input"; }
# Appends "cpu wall" of the command (user + system seconds of its child
# processes, elapsed seconds) to the file named first.
measure() {
  local file=$1 TIMEFORMAT='%U %S %R'
  shift
  { time "$@" 2> /dev/null; } 2>> "$work/raw$file"
  tail -n 1 "$work/raw$file" | awk '{ print $1 + $2, $3 }' >> "$work/$file"
}

labels=("--discover" "--discover -L --masked" "--discover -E:8 -L --masked")
for _ in $(seq "$rounds"); do
  measure 0 discover
  measure 1 discover -L --masked "$work/masked.fa"
  measure 2 discover -E:8 -L --masked "$work/masked.fa"
done
echo "input $input, 2 threads, $rounds rounds alternating"
base=$(awk '{ s += $1 } END { print s / NR }' "$work/0")
base_wall=$(awk '{ s += $2 } END { print s / NR }' "$work/0")
for i in 0 1 2; do
  awk -v label="${labels[$i]}" -v base="$base" -v base_wall="$base_wall" '{ cpu += $1; wall += $2 }
    END { printf "%-28s %7.3f s CPU %7.3f s wall  %5.2fx CPU %5.2fx wall\n", label, cpu / NR,
          wall / NR, cpu / NR / base, wall / NR / base_wall }' "$work/$i"
done
