#!/usr/bin/env bash
# The measurements of docs/discovery.md with talvo-proteome --discover and its
# built-in class set, with the commands given there, niced: calibration on
# proteomes drawn from the background, power on shuffled real proteins with
# planted tracts, and the timing against the default run. About 40 minutes
# on a shared 2-core machine.
#
# Usage: bench/discovery/run_all.sh [talvo-proteome] [results directory]
# Needs Debian's python3-numpy, python3-pandas and mmseqs2-examples.
# (The class list was chosen with class_evidence.py; its tables are in
# results/, with those of the per-class loop it was chosen with.)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
talvo=${1:-$here/../../build/talvo-proteome}
out=${2:-discovery-results}
mkdir -p "$out"
py() { nice -n 10 /usr/bin/python3 "$@" --talvo "$talvo"; }

# Calibration: 40 proteomes of 20,000 proteins for the default scan p-values
# and -G --exact-null; 40 of 500 for -S --exact-null (a null per protein, so
# slower); 10 of 500 for -S:100 without --exact-null.
py "$here/calibration.py" --replicates 40 --proteins 20000 \
  --setting "scan=" --setting "G-exact=-G:1 --exact-null" \
  --out "$out/calibration_discover_20000.tsv" > "$out/calibration_discover_20000_summary.tsv"
py "$here/calibration.py" --replicates 40 --proteins 500 --seed 2000 \
  --setting "S-exact=-S:1 --exact-null" \
  --out "$out/calibration_discover_s_exact.tsv" > "$out/calibration_discover_s_exact_summary.tsv"
py "$here/calibration.py" --replicates 10 --proteins 500 --seed 3000 \
  --setting "S100=-S:100 --seed {seed}" \
  --out "$out/calibration_discover_s100.tsv" > "$out/calibration_discover_s100_summary.tsv"

# Power: the 20,000 real proteins shuffled, a 20-residue tract of a class of
# the set in each protein of at least 60 residues.
py "$here/power.py" --densities 0.55,0.65 --setting "scan=" --setting "G-exact=-G:1 --exact-null" \
  --out "$out/power_discover_tracts.tsv" --per-class "$out/power_discover_classes.tsv" \
  > "$out/power_discover_summary.tsv"

bash "$here/discovery_timing.sh" "$talvo" /usr/share/doc/mmseqs2/example-data/DB.fasta.gz 10 \
  > "$out/timing_discover.txt"
