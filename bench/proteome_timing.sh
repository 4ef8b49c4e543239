#!/usr/bin/env bash
# Whole-process timing of talvo-proteome on a synthetic proteome: 20,000
# proteins (about 7.4 million residues), lengths log-normal around a median of
# 300 like real proteomes, residues drawn from the SPROT composition, with a
# fixed seed. Times runs mode, -W:20 and -S:1000 with 1 and 2 threads on
# gzip and plain input, and, as the reference, TALVO run once per protein on
# a subset, scaled to the whole proteome.
#
# Usage: bench/proteome_timing.sh [build directory] [proteins] [TALVO subset]
set -euo pipefail
build=${1:-build}
proteins=${2:-20000}
subset=${3:-200}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

"$(dirname "$0")/synthetic_proteome.sh" "$proteins" > "$work/proteome.fa"
gzip -c "$work/proteome.fa" > "$work/proteome.fa.gz"
residues=$(grep -v '^>' "$work/proteome.fa" | tr -d '\n' | wc -c)
echo "proteome: $proteins proteins, $residues residues"

calc() { awk "BEGIN { print $* }"; }

seconds() {  # wall time of a command, in seconds
  local start end
  start=$(date +%s.%N)
  "$@" > /dev/null 2>&1
  end=$(date +%s.%N)
  calc "$end - $start"
}

# The machine is shared: first check how much of a second core it gives. Two
# independent one-thread runs side by side take this many times as long as
# one alone (1.0 on an idle 2-core machine, 2.0 when only one core is free).
alone=$(seconds "$build/talvo-proteome" --threads 1 --no-progress "$work/proteome.fa.gz")
both=$(seconds bash -c "\"$build/talvo-proteome\" --threads 1 --no-progress \"$work/proteome.fa.gz\" & \"$build/talvo-proteome\" --threads 1 --no-progress \"$work/proteome.fa.gz\" & wait")
printf 'machine check: two runs side by side take %.2fx the time of one\n' "$(calc "$both / $alone")"

for mode in "" "-W:20" "-S:1000"; do
  for input in proteome.fa.gz proteome.fa; do
    one=$(seconds "$build/talvo-proteome" --threads 1 --seed 1 --no-progress $mode "$work/$input")
    two=$(seconds "$build/talvo-proteome" --threads 2 --seed 1 --no-progress $mode "$work/$input")
    printf '%-8s %-15s 1 thread %7.2f s (%5.2f M residues/s)  2 threads %7.2f s (%5.2f M residues/s)  speed-up %.2f\n' \
      "${mode:-runs}" "$input" "$one" "$(calc "$residues / $one / 1000000")" \
      "$two" "$(calc "$residues / $two / 1000000")" "$(calc "$one / $two")"
  done
done

# Reference: TALVO once per protein, on the first $subset proteins.
awk -v dir="$work" -v n="$subset" '/^>/ { k++; if (k > n) exit; file = sprintf("%s/p%05d.fa", dir, k) } { print > file }' "$work/proteome.fa"
start=$(date +%s.%N)
for f in "$work"/p*.fa; do "$build/TALVO" "$f" "${f%.fa}" > /dev/null; done
end=$(date +%s.%N)
per=$(calc "($end - $start) / $subset")
whole=$(calc "$per * $proteins")
runs=$(seconds "$build/talvo-proteome" --threads 1 --no-progress "$work/proteome.fa.gz")
printf 'TALVO once per protein: %.2f ms per protein, %.1f s for the whole proteome on one core (scaled from %d)\n' \
  "$(calc "$per * 1000")" "$whole" "$subset"
printf 'talvo-proteome runs mode, 1 thread: %.2f s, %.0fx faster\n' "$runs" "$(calc "$whole / $runs")"
