#!/usr/bin/env bash
# Whole-process timing of talvo-proteome --exact-null on the synthetic
# proteome of proteome_timing.sh, beside Monte Carlo with 1000 sequences and
# runs mode measured in the same run (the machine may be shared: compare the
# ratios), and on one long protein.
#
# Usage: bench/exact_null_timing.sh [build directory] [proteins] [long length]
set -euo pipefail
build=${1:-build}
proteins=${2:-20000}
long=${3:-35000}
here=$(dirname "$0")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

"$here/synthetic_proteome.sh" "$proteins" > "$work/proteome.fa"
# One protein of the given length, residues from the same composition.
{
  echo ">sp|L00001|LONG_SYNTH Synthetic protein of $long residues"
  grep -v '^>' "$work/proteome.fa" | tr -d '\n' | head -c "$long" | fold -w 60 || true
} > "$work/long.fa"

seconds() {  # wall and user seconds and peak memory of a command
  /usr/bin/time -o "$work/time" -f '%e %U %M' "$@" > /dev/null 2>&1
  tail -1 "$work/time"
}
run() {  # label, input, options...
  local label=$1 input=$2
  shift 2
  read -r wall user memory < <(seconds "$build/talvo-proteome" --threads 2 --seed 1 --no-progress "$@" "$input")
  printf '%-24s %8.2f s wall %8.2f s user %8d KB\n' "$label" "$wall" "$user" "$memory"
}

echo "proteome: $proteins proteins, 2 threads"
run "runs mode" "$work/proteome.fa"
run "-G:1000" "$work/proteome.fa" -G:1000
run "-G --exact-null" "$work/proteome.fa" -G:1 --exact-null
run "-G -I --exact-null" "$work/proteome.fa" -G:1 -I --exact-null
run "-S:1000" "$work/proteome.fa" -S:1000
run "-S --exact-null" "$work/proteome.fa" -S:1 --exact-null
echo "one protein of $long residues"
run "-G:1000" "$work/long.fa" -G:1000
run "-G --exact-null" "$work/long.fa" -G:1 --exact-null
run "-S:1000" "$work/long.fa" -S:1000
run "-S --exact-null" "$work/long.fa" -S:1 --exact-null
