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

# A portable generator: the minimal standard LCG in awk's exact doubles.
awk -v n="$proteins" 'BEGIN {
  x = 20261207
  split("W I Y F L V M C A G H P S T N Q D E K R", aa, " ")
  split("0.011577 0.058323 0.031278 0.040824 0.096916 0.063863 0.022428 0.015555 0.07427 0.063888 0.022561 0.049454 0.075638 0.055031 0.045539 0.040844 0.053209 0.065786 0.060709 0.052307", f, " ")
  c = 0; for (i = 1; i <= 20; i++) { c += f[i]; cum[i] = c }
  for (p = 1; p <= n; p++) {
    x = (x * 16807) % 2147483647; u1 = x / 2147483647
    x = (x * 16807) % 2147483647; u2 = x / 2147483647
    len = int(exp(log(300) + 0.62 * sqrt(-2 * log(u1)) * cos(6.283185307179586 * u2)))
    if (len < 20) len = 20 + p % 30
    if (len > 35000) len = 35000
    printf(">sp|S%05d|SYN%d_SYNTH Synthetic protein %d\n", p, p, p)
    line = ""
    for (i = 0; i < len; i++) {
      x = (x * 16807) % 2147483647; u = x / 2147483647 * c
      for (j = 1; j < 20 && u >= cum[j]; j++) {}
      line = line aa[j]
      if (length(line) == 60) { print line; line = "" }
    }
    if (line != "") print line
  }
}' > "$work/proteome.fa"
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
