#!/usr/bin/env bash
# The browser page's time for the 20,000-protein synthetic proteome in headless
# Chromium, beside talvo-proteome on one thread on the same machine. The page
# runs the analysis three times (TSV with the summary and the masked FASTA,
# then GFF3, then BED), so talvo-proteome is timed doing the same three runs.
# The page's time is measured inside it, from talvo.analyse's call to its
# result, for plain and gzip input, then plain again (the first run of a page
# also grows the module's memory). The machine's load shows in every figure.
#
# Usage: bench/web_timing.sh [build directory] [proteins] [options...]
# Needs the page (cmake --build build --target web), chromium, chromium-driver
# and python3-selenium.
set -euo pipefail
build=$(cd "${1:-build}" && pwd)
proteins=${2:-20000}
shift $(($# > 2 ? 2 : $#))
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
[ -f "$build/web/index.html" ] || { echo "build the page first: cmake --build $build --target web" >&2; exit 1; }

bash "$(dirname "$0")/synthetic_proteome.sh" "$proteins" > "$work/proteome.fa"
gzip -c "$work/proteome.fa" > "$work/proteome.fa.gz"
echo "proteome: $proteins proteins, $(grep -v '^>' "$work/proteome.fa" | tr -d '\n' | wc -c) residues; options: ${*:-none}"

seconds() {
  local start end
  start=$(date +%s.%N)
  "$@" > /dev/null 2>&1
  end=$(date +%s.%N)
  awk "BEGIN { print $end - $start }"
}
native() {
  cd "$work"
  "$build/talvo-proteome" --threads 1 --no-progress "$@" --output tsv --summary summary --masked masked proteome.fa
  "$build/talvo-proteome" --threads 1 --no-progress "$@" --format gff3 --output gff3 proteome.fa
  "$build/talvo-proteome" --threads 1 --no-progress "$@" --format bed --output bed proteome.fa
}
one=$(seconds "$build/talvo-proteome" --threads 1 --no-progress "$@" --output "$work/tsv" \
  --summary "$work/summary" --masked "$work/masked" "$work/proteome.fa")
three=$(seconds native "$@")
printf 'talvo-proteome --threads 1: %.2f s for the TSV run, %.2f s for all three runs\n' "$one" "$three"

/usr/bin/python3 - "$build/web/index.html" "$work" "$@" <<'EOF'
import base64, os, shutil, sys, tempfile
from selenium import webdriver
from selenium.webdriver.chrome.service import Service

page, work, args = sys.argv[1], sys.argv[2], sys.argv[3:]
profile = tempfile.mkdtemp()
options = webdriver.ChromeOptions()
options.binary_location = "/usr/bin/chromium"
for flag in ("--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
             "--disable-background-networking", "--disable-component-update", "--disable-sync",
             f"--user-data-dir={profile}"):
    options.add_argument(flag)
driver = webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)
TIME = """(async (input, args, name, done) => {
const data = input.base64 ? Uint8Array.from(atob(input.base64), (c) => c.charCodeAt(0)) : input.text;
await talvo.analyse('>warm-up\\nMSR\\n', []);
const start = performance.now();
talvo.analyse(data, args, {name}).then((r) => done({seconds: (performance.now() - start) / 1000, tsv: r.tsv}),
                                        (e) => done({error: e.message}));
})(...arguments);"""
try:
    driver.set_script_timeout(3600)
    driver.get("file://" + os.path.abspath(page))
    with open(f"{work}/proteome.fa") as f:
        plain = {"text": f.read()}
    with open(f"{work}/proteome.fa.gz", "rb") as f:
        gzip = {"base64": base64.b64encode(f.read()).decode()}
    with open(f"{work}/tsv") as f:
        native_tsv = f.read()
    # The first run of a page also grows the module's memory.
    for label, data, name in (("plain", plain, "proteome.fa"), ("gzip", gzip, "proteome.fa.gz"),
                              ("plain", plain, "proteome.fa")):
        result = driver.execute_async_script(TIME, data, args, name)
        if "error" in result:
            sys.exit(f"page: {result['error']}")
        same = "same TSV as talvo-proteome" if label == "gzip" or result["tsv"] == native_tsv else "TSV DIFFERS"
        print(f"page, {label} input: {result['seconds']:.2f} s for all three runs ({same})")
finally:
    driver.quit()
    shutil.rmtree(profile)
EOF
