#!/usr/bin/env bash
# Whole-process cost of TALVO on small proteins, one process per protein, as a
# shell loop runs it: the first 100 entries of a FASTA file (default: the
# query set of Debian's mmseqs2-examples), each binary given in turn, beside
# the same loop running /bin/true. Prints milliseconds per protein.
#   bench/startup_timing.sh [FASTA(.gz)] TALVO [TALVO...]
set -euo pipefail
fasta=${1:-/usr/share/doc/mmseqs2/example-data/QUERY.fasta.gz}
shift || true
[ $# -gt 0 ] || set -- build/TALVO
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
{ zcat -f "$fasta" || true; } | awk -v dir="$work" '/^>/{n++; if (n > 100) exit} {print > (dir "/p" n ".fa")}'
per_protein() {
  local start end
  start=$(date +%s%N)
  for round in 1 2 3; do
    for f in "$work"/p*.fa; do "$@" "$f" "$work/out" > /dev/null 2>&1 || true; done
  done
  end=$(date +%s%N)
  echo "scale=3; ($end - $start) / 300 / 1000000" | bc
}
echo "bare loop (/bin/true): $(per_protein /bin/true) ms per protein"
for exe in "$@"; do
  echo "$exe: $(per_protein "$exe") ms per protein"
done
