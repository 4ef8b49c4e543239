#!/usr/bin/env bash
# Runs the workflow from a scratch directory (not the clone) on the example
# proteomes, 3 shards each on 2 cores, and checks that:
# - every output, all.* and each input's, equals one talvo-proteome run on
#   those inputs byte for byte, for four sets of options;
# - with one input, only all.* are written;
# - inputs indexed by samtools faidx (plain and bgzip) are read in parts, one
#   per shard, and still give a single run's outputs;
# - no shard table is left once the merges are done;
# - talvo-proteome is found on PATH when the configuration does not name it;
# - the SLURM profile is one that the installed Snakemake takes (a dry run);
# - a shard that fails fails the workflow and leaves no output.
#
#   bash workflow/check.sh [build/talvo-proteome]
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
tool=$(realpath "${1:-$top/build/talvo-proteome}")
inputs=("$top/examples/domains.fa.gz" "$top/examples/globins45.fa")
labels=(01_domains 02_globins45)
suffixes=(.tsv .summary.tsv .gff3 .bed .masked.fa)
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
cd "$scratch"
# The tool under the name the workflow looks for on PATH.
mkdir bin
ln -s "$tool" bin/talvo-proteome

# configure NAME KEY:VALUE...: NAME.yaml with these keys and outdir NAME.
configure() {
  local name=$1
  shift
  { echo "outdir: $name"; printf '%s\n' "$@"; } >"$name.yaml"
}

# workflow NAME [SNAKEMAKE OPTION...]: runs the workflow on NAME.yaml.
workflow() {
  local name=$1
  shift
  PATH="$scratch/bin:$PATH" snakemake --quiet --cores 2 --snakefile "$top/workflow/Snakefile" \
    --configfile "$name.yaml" "$@" >"$name.log" 2>&1
}

# single PREFIX ARG...: one run writing every output to PREFIX.*
single() {
  local prefix=$1
  shift
  "$tool" --seed 11 --output "$prefix.tsv" --summary "$prefix.summary.tsv" --gff3 "$prefix.gff3" \
    --bed "$prefix.bed" --masked "$prefix.masked.fa" "$@" 2>/dev/null
}

# same A B: A.* and B.* are the same files.
same() {
  for suffix in "${suffixes[@]}"; do cmp "$1$suffix" "$2$suffix"; done
}

quoted() {
  printf '"%s", ' "$@" | sed 's/, $//'
}

# check NAME ALL TOOL_KEY OPTIONS...: the workflow on both examples against
# single runs; TOOL_KEY is the configuration's talvo_proteome line, or "".
check() {
  local name=$1 all=$2 tool_key=$3
  shift 3
  local options="$*" all_flag=()
  [ "$all" = true ] && all_flag=(--all)
  configure "$name" "inputs: [$(quoted "${inputs[@]}")]" "shards: 3" "seed: 11" "all: $all" \
    "options: \"$options\"" "$tool_key"
  workflow "$name" || { cat "$name.log"; echo "workflow $name: snakemake failed"; return 1; }
  # shellcheck disable=SC2086
  single "$name-run" $options "${all_flag[@]}" "${inputs[@]}"
  same "$name/all" "$name-run"
  for i in 0 1; do
    # shellcheck disable=SC2086
    single "$name-input" $options "${all_flag[@]}" "${inputs[$i]}"
    same "$name/${labels[$i]}" "$name-input"
  done
  if [ -n "$(find "$name/shards" -type f 2>/dev/null)" ]; then
    echo "workflow $name: shard tables left behind:"
    find "$name/shards" -type f
    return 1
  fi
  echo "workflow $name: $(($(wc -l <"$name/all.tsv") - 1)) rows; every output equals a single run's"
}

# One input: all.* only, equal to a single run.
check_one_input() {
  configure one "inputs: [\"${inputs[1]}\"]" "shards: 2" "seed: 11" "options: \"-A:LIVFM -L\""
  workflow one || { cat one.log; echo "workflow one: snakemake failed"; return 1; }
  single one-run -A:LIVFM -L "${inputs[1]}"
  same one/all one-run
  if [ -n "$(find one -maxdepth 1 -name '01_*')" ]; then
    echo "workflow one: one input, yet outputs beside all.*:"
    find one -maxdepth 1 -name '01_*'
    return 1
  fi
  echo "workflow one: one input gives all.* alone, equal to a single run's"
}

# Indexed inputs (plain with .fai, bgzip with .fai and .gzi): every shard
# table records the part it read (kept with --notemp to look), and every
# output equals a single run's.
check_indexed() {
  if ! command -v samtools >/dev/null || ! command -v bgzip >/dev/null; then
    echo "workflow indexed: skipped (samtools and bgzip are not installed)"
    return 0
  fi
  gzip -dc "${inputs[0]}" >domains.fa
  bgzip -c "${inputs[1]}" >globins45.fa.gz
  samtools faidx domains.fa
  samtools faidx globins45.fa.gz
  local indexed=("$scratch/domains.fa" "$scratch/globins45.fa.gz")
  configure indexed "inputs: [$(quoted "${indexed[@]}")]" "shards: 4" "seed: 11" "all: true" \
    "options: \"-S:100\""
  workflow indexed --notemp || { cat indexed.log; echo "workflow indexed: snakemake failed"; return 1; }
  single indexed-run -S:100 --all "${indexed[@]}"
  same indexed/all indexed-run
  for i in 0 1; do
    single indexed-input -S:100 --all "${indexed[$i]}"
    same "indexed/${labels[$i]}" indexed-input
  done
  local tables whole warning exempt='^$'
  tables=$(find indexed/shards -name '*.tsv' | wc -l)
  warning=$("$tool" --shard 0/2 --output /dev/null globins45.fa.gz 2>&1 >/dev/null || true)
  # A build without htslib reads BGZF whole, with a warning.
  local note=""
  if [[ $warning == *"is not used"* ]]; then
    exempt='/02_globins45/'
    note=" (the bgzip one whole: a build without htslib)"
  fi
  whole=$(grep -L -P '^#fingerprint\t1\tpart\t' indexed/shards/*/*.tsv | grep -v -E "$exempt" || true)
  if [ "$tables" != 8 ] || [ -n "$whole" ]; then
    echo "workflow indexed: $tables shard tables, of which read whole: $whole"
    return 1
  fi
  echo "workflow indexed: 4 shards of each indexed input read their own parts$note; every output equals a single run's"
}

# The SLURM profile, in a dry run that submits nothing.
check_profile() {
  configure profile "inputs: [$(quoted "${inputs[@]}")]"
  workflow profile --dry-run --profile "$top/workflow/profiles/slurm" ||
    { cat profile.log; echo "workflow profile: snakemake refused the SLURM profile"; return 1; }
  echo "workflow profile: the installed Snakemake takes the SLURM profile"
}

# A shard that fails (here on a gzip stream cut short) fails the workflow and
# leaves no output.
check_failure() {
  head -c 20000 "${inputs[0]}" >cut.fa.gz
  configure cut "inputs: [\"$scratch/cut.fa.gz\"]" "talvo_proteome: $tool"
  if workflow cut; then
    echo "workflow cut: a truncated input did not fail the workflow"
    return 1
  fi
  if [ -n "$(find cut -type f -not -name '*.log')" ]; then
    echo "workflow cut: a failed run left files behind:"
    find cut -type f -not -name '*.log'
    return 1
  fi
  grep -q 'truncated' cut/logs/*/*.log
  echo "workflow cut: a truncated input fails the workflow and leaves no output"
}

check defaults false "" -A:LIVFM
check random-all true "talvo_proteome: $tool" -S:200 -K -A:G -F
check windows false "" -W:12 -A:LIVF -M:0.2 -L
check fractional false "talvo_proteome: $tool" -W:12 -A:LIVF --fractional-windows
check_one_input
check_indexed
check_profile
check_failure
