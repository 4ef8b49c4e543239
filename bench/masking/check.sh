#!/usr/bin/env bash
# The masking benchmark on 100 queries and 2,000 targets must write its table,
# and the aligner commands of docs/masking.md must run on masked files.
# Nothing is asserted about speed or the values. Exit 77 (skipped) without
# mmseqs, tantan, segmasker or the example data.
# Usage: check.sh TALVO_PROTEOME
set -euo pipefail
talvo=$(readlink -f "$1")
here=$(dirname "$(readlink -f "$0")")
data=/usr/share/doc/mmseqs2/example-data
for tool in mmseqs tantan segmasker; do
  command -v "$tool" >/dev/null || { echo "$tool not found: skipped"; exit 77; }
done
[ -r "$data/DB.fasta.gz" ] || { echo "$data not found (mmseqs2-examples): skipped"; exit 77; }
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
trap 'echo "check.sh: failed at line $LINENO" >&2' ERR
cd "$dir"

/usr/bin/python3 "$here/masking_bench.py" --talvo "$talvo" \
  --queries 100 --targets 2000 --output report.md >/dev/null
grep -qx '| Masker | Decoy hits | True hits kept | Masked | Masking time |' report.md
grep -qx '| Masker | Decoy hits | True hits kept |' report.md
for masker in none tantan segmasker talvo discover; do
  [ "$(grep -c "^| $masker | [0-9]* | [0-9]*/[0-9]* " report.md)" = 2 ] || { cat report.md; exit 1; }
done

# docs/masking.md's commands, on 20 queries and 1,000 targets.
zcat "$data/QUERY.fasta.gz" | awk "NR <= 40" > query.fa
zcat "$data/DB.fasta.gz" | awk "NR <= 2000" > db.fa
for f in query db; do
  "$talvo" --discover -L --masked "$f.lower.fa" --output /dev/null "$f.fa" 2>/dev/null
  "$talvo" --discover -F --masked "$f.X.fa" --output /dev/null "$f.fa" 2>/dev/null
done
mmseqs easy-search query.lower.fa db.lower.fa mmseqs.m8 tmp --mask-lower-case 1 --threads 2 -v 1
test -s mmseqs.m8
if command -v diamond >/dev/null; then
  diamond makedb --in db.X.fa -d db --quiet
  diamond blastp -q query.X.fa -d db -o diamond.tsv --masking 0 --threads 2 --quiet
  test -s diamond.tsv
fi
convert2blastmask -in db.lower.fa -masking_algorithm other -masking_options "talvo-proteome --discover -L" \
  -outfmt maskinfo_asn1_bin -out db.asnb
makeblastdb -in db.lower.fa -dbtype prot -mask_data db.asnb -out db >/dev/null
info=$(blastdbcmd -db db -info)
grep -q '^100 ' <<<"$info"
blastp -query query.lower.fa -db db -db_soft_mask 100 -lcase_masking -evalue 1e-3 -outfmt 6 > blast.tsv
test -s blast.tsv
makeblastdb -in db.X.fa -dbtype prot -out dbx >/dev/null
blastp -query query.X.fa -db dbx -evalue 1e-3 -outfmt 6 > blastx.tsv
test -s blastx.tsv
echo "masking benchmark and aligner commands: ok"
