#!/usr/bin/env bash
# Runs the workflow on the example proteomes in 3 shards with 2 cores and
# checks that every merged table equals what one talvo-proteome process
# writes for the same inputs, byte for byte; once with the defaults and once
# with random sequences, window mode and every segment.
#
#   bash workflow/check.sh [build/talvo-proteome]
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
tool=$(realpath "${1:-$top/build/talvo-proteome}")
inputs=("$top/examples/domains.fa.gz" "$top/examples/globins45.fa")
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

# check NAME ALL OPTIONS...
check() {
  local name=$1 all=$2
  shift 2
  local options="$*" out="$scratch/$name"
  local all_flag=()
  [ "$all" = true ] && all_flag=(--all)
  local inputs_yaml
  inputs_yaml=$(printf '"%s",' "${inputs[@]}")
  snakemake --quiet --cores 2 --snakefile "$top/workflow/Snakefile" --directory "$scratch" \
    --config "inputs=[${inputs_yaml%,}]" shards=3 seed=11 threads=1 all="$all" \
    "options=$options" outdir="$out" talvo_proteome="$tool" >"$scratch/$name.log" 2>&1 ||
    { cat "$scratch/$name.log"; echo "workflow $name: snakemake failed"; return 1; }
  # shellcheck disable=SC2086
  "$tool" $options "${all_flag[@]}" --seed 11 "${inputs[@]}" >"$scratch/$name-single.tsv" 2>/dev/null
  cmp "$scratch/$name-single.tsv" "$out/all.tsv"
  local i=0
  for input in "${inputs[@]}"; do
    i=$((i + 1))
    # shellcheck disable=SC2086
    "$tool" $options "${all_flag[@]}" --seed 11 "$input" >"$scratch/$name-one.tsv" 2>/dev/null
    cmp "$scratch/$name-one.tsv" "$out"/$(printf '%02d' $i)_*.tsv
  done
  echo "workflow $name: $(($(wc -l <"$out/all.tsv") - 1)) rows; merged tables equal the single-process tables"
}

# A shard that fails (here on a gzip stream cut short) fails the workflow and
# leaves no table to merge.
check_failure() {
  head -c 20000 "$top/examples/domains.fa.gz" >"$scratch/cut.fa.gz"
  if snakemake --quiet --cores 2 --snakefile "$top/workflow/Snakefile" --directory "$scratch" \
    --config "inputs=[\"$scratch/cut.fa.gz\"]" outdir="$scratch/cut" talvo_proteome="$tool" \
    >"$scratch/cut.log" 2>&1; then
    echo "workflow cut: a truncated input did not fail the workflow"
    return 1
  fi
  if [ -n "$(find "$scratch/cut" -name '*.tsv*')" ]; then
    echo "workflow cut: a failed run left tables behind:"
    find "$scratch/cut" -name '*.tsv*'
    return 1
  fi
  grep -q 'truncated' "$scratch"/cut/logs/*/*.log
  echo "workflow cut: a truncated input fails the workflow and leaves no table"
}

check defaults false -A:LIVFM
check random-all true -S:200 -K -A:G
check windows false -W:12 -A:LIVF -M:0.2
check fractional false -W:12 -A:LIVF --fractional-windows
check_failure
