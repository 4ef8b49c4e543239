#!/usr/bin/env bash
# The browser page's time for a proteome in headless Chromium, beside
# talvo-proteome on one thread on the same machine, both writing all five
# outputs (TSV, summary, masked FASTA, GFF3, BED). The proteomes: Debian's
# mmseqs2-examples DB.fasta.gz (20,000 real proteins) when it is installed,
# and the synthetic proteome of bench/synthetic_proteome.sh.
#
# The page runs with the file chosen in its file field (a File, as a person
# gives it), from talvo.analyse's call to its result: gzip once, then plain
# three times (the first run of a page also grows the module's memory);
# talvo-proteome three times. Two ratios, page over tool: of the fastest wall
# times, and of CPU seconds (for the page, of every Chromium process: the
# worker, and the browser reading the file for it), which the load of a
# shared machine disturbs less.
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
real=/usr/share/doc/mmseqs2/example-data/DB.fasta.gz

measure() {
  gzip -c "$work/proteome.fa" > "$work/proteome.fa.gz"
  echo "== $1: $(grep -c '^>' "$work/proteome.fa") proteins, $(grep -v '^>' "$work/proteome.fa" | tr -d '\n' | wc -c) residues; options: ${*:2}"
  shift
  /usr/bin/python3 - "$build" "$work" "$@" <<'EOF'
import os, resource, shutil, subprocess, sys, tempfile, time
from selenium import webdriver
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.by import By

build, work, args = sys.argv[1], sys.argv[2], sys.argv[3:]
tool = f"{build}/talvo-proteome"
outputs = ["--output", "tsv", "--summary", "summary", "--masked", "masked", "--gff3", "gff3", "--bed", "bed"]


def cpu_of_children():
    usage = resource.getrusage(resource.RUSAGE_CHILDREN)
    return usage.ru_utime + usage.ru_stime


def native():
    wall, cpu = time.monotonic(), cpu_of_children()
    subprocess.run([tool, "--threads", "1", "--no-progress", *args, *outputs, "proteome.fa"], cwd=work,
                   check=True, stderr=subprocess.DEVNULL)
    return time.monotonic() - wall, cpu_of_children() - cpu


def cpu_of(marker):
    """CPU seconds of every process whose command line holds marker."""
    total = 0
    for pid in filter(str.isdigit, os.listdir("/proc")):
        try:
            with open(f"/proc/{pid}/cmdline", "rb") as f:
                if marker.encode() not in f.read():
                    continue
            with open(f"/proc/{pid}/stat") as f:
                fields = f.read().rsplit(")", 1)[1].split()
            total += int(fields[11]) + int(fields[12])
        except OSError:
            pass
    return total / os.sysconf("SC_CLK_TCK")


tool_runs = [native() for _ in range(3)]
print("talvo-proteome --threads 1, every output:", ", ".join(f"{w:.2f} s ({c:.2f} s CPU)" for w, c in tool_runs))
with open(f"{work}/tsv") as f:
    native_tsv = f.read()
with open(f"{work}/bed") as f:
    native_bed = f.read()

profile = tempfile.mkdtemp()
options = webdriver.ChromeOptions()
options.binary_location = "/usr/bin/chromium"
for flag in ("--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
             "--disable-background-networking", "--disable-component-update", "--disable-sync",
             f"--user-data-dir={profile}"):
    options.add_argument(flag)
driver = webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)
TIME = """(async (args, done) => {
await talvo.analyse('>warm-up\\nMSR\\n', []);
done(await new Promise((resolve) => setTimeout(resolve, 200)));
})(...arguments);"""
RUN = """const [args, done] = arguments;
const file = document.getElementById('file').files[0];
const start = performance.now();
talvo.analyse(file, args).then((r) => done({seconds: (performance.now() - start) / 1000, tsv: r.tsv, bed: r.bed}),
                               (e) => done({error: e.message}));"""
try:
    driver.set_script_timeout(3600)
    driver.get("file://" + os.path.abspath(f"{build}/web/index.html"))
    page_runs = []
    for label, name in (("gzip", "proteome.fa.gz"), ("plain", "proteome.fa"), ("plain", "proteome.fa"),
                        ("plain", "proteome.fa")):
        driver.find_element(By.ID, "file").send_keys(f"{work}/{name}")
        driver.execute_async_script(TIME, args)
        cpu = cpu_of(profile)
        result = driver.execute_async_script(RUN, args)
        cpu = cpu_of(profile) - cpu
        if "error" in result:
            sys.exit(f"page: {result['error']}")
        tsv = result["tsv"].replace(f"{name}\t", "proteome.fa\t")  # the input column names the file
        rows = [a != b for a, b in zip(tsv.split("\n"), native_tsv.split("\n"))]
        print(f"page, {label} input: {result['seconds']:.2f} s ({cpu:.2f} s CPU); BED " +
              ("same" if result["bed"] == native_bed else "DIFFERS") +
              f", TSV lines differing in the last digits (docs/accuracy.md): {sum(rows)} of {len(rows)}")
        if label == "plain":
            page_runs.append((result["seconds"], cpu))
finally:
    driver.quit()
    shutil.rmtree(profile)
wall, tool_wall = min(w for w, _ in page_runs), min(w for w, _ in tool_runs)
cpu, tool_cpu = min(c for _, c in page_runs), min(c for _, c in tool_runs)
print(f"page / talvo-proteome: {wall / tool_wall:.2f} in the fastest wall times ({wall:.2f} s / {tool_wall:.2f} s), "
      f"{cpu / max(tool_cpu, 0.01):.2f} in CPU seconds ({cpu:.2f} s / {tool_cpu:.2f} s)")
EOF
}

if [ -f "$real" ]; then
  zcat "$real" | awk -v n="$proteins" '/^>/ { if (++entries > n) exit } { print }' > "$work/proteome.fa"
  measure "mmseqs2-examples DB.fasta.gz" "$@"
fi
bash "$(dirname "$0")/synthetic_proteome.sh" "$proteins" > "$work/proteome.fa"
measure "synthetic proteome" "$@"
