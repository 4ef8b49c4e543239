#!/usr/bin/env bash
# Scale test of talvo-proteome: the 20,000-protein synthetic proteome and ten
# copies of it (200,000 proteins, 74 M residues) through the run in every
# output mode, and the 200,000 proteins as a 10-shard run plus a --merge that
# writes every output.
# Prints wall time, CPU time, peak memory (/usr/bin/time) and temporary disk
# (the run's spool files, as --verbose reports them; for the sharded run the
# shard tables that wait for the merge) of each (the median of three runs for
# the single runs), and the ratios the design promises: peak memory at
# 200,000 proteins over that at 20,000, and --all's time over the default
# run's.
#
# Usage: bench/proteome_scale.sh [build directory] [threads]
set -euo pipefail
build=${1:-build}
threads=${2:-2}
tool="$build/talvo-proteome"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
[ -x /usr/bin/time ] || { echo "needs /usr/bin/time (apt-get install time)"; exit 1; }

"$(dirname "$0")/synthetic_proteome.sh" 20000 > "$work/p20000.fa"
for _ in 1 2 3 4 5 6 7 8 9 10; do cat "$work/p20000.fa"; done > "$work/p200000.fa"

calc() { awk "BEGIN { print $* }"; }

# run LABEL COMMAND...: one timed command; sets wall, cpu, peak_mb.
run() {
  local label=$1
  shift
  /usr/bin/time -f "%e %U %S %M" -o "$work/time" "$@" > /dev/null 2> "$work/err" ||
    { cat "$work/err"; echo "$label failed"; exit 1; }
  read -r wall user sys peak_kb < <(tail -1 "$work/time")
  cpu=$(calc "$user + $sys")
  peak_mb=$(calc "$peak_kb / 1024")
}

# median3 LABEL COMMAND...: run three times; wall, cpu and peak_mb are then
# each the median of the three (the machine is shared and short runs vary).
median3() {
  local walls=() cpus=() peaks=()
  for _ in 1 2 3; do
    run "$@"
    walls+=("$wall") cpus+=("$cpu") peaks+=("$peak_mb")
  done
  wall=$(printf '%s\n' "${walls[@]}" | sort -g | sed -n 2p)
  cpu=$(printf '%s\n' "${cpus[@]}" | sort -g | sed -n 2p)
  peak_mb=$(printf '%s\n' "${peaks[@]}" | sort -g | sed -n 2p)
}

spool_mb() {
  local bytes
  bytes=$(sed -n 's/.*temporary files: \([0-9]*\) bytes.*/\1/p' "$work/err")
  calc "${bytes:-0} / 1048576"
}

printf '%-28s %8s %8s %8s %9s %9s\n' run proteins "wall s" "CPU s" "peak MB" "temp MB"
declare -A peak time_of
modes=("" "--all" "--format gff3" "--format gff3 --all" "--format bed --all" "--summary S --masked M"
  "--gff3 G --bed B --summary S --masked M" "--all --fractional-windows" "-W:20 --all")
for mode in "${modes[@]}"; do
  for proteins in 20000 200000; do
    # shellcheck disable=SC2086
    args=$(echo "$mode" | sed "s|\bS\b|$work/summary.tsv|; s|\bM\b|$work/masked.fa|;
      s|\bG\b|$work/segments.gff3|; s|\bB\b|$work/segments.bed|")
    # shellcheck disable=SC2086
    median3 "$mode" "$tool" --threads "$threads" --no-progress --verbose --output /dev/null $args \
      "$work/p$proteins.fa"
    printf '%-28s %8d %8.2f %8.2f %9.1f %9.1f\n' "${mode:-default}" "$proteins" "$wall" "$cpu" \
      "$peak_mb" "$(spool_mb)"
    peak[$mode,$proteins]=$peak_mb
    time_of[$mode,$proteins]="$wall $cpu"
  done
done

# Ten shards of the 200,000 proteins, one after another as array jobs would
# run them, then the merge.
for proteins in 20000 200000; do
  shard_wall=0 shard_cpu=0 shard_peak=0
  for i in 0 1 2 3 4 5 6 7 8 9; do
    run shard "$tool" --threads "$threads" --no-progress --all --shard "$i/10" \
      --output "$work/shard$i.tsv" "$work/p$proteins.fa"
    shard_wall=$(calc "$shard_wall + $wall")
    shard_cpu=$(calc "$shard_cpu + $cpu")
    shard_peak=$(calc "($peak_mb > $shard_peak ? $peak_mb : $shard_peak)")
  done
  tables_mb=$(calc "$(cat "$work"/shard?.tsv | wc -c) / 1048576")
  printf '%-28s %8d %8.2f %8.2f %9.1f %9.1f\n' "10 shards --all (in turn)" "$proteins" \
    "$shard_wall" "$shard_cpu" "$shard_peak" "$tables_mb"
  # every OUT: the options that write every output to OUT.*
  every() { echo "--output $1.tsv --summary $1.summary --masked $1.fa --gff3 $1.gff3 --bed $1.bed"; }
  # shellcheck disable=SC2046
  run merge "$tool" --merge --verbose $(every "$work/merged") "$work"/shard?.tsv
  printf '%-28s %8d %8.2f %8.2f %9.1f %9.1f\n' "--merge, every output" "$proteins" "$wall" \
    "$cpu" "$peak_mb" "$(spool_mb)"
  peak[merge,$proteins]=$peak_mb
  # shellcheck disable=SC2046
  "$tool" --threads "$threads" --no-progress $(every "$work/single") "$work/p$proteins.fa" 2>/dev/null
  for kind in tsv summary fa gff3 bed; do
    cmp -s "$work/single.$kind" "$work/merged.$kind" || { echo "merged $kind differs from one run"; exit 1; }
  done
  rm -f "$work"/shard?.tsv "$work"/merged.* "$work"/single.*
done
echo "every merged output equals one run's, byte for byte"

echo
echo "peak memory, 200,000 over 20,000 proteins:"
for mode in "${modes[@]}" merge; do
  printf '  %-28s %.2fx\n' "${mode:-default}" "$(calc "${peak[$mode,200000]} / ${peak[$mode,20000]}")"
done
read -r all_wall all_cpu <<< "${time_of[--all,20000]}"
read -r def_wall def_cpu <<< "${time_of[,20000]}"
printf -- '--all over the default run, 20,000 proteins: wall %.2fx, CPU %.2fx\n' \
  "$(calc "$all_wall / $def_wall")" "$(calc "$all_cpu / $def_cpu")"
