#!/usr/bin/env bash
# Installs the build into a scratch prefix, builds the example projects
# against the installed CMake package (and the proteome one through
# pkg-config) and runs them.
set -euo pipefail
build=$1
source=$2
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
cmake --install "$build" --prefix "$scratch/prefix" > /dev/null
cmake -S "$source/examples/cpp-api" -B "$scratch/example" -DCMAKE_PREFIX_PATH="$scratch/prefix" > /dev/null
cmake --build "$scratch/example" > /dev/null
out=$("$scratch/example/biased_segments" MKLVAEEFGHLKRRRRRRRRRRLLVAEKLMEEAVKL)
echo "$out"
# TALVO's own arithmetic gives 4.511391e-12 here, rounding noise in the
# fourth digit; the API's p-value is the formula's value to all digits.
[ "$out" = "$(printf '13\t22\t10\t4.512322e-12\tRRRRRRRRRR')" ]
# A program with its own globals named window, special and P_special links
# against the library, whose names all live in namespace talvo.
sizes=$("$scratch/example/window_sizes" MKLVAEEFGHLKRRRRRRRRRRLLVAEKLMEEAVKL)
echo "$sizes"
expected='W=0\t1 segments\t10 special\tP=0.05231\nW=10\t1 segments\t10 special\tP=0.05231\n'
expected+='W=20\t1 segments\t10 special\tP=0.05231\nW=40\tskipped: shorter than the window'
[ "$sizes" = "$(printf "$expected")" ]
# Nor does either library define any other name a program could clash with.
for library in "$scratch"/prefix/lib*/libtalvo.a "$scratch"/prefix/lib*/libtalvo-proteome.a; do
  outside=$(nm -C --defined-only -g "$library" | grep -E '^[0-9a-f]+ [TDBRG] ' |
    grep -v -E ' [TDBRG] ((typeinfo (name )?|vtable |guard variable |TLS (init|wrapper) function )for )?talvo::' || true)
  [ -z "$outside" ] || { echo "$library defines outside namespace talvo: $outside"; exit 1; }
done

# The proteome example, built with CMake and with pkg-config, writes
# talvo-proteome's outputs byte for byte and lists the segments whose
# q-value in the table is at most 0.05, most significant first.
inputs=("$source"/examples/{domains.fa.gz,globins45.fa,7LESS_DROME.fa,two_proteins.fa})
"$scratch/example/proteome_outputs" -A:R "$scratch/api" "${inputs[@]}" > "$scratch/api.hits"
"$build/talvo-proteome" -A:R --threads 2 --all --no-progress --output "$scratch/tool.tsv" \
  --gff3 "$scratch/tool.gff3" --bed "$scratch/tool.bed" --summary "$scratch/tool.summary.tsv" \
  "${inputs[@]}" 2> /dev/null
for output in tsv gff3 bed summary.tsv; do cmp "$scratch/api.$output" "$scratch/tool.$output"; done
awk -F'\t' 'NR > 1 && $11 <= 0.05 { printf "%s\t%d\t%d\t%.17g\n", $3, $6, $7, $11 }' \
  "$scratch/tool.tsv" | sort -s -t"$(printf '\t')" -k4,4g > "$scratch/tool.hits"
[ -s "$scratch/tool.hits" ] || { echo "no segment at q <= 0.05 to compare"; exit 1; }
cmp "$scratch/api.hits" "$scratch/tool.hits"
export PKG_CONFIG_PATH=$(echo "$scratch"/prefix/lib*/pkgconfig)
g++ -std=c++20 -o "$scratch/proteome_pc" "$source/examples/cpp-api/proteome.cpp" \
  $(pkg-config --cflags --libs talvo-proteome)
"$scratch/proteome_pc" -A:R "$scratch/pc" "${inputs[@]}" | cmp - "$scratch/api.hits"
echo "proteome example: $(wc -l < "$scratch/api.hits") segments at q <= 0.05, outputs as talvo-proteome's"
