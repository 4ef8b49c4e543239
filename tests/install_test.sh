#!/usr/bin/env bash
# Installs the build into a scratch prefix, builds the example project against
# the installed CMake package and runs it.
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
# Nor does the library define any other name a program could clash with.
outside=$(nm -C --defined-only -g "$scratch"/prefix/lib*/libtalvo.a | grep -E '^[0-9a-f]+ [TDBRG] ' |
  grep -v -E ' [TDBRG] ((typeinfo (name )?|vtable |guard variable |TLS (init|wrapper) function )for )?talvo::' || true)
[ -z "$outside" ] || { echo "defined outside namespace talvo: $outside"; exit 1; }
