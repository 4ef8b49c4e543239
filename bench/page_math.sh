#!/usr/bin/env bash
# The page's arithmetic against the native C library's, function by function:
# for each argument set of bench/page_math.cpp, COUNT arguments (default 10^7),
# how many results are not correctly rounded (MPFR) in the native C library
# and in web/math's functions, how many of web/math's rounding tests could not
# decide, and how many results of the WebAssembly C library and of the page's
# module (C library plus web/math/libm_overrides.cpp) differ from the native
# C library's. Then the same for the native C library with its fused
# multiply-add code paths switched off (GLIBC_TUNABLES), as on a processor
# without them. Single-threaded; 10^7 arguments take about an hour.
#
# Usage: nice -n 10 bash bench/page_math.sh [COUNT]
# Needs g++, libmpfr-dev, Debian's emscripten and node.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
count=${1:-10000000}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export NODE_PATH=${NODE_PATH:-/usr/share/nodejs}

flags=(-std=c++20 -O2 -ffp-contract=off -Wall -Wextra)
math=("$root/web/math/rounded_math.cpp" "$root/web/math/double_double_math.cpp")
g++ "${flags[@]}" "$root/bench/page_math.cpp" "${math[@]}" -o "$work/native" -lmpfr -lgmp
emcc "${flags[@]}" "$root/bench/page_math.cpp" -o "$work/wasm_libc.js" -sSINGLE_FILE=1 -sNODERAWFS=1
emcc "${flags[@]}" "$root/bench/page_math.cpp" "${math[@]}" \
  "$root/web/math/libm_overrides.cpp" -o "$work/page.js" -sSINGLE_FILE=1 -sNODERAWFS=1

header() {
  printf '%-26s %9s %14s %14s %10s %14s %14s\n' "arguments" "count" "native!=MPFR" "web/math!=MPFR" \
    "undecided" "wasm-libc!=nat" "page!=native"
}
echo "native C library: $(ldd --version | head -1); FMA code paths as this processor selects them"
header
for set in $("$work/native" sets); do
  node "$work/wasm_libc.js" values "$set" "$count" "$work/libc.bin"
  node "$work/page.js" values "$set" "$count" "$work/page.bin"
  "$work/native" compare "$set" "$count" "$work/libc.bin" "$work/page.bin"
  GLIBC_TUNABLES=glibc.cpu.hwcaps=-AVX2,-FMA "$work/native" compare "$set" "$count" \
    "$work/libc.bin" "$work/page.bin" >> "$work/without_fma"
done
echo
echo "native C library without its FMA/AVX2 code paths (GLIBC_TUNABLES=glibc.cpu.hwcaps=-AVX2,-FMA)"
header
cat "$work/without_fma"
