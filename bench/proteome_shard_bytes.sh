#!/usr/bin/env bash
# What a shard reads of an indexed input: the 20,000 real proteins of Debian's
# mmseqs2-examples (DB.fasta.gz) ten times over, with the IDs renamed per copy
# (200,000 proteins), compressed with bgzip and indexed with samtools faidx,
# then run as N shards (default 8), runs mode, a shard table of every segment.
#
# For each shard, strace counts the bytes that read and pread64 return from
# the input and from its .fai and .gzi; the bytes of the input are given as a
# fraction of the file, against 1/N. A second pass without strace times each
# shard (wall and CPU, one thread) beside one whole run, and the merge of the
# shard tables is checked against it byte for byte.
#
# Usage: bench/proteome_shard_bytes.sh [build directory] [shards]
set -euo pipefail
build=${1:-build}
shards=${2:-8}
db=/usr/share/doc/mmseqs2/example-data/DB.fasta.gz
program=$(realpath "$build/talvo-proteome")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
for copy in 0 1 2 3 4 5 6 7 8 9; do
  zcat "$db" | sed "s/^>/>c${copy}_/"
done | bgzip -@2 > db200k.fa.gz
samtools faidx db200k.fa.gz
size=$(stat -c %s db200k.fa.gz)
echo "input: $(wc -l < db200k.fa.gz.fai) proteins, $size bytes of BGZF" \
  "($(stat -c %s db200k.fa.gz.fai) bytes of .fai, $(stat -c %s db200k.fa.gz.gzi) of .gzi)"
echo "load before: $(cut -d' ' -f1-3 /proc/loadavg)"

# Bytes returned by read/pread64 per file, from strace -f -y; a call that
# another thread interrupts is finished on a "resumed" line of the same pid.
bytes_read() {
  awk -v input="$work/db200k.fa.gz" '
    function add(file, line) {
      if (match(line, /= [0-9]+$/)) total[file] += substr(line, RSTART + 2)
    }
    match($0, /\((fd=)?[0-9]+<[^>]*>/) {
      file = substr($0, RSTART, RLENGTH); sub(/^[^<]*</, "", file); sub(/>$/, "", file)
      if ($0 ~ /unfinished/) pending[$1] = file; else add(file, $0)
      next
    }
    /resumed>/ && ($1 in pending) { add(pending[$1], $0); delete pending[$1] }
    END { printf "%d %d %d", total[input], total[input ".fai"], total[input ".gzi"] }' "$1"
}

worst=0
for ((i = 0; i < shards; i++)); do
  strace -f -y -e trace=read,pread64 -o trace.txt \
    "$program" --threads 1 --no-progress --all --shard "$i/$shards" --output "shard$i.tsv" \
    db200k.fa.gz 2> /dev/null
  read -r input fai gzi <<< "$(bytes_read trace.txt)"
  fraction=$(awk "BEGIN { printf \"%.4f\", $input / $size }")
  worst=$(awk "BEGIN { print ($fraction > $worst) ? $fraction : $worst }")
  printf 'shard %d/%d: %d bytes of the input (%s of it, %.3f × 1/%d), %d of .fai, %d of .gzi\n' \
    "$i" "$shards" "$input" "$fraction" "$(awk "BEGIN { print $fraction * $shards }")" "$shards" \
    "$fai" "$gzi"
done
printf 'largest shard: %s of the input, %.3f × 1/%d (target at most 1.25 × 1/%d)\n' \
  "$worst" "$(awk "BEGIN { print $worst * $shards }")" "$shards" "$shards"

# Time per shard against one whole run (one thread each), median of three.
seconds() {  # wall, user + system of a command, as "WALL CPU"
  /usr/bin/time -f '%e %U %S' -o time.txt "$@" > /dev/null 2>&1
  awk '{ printf "%.2f %.2f", $1, $2 + $3 }' time.txt
}
median_of_three() {
  for run in 1 2 3; do seconds "$@"; echo; done | sort -n -k2 | sed -n 2p
}
read -r whole_wall whole_cpu <<< "$(median_of_three "$program" --threads 1 --no-progress --all \
  --output whole.tsv db200k.fa.gz)"
echo "one run of all 200,000: ${whole_wall} s wall, ${whole_cpu} s CPU"
for ((i = 0; i < shards; i++)); do
  read -r wall cpu <<< "$(median_of_three "$program" --threads 1 --no-progress --all \
    --shard "$i/$shards" --output "shard$i.tsv" db200k.fa.gz)"
  echo "shard $i/$shards: ${wall} s wall, ${cpu} s CPU"
done
"$program" --merge --all --output merged.tsv shard*.tsv 2> /dev/null
cmp merged.tsv whole.tsv && echo "the merge of the $shards shards equals the whole run"
echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)"
