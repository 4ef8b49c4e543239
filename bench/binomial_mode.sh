#!/usr/bin/env bash
# The binomial term at the mode of long sequences against MPFR (see
# bench/binomial_mode.cpp): COUNT cases (default 10^7) of n up to 2^31 - 1 and
# p from 1e-4 to 0.999; how many values of the double-double candidate are not
# the correctly rounded double, how many of the program's long double ones,
# the largest relative errors of both, and how many values of the
# WebAssembly build differ from the native ones; then the time per call of
# both over the first 10^6 cases. 10^7 cases take about 15 minutes on one core.
#
# Usage: nice -n 10 bash bench/binomial_mode.sh [COUNT]
# Needs g++, libmpfr-dev, Debian's emscripten and node.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
count=${1:-10000000}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export NODE_PATH=${NODE_PATH:-/usr/share/nodejs}

flags=(-std=c++20 -O2 -ffp-contract=off -Wall -Wextra -I"$root/src")
sources=("$root/bench/binomial_mode.cpp" "$root/bench/double_double_term.cpp" "$root/src/stats/binomial.cpp"
         "$root/web/math/double_double_math.cpp")
g++ "${flags[@]}" "${sources[@]}" -o "$work/native" -lmpfr -lgmp
emcc "${flags[@]}" "${sources[@]}" -o "$work/wasm.js" -sSINGLE_FILE=1 -sNODERAWFS=1 \
  -sALLOW_MEMORY_GROWTH=1
node "$work/wasm.js" values "$count" "$work/wasm.bin"
"$work/native" compare "$count" "$work/wasm.bin"
"$work/native" time 1000000
