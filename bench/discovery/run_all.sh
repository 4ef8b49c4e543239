#!/usr/bin/env bash
# Every measurement of docs/discovery.md, with the commands given there, niced.
# The engine is talvo-proteome --discover when the binary has it, otherwise the
# loop of per-class runs (ENGINE=loop or ENGINE=discover chooses); LINKAGE
# gives the option of the per-class linkage. About 3 hours on a shared 2-core
# machine.
#
# Usage: bench/discovery/run_all.sh [talvo-proteome] [results directory]
# Needs Debian's python3-numpy, python3-pandas and mmseqs2-examples.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
talvo=${1:-$here/../../build/talvo-proteome}
out=${2:-discovery-results}
engine=${ENGINE:-auto}
# The per-class linkage min(round(2/(3P)), 5): the harness's pseudo-option
# for the per-class loop; with --discover, the engine's own option for it.
linkage=${LINKAGE:-@linkage-cap:5}
mkdir -p "$out"
py() { nice -n 10 /usr/bin/python3 "$@" --talvo "$talvo" --engine "$engine"; }
timed() { local label=$1; shift; local t0=$SECONDS; "$@"; echo "$label: $((SECONDS - t0)) s" >> "$out/times.txt"; }

# The class list: candidates on the real proteome, default analysis.
timed evidence py "$here/class_evidence.py" --classes "$here/candidates.tsv" \
  --pairs "$out/overlaps.tsv" > "$out/evidence.tsv"

# Calibration: 100 null proteomes of 2,000 proteins (40, then 60 more),
# -S --exact-null on 40 of 1,000, -S:1000 on 10 of 500, and 20 of 20,000.
timed calibration-2000 py "$here/calibration.py" --replicates 40 --proteins 2000 \
  --setting "scan=" --setting "G-exact=-G:1 --exact-null" --setting "Kcap5=$linkage" \
  --setting "W20=-W:20" --out "$out/calibration_2000.tsv" > "$out/calibration_2000_summary.tsv"
timed calibration-2000-more py "$here/calibration.py" --replicates 60 --proteins 2000 --seed 1040 \
  --setting "scan=" --setting "G-exact=-G:1 --exact-null" --setting "Kcap5=$linkage" \
  --out "$out/calibration_2000_more.tsv" > "$out/calibration_2000_more_summary.tsv"
timed calibration-shuffled py "$here/calibration.py" --replicates 40 --proteins 1000 --seed 2000 \
  --setting "S-exact=-S:1 --exact-null" \
  --out "$out/calibration_shuffled_1000.tsv" > "$out/calibration_shuffled_1000_summary.tsv"
timed calibration-s1000 py "$here/calibration.py" --replicates 10 --proteins 500 --seed 3000 \
  --setting "S1000=-S:1000 --seed {seed}" \
  --out "$out/calibration_s1000.tsv" > "$out/calibration_s1000_summary.tsv"
timed calibration-20000 py "$here/calibration.py" --replicates 20 --proteins 20000 --seed 5000 \
  --setting "scan=" --setting "G-exact=-G:1 --exact-null" --setting "Kcap5=$linkage" \
  --out "$out/calibration_20000.tsv" > "$out/calibration_20000_summary.tsv"

# Power: the 20,000 real proteins shuffled, a 20-residue tract in each.
timed power py "$here/power.py" --densities 0.45,0.55,0.65,0.75 \
  --setting "scan=" --setting "G-exact=-G:1 --exact-null" --setting "E6=-E:6" \
  --setting "Kcap5=$linkage" --setting "W20=-W:20" \
  --out "$out/power_tracts.tsv" --per-class "$out/power_classes.tsv" > "$out/power_summary.tsv"
timed power-linkage py "$here/power.py" --densities 0.55,0.65 \
  --setting "E5=-E:5" --setting "K=-K" --setting "frac=--fractional-windows" \
  > "$out/power_k_e5_fractional_summary.tsv"
timed power-shuffled py "$here/power.py" --proteins 5000 --densities 0.55,0.65 \
  --setting "scan=" --setting "S-exact=-S:1 --exact-null" --setting "Kcap5=$linkage" \
  > "$out/power_shuffled_null_5000_summary.tsv"
bash "$here/discovery_timing.sh" "$talvo" > "$out/timing.txt"
cat "$out/times.txt"
