#!/usr/bin/env bash
# Both cores in runs mode: talvo-proteome on the 20,000 real proteins of
# Debian's mmseqs2-examples (DB.fasta.gz) as plain text, as gzip and as BGZF
# (bgzip), with 1 and 2 analysis threads, TSV to a file; and SEG
# (`ncbi-seg FILE -x`) on the plain text as the reference.
#
# The runs alternate in one loop, so that a change of the machine's load hits
# every case alike. Each line gives the fastest and the median wall time, the
# speed-up of 2 threads over 1 from both, and the CPU time of each thread of
# one run (perf's task-clock, shared out by perf's samples per thread), by
# the threads' names: the reader, the writer (the calling thread) and the
# analysis threads (work-1, work-2). On a shared machine only the fastest
# times and the CPU split mean much; the load average is printed before and
# after.
#
# The machine's own ceiling, in the same loop: two one-thread runs of the
# plain input side by side, whose wall time against one alone gives the most
# that any program gains from the second core here (2 × one / pair).
#
# Usage: bench/proteome_threads.sh [build directory] [rounds]
set -euo pipefail
build=${1:-build}
rounds=${2:-15}
db=/usr/share/doc/mmseqs2/example-data/DB.fasta.gz
program=$(realpath "$build/talvo-proteome")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
zcat "$db" > db.fa
cp "$db" db.fa.gz
bgzip -c db.fa > db.bgzf.fa.gz

echo "load before: $(cut -d' ' -f1-3 /proc/loadavg)"
ms() {  # wall time of a command, in milliseconds
  local start end
  start=$(date +%s%N)
  "$@" > /dev/null 2>&1
  end=$(date +%s%N)
  echo $(((end - start) / 1000000))
}
pair() {  # two one-thread runs at once
  "$program" --threads 1 --no-progress --output pair1.tsv db.fa &
  "$program" --threads 1 --no-progress --output pair2.tsv db.fa
  wait
}
cases=("plain 1 db.fa" "plain 2 db.fa" "bgzf 1 db.bgzf.fa.gz" "bgzf 2 db.bgzf.fa.gz"
       "gzip 1 db.fa.gz" "gzip 2 db.fa.gz")
for ((round = 0; round < rounds; round++)); do
  for case in "${cases[@]}"; do
    read -r name threads file <<< "$case"
    echo "$name $threads $(ms "$program" --threads "$threads" --no-progress --output out.tsv "$file")"
  done
  echo "pair 1 $(ms pair)"
  echo "seg 1 $(ms ncbi-seg db.fa -x)"
done > times.txt
echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)"

# Fastest and median of each case.
stats() {
  grep "^$1 $2 " times.txt | cut -d' ' -f3 | sort -n |
    awk '{ t[NR] = $1 } END { printf "%d %d", t[1], t[int((NR + 1) / 2)] }'
}
split() {  # CPU milliseconds of each thread, largest first, and their sum
  perf record -q -F 5000 -o split.data -- "$program" --threads "$2" --no-progress \
    --output out.tsv "$1" > /dev/null 2>&1
  local total
  total=$(perf stat -x, -e task-clock "$program" --threads "$2" --no-progress --output out.tsv \
    "$1" 2>&1 > /dev/null | grep task-clock | cut -d, -f1)
  perf report -i split.data -s comm --stdio 2> /dev/null | grep '%' |
    awk -v t="$total" '{ sub("%", "", $1); sub("talvo-proteome", "writer", $2); sub("talvo-", "", $2)
                         printf "%s %.0f, ", $2, $1 * t / 100 } END { printf "sum %.0f", t }'
}
read -r seg_min seg_median <<< "$(stats seg 1)"
printf 'SEG: fastest %d ms, median %d ms\n' "$seg_min" "$seg_median"
read -r plain_min plain_median <<< "$(stats plain 1)"
read -r pair_min pair_median <<< "$(stats pair 1)"
printf 'ceiling: two one-thread runs side by side %d ms (median %d): 2 × one / pair %.2f (medians %.2f)\n' \
  "$pair_min" "$pair_median" "$(awk "BEGIN { print 2 * $plain_min / $pair_min }")" \
  "$(awk "BEGIN { print 2 * $plain_median / $pair_median }")"
for input in "plain db.fa" "bgzf db.bgzf.fa.gz" "gzip db.fa.gz"; do
  read -r name file <<< "$input"
  read -r one_min one_median <<< "$(stats "$name" 1)"
  read -r two_min two_median <<< "$(stats "$name" 2)"
  printf '%-5s 1 thread %4d ms (median %4d), 2 threads %4d ms (median %4d): speed-up %.2f (medians %.2f); 2 threads / SEG %.3f (medians %.3f)\n' \
    "$name" "$one_min" "$one_median" "$two_min" "$two_median" \
    "$(awk "BEGIN { print $one_min / $two_min }")" "$(awk "BEGIN { print $one_median / $two_median }")" \
    "$(awk "BEGIN { print $two_min / $seg_min }")" "$(awk "BEGIN { print $two_median / $seg_median }")"
  printf '      CPU ms by thread, 1 thread: %s; 2 threads: %s\n' "$(split "$file" 1)" "$(split "$file" 2)"
done
