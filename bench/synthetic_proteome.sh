#!/usr/bin/env bash
# The synthetic proteome of the benchmarks on standard output: N proteins
# (default 20,000, about 7.4 million residues), lengths log-normal around a
# median of 300 like real proteomes, residues drawn from the SPROT
# composition, from a fixed seed. A portable generator: the minimal standard
# LCG in awk's exact doubles, so every machine makes the same file.
#
# Usage: bench/synthetic_proteome.sh [proteins]
set -euo pipefail
awk -v n="${1:-20000}" 'BEGIN {
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
}'
