"""The browser page in headless Chromium, opened from disk: a bundled example
through the form as a person would use it, the q-value summary, the help
texts, the table and the plot, progress that ends at 100%, the downloaded TSV
and the API's outputs byte for byte against talvo-proteome, bad input, and
screenshots of the results (SCREENSHOT; with -discover, the discovery view; with -proteome,
20,000 real proteins).

Discovery (--discover) through the link: its summary, class filter, tracks
and mask download; a pasted class list; a class file through the API.

Real proteins (the first 111 of Debian's mmseqs2-examples QUERY.fasta.gz) go
through the API for several option sets, discovery among them: the masked FASTA and every text
field byte for byte, every number to the tolerance that remains between the
WebAssembly and the native C library (docs/accuracy.md, "The page's
arithmetic").

Usage: page_test.py PAGE_DIR TALVO_PROTEOME EXAMPLES_DIR SCREENSHOT
Exits 77 (skipped) when the page is not built or Chromium, chromedriver or
Selenium is missing, or 1 then if TALVO_WEB_REQUIRED is set."""
import base64
import gzip
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time

page, examples, screenshot = sys.argv[1], sys.argv[3], sys.argv[4]
tool = os.path.abspath(sys.argv[2])


def skip(reason):
    print(f"skipped: {reason}")
    sys.exit(1 if os.environ.get("TALVO_WEB_REQUIRED") else 77)  # CI sets it: no silent skips


if not os.path.exists(os.path.join(page, "index.html")):
    skip(f"the page is not built (bash web/build.sh {page}; needs emcc)")
for program in ("/usr/bin/chromium", "/usr/bin/chromedriver"):
    if not os.path.exists(program):
        skip(f"{program} is not installed (apt-get install chromium chromium-driver)")
try:
    from selenium import webdriver
    from selenium.webdriver.chrome.service import Service
    from selenium.webdriver.common.by import By
    from selenium.webdriver.common.keys import Keys
    from selenium.webdriver.support.ui import Select
except ImportError:
    skip("python3-selenium is not installed")

scratch = tempfile.mkdtemp()
failures = []


def check(ok, what):
    if not ok:
        failures.append(what)
        print("FAIL:", what)


def native(args, input_name, stdin_path=None, cwd=examples):
    """talvo-proteome's five outputs of one run, run where the example lives."""
    names = {"tsv": "output", "gff3": "gff3", "bed": "bed", "summary": "summary", "masked": "masked"}
    with open(stdin_path, "rb") if stdin_path else open(os.devnull, "rb") as stdin:
        subprocess.run([tool, *args, "--no-progress", *[a for key, option in names.items()
                                                        for a in (f"--{option}", f"{scratch}/{key}")], input_name],
                       cwd=cwd, stdin=stdin, check=True, stderr=subprocess.DEVNULL)
    outputs = {}
    for name in names:
        with open(f"{scratch}/{name}", "rb") as f:
            outputs[name] = f.read()
        os.remove(f"{scratch}/{name}")
    return outputs


def close_enough(got, want, key):
    """Equal text; numbers to 4e-15 relative (a few units in the last place:
    the C libraries' exp, log, pow, log1p and expm1 round differently in 0.1%
    of cases), or 1e-11 for the summary's exact tails and q-values (the
    long-double terms of proteins where (1 - P)^length is below 2^-1022)."""
    tolerance = 1e-11 if key == "summary" else 4e-15
    got_fields, want_fields = re.split(r"[\t\n;=]", got), re.split(r"[\t\n;=]", want)
    if len(got_fields) != len(want_fields):
        return False
    for a, b in zip(got_fields, want_fields):
        if a != b:
            try:
                if abs(float(a) - float(b)) > tolerance * max(abs(float(a)), abs(float(b))):
                    return False
            except ValueError:
                return False
    return True


def wait_for(condition, what, seconds=120):
    deadline = time.monotonic() + seconds  # only against hanging, never a speed check
    while not condition():
        if time.monotonic() > deadline:
            raise RuntimeError(f"gave up waiting for {what}")
        time.sleep(0.1)


ANALYSE = """const [input, args, name, done] = [arguments[0], arguments[1], arguments[2], arguments[arguments.length - 1]];
const files = arguments.length > 4 ? arguments[3] : {};
const data = input.base64 ? Uint8Array.from(atob(input.base64), (c) => c.charCodeAt(0)) : input.text;
const progress = [];
talvo.analyse(data, args, {name, files, onProgress: (f) => progress.push(f)})
  .then((r) => done({...r, progress}), (e) => done({error: e.message}));"""

options = webdriver.ChromeOptions()
options.binary_location = "/usr/bin/chromium"
for flag in ("--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
             "--disable-background-networking", "--disable-component-update", "--disable-sync",
             f"--user-data-dir={scratch}/profile", "--window-size=1100,1900"):
    options.add_argument(flag)
driver = webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)
try:
    driver.set_script_timeout(300)
    url = "file://" + os.path.abspath(os.path.join(page, "index.html"))
    find = lambda id_: driver.find_element(By.ID, id_)
    done = lambda: "Done" in find("status").text or not find("error").get_attribute("hidden")

    # A link opens with a bundled example analysed, on its significant segment,
    # q-values first; every column and option explained.
    driver.get(url + "#example=domains")
    wait_for(done, "the linked example")
    check("158 proteins analysed" in find("summary-line").text, "domains.fa.gz through #example=")
    driver.get(url + "#example=7LESS_DROME")
    wait_for(done, "the 7LESS_DROME link")
    check(find("q-count").text == "1 segment in 1 protein", f"the q summary: {find('q-count').text}")
    check("false discovery rate" in find("p-and-q").text, "p and q in plain words")
    check((find("view-from").get_attribute("value"), find("view-to").get_attribute("value")) == ("2019", "2061"),
          "the link lands on the segment")
    check(find("progress").get_attribute("value") == "1", "the progress bar ends at 100%")
    check(driver.execute_script("const top = document.getElementById('results').getBoundingClientRect().top; "
                                "return scrollY > 0 && top >= 0 && top < innerHeight / 2"), "the results scrolled into view")
    Select(find("colour-by")).select_by_value("p_value")
    check("−log10 p" in find("plot").text and "p = 6.82e-8" in find("strongest").text, "colour and rank by p")
    helps = driver.execute_script("""return [...document.querySelectorAll('th')].map((th) => th.title)
        .concat([...document.querySelectorAll('.field')].map((f) => f.querySelector('small').textContent));""")
    check(len(helps) >= 25 and all(len(h) > 20 for h in helps), f"a help text for every column and option: {helps}")

    # Which residues are biased: q summary by class, the filter, a track per
    # class, and the discovery mask as the tool writes it.
    driver.get(url)  # a fresh page: a link's hash alone would keep the form as it is
    driver.get(url + "#example=7LESS_DROME&args=--discover")
    wait_for(done, "the discovery link")
    check(find("q-count").text == "3 segments in 1 protein, 3 classes", f"discovery's summary: {find('q-count').text}")
    find("zoom-all").click()
    tracks = [t.get_attribute("data-class") for t in driver.find_elements(By.CSS_SELECTOR, "#plot g.track")]
    check(tracks == ["R", "RG", "SR"], f"a track per class at q <= 0.05: {tracks}")
    driver.save_screenshot(screenshot.replace(".png", "-discover.png"))
    Select(find("class-filter")).select_by_value("SR")
    classes = {r.text for r in driver.find_elements(By.CSS_SELECTOR, "#segments tbody td:nth-child(2)")}
    check(classes == {"SR"}, f"the class filter: {classes}")
    driver.execute_cdp_cmd("Browser.setDownloadBehavior", {"behavior": "allow", "downloadPath": scratch})
    driver.find_element(By.CSS_SELECTOR, "[data-download=masked]").click()
    wait_for(lambda: os.path.exists(f"{scratch}/7LESS_DROME.masked.fa"), "the discovery mask")
    with open(f"{scratch}/7LESS_DROME.masked.fa", "rb") as f:
        check(f.read() == native(["--discover"], "7LESS_DROME.fa")["masked"], "the discovery mask download")
    os.remove(f"{scratch}/7LESS_DROME.masked.fa")
    # A pasted class list (spaces for the tab) and the tool's warning.
    driver.find_element(By.CSS_SELECTOR, "#classes-option summary").click()
    find("classes").send_keys("# mine\nbasic KR\nacidic  DE")
    find("extra").send_keys("-W:20")
    find("analyse").click()
    wait_for(done, "the pasted classes")
    options = [o.get_attribute("value") for o in Select(find("class-filter")).options]
    check(options == ["", "basic", "acidic"], f"the pasted classes: {options} {find('error').text}")
    check("window mode (-W) is not calibrated" in find("input-warning").text, "discovery's warning shown")

    # The form: pick an example, type the alphabet, choose, tick, click.
    driver.get(url)
    driver.find_element(By.XPATH, "//button[text()='7LESS_DROME']").click()
    check(not find("discover").is_selected(), "a fresh page without discovery")
    find("alphabet").clear()
    find("alphabet").send_keys("R")
    Select(find("background")).select_by_value("-T")
    find("all").click()
    find("analyse").click()
    wait_for(done, "the form's run")
    rows = [r.text for r in driver.find_elements(By.CSS_SELECTOR, "#segments tbody tr")]
    check(rows[0].startswith("7LESS_DROME 2034 2046 13 10 6.82e-8"), "the most significant segment first")
    driver.save_screenshot(screenshot)
    find("q-threshold").clear()
    find("q-threshold").send_keys("1")
    check(find("q-count").text == "129 segments in 1 protein", "the q threshold counts segments")
    find("zoom-all").click()
    bar = driver.find_elements(By.CSS_SELECTOR, '#plot rect.segment[data-start="2034"][data-end="2046"]')
    check(len(bar) == 1 and float(bar[0].get_attribute("width")) > 0, "the arginine segment drawn as a bar")
    bar[0].send_keys(Keys.ENTER)  # the keyboard zooms to a segment
    check((find("view-from").get_attribute("value"), find("view-to").get_attribute("value")) == ("2019", "2061"),
          "Enter on a segment zooms to it")
    driver.execute_cdp_cmd("Browser.setDownloadBehavior", {"behavior": "allow", "downloadPath": scratch})
    driver.find_element(By.CSS_SELECTOR, "[data-download=tsv]").click()
    downloaded = f"{scratch}/7LESS_DROME.segments.tsv"
    wait_for(lambda: os.path.exists(downloaded), "the download")
    with open(downloaded, "rb") as f:
        check(f.read() == native(["-A:R", "--all"], "7LESS_DROME.fa")["tsv"], "the downloaded TSV")
    find("save-svg").click()
    find("save-png").click()
    for name, magic in (("7LESS_DROME.svg", b"<svg"), ("7LESS_DROME.png", b"\x89PNG")):
        wait_for(lambda: os.path.exists(f"{scratch}/{name}"), f"the saved {name}")
        with open(f"{scratch}/{name}", "rb") as f:
            check(f.read(4) == magic, f"the plot saved as {name}")

    # Bad options: the tool's message, and the page keeps working.
    find("extra").send_keys("--bogus")
    find("analyse").click()
    wait_for(lambda: not find("error").get_attribute("hidden"), "the error message")
    check("unrecognized option '--bogus'" in find("error").text, "an unknown option's message")
    find("extra").clear()
    find("analyse").click()
    wait_for(done, "the run after an error")
    check(find("error").get_attribute("hidden") is not None, "the page recovers after an error")

    # Nucleotides: a banner beside the results, and no "proteins".
    find("sequences").clear()
    find("sequences").send_keys(">d1\n" + "ACGT" * 30 + "\n>d2\n" + "GATTACA" * 9 + "\n")
    find("analyse").click()
    wait_for(done, "the nucleotide run")
    banner = find("input-warning")
    check(banner.is_displayed() and "-: looks like nucleotides" in banner.text
          and "2 of 2 entries look like nucleotides" in banner.text, f"the nucleotide banner: {banner.text}")
    check(find("summary-line").text.startswith("2 entries analysed"), "nucleotides are not called proteins")

    # A cut gzip file, run from the bottom of a short window: its name and fault, in view.
    driver.set_window_size(1100, 600)
    with open(os.path.join(examples, "globins45.fa"), "rb") as f:
        whole = gzip.compress(f.read())
    with open(f"{scratch}/cut.fa.gz", "wb") as f:
        f.write(whole[:len(whole) // 2])
    find("file").send_keys(f"{scratch}/cut.fa.gz")
    driver.execute_script("scrollTo(0, document.body.scrollHeight); document.getElementById('form').requestSubmit()")
    wait_for(lambda: not find("error").get_attribute("hidden"), "the cut file's message")
    check("cut.fa.gz: truncated gzip data" in find("error").text, f"a cut gzip file's message: {find('error').text}")
    check(driver.execute_script("const r = arguments[0].getBoundingClientRect(); return r.top >= 0 && "
                                "r.bottom <= innerHeight", find("error")), "the error scrolled into view")

    # 20,000 real proteins: every limit says how to get past it; no protein is out of reach.
    proteome = "/usr/share/doc/mmseqs2/example-data/DB.fasta.gz"
    if os.path.exists(proteome):
        driver.get(url)
        driver.set_window_size(1100, 1900)
        find("file").send_keys(proteome)
        find("analyse").click()
        wait_for(done, "20,000 proteins")
        check(re.fullmatch(r"[\d,]+ segments in [\d,]+ proteins", find("q-count").text), "the proteome's q summary")
        check(re.match(r"showing the 500 most significant of [\d,]+ segments: .* download the segments TSV for all",
                       find("segment-count").text), f"the segment table's limit: {find('segment-count').text}")
        check(driver.execute_script("return document.getElementById('protein').options.length") == 20000,
              "every protein in the picker")
        driver.save_screenshot(screenshot.replace(".png", "-proteome.png"))

    # A long run cancelled; the API below still works.
    driver.find_element(By.XPATH, "//button[text()='domains']").click()
    find("extra").send_keys("-S:1000000")
    find("analyse").click()
    find("cancel").click()
    wait_for(lambda: find("status").text == "Cancelled.", "the cancel")

    # The API, byte for byte, over several option sets, gzip and pasted text.
    with open(os.path.join(examples, "globins45.fa")) as f:
        globins = {"text": f.read()}
    with open(os.path.join(examples, "domains.fa.gz"), "rb") as f:
        domains = {"base64": base64.b64encode(f.read()).decode()}
    cases = [(globins, [], "globins45.fa"),
             (globins, ["-A:R", "--all", "--seed", "7", "-S:200"], "globins45.fa"),
             (globins, ["-W:20", "-X", "--fractional-windows", "--all"], "globins45.fa"),
             (globins, ["-A:KR", "-L", "-I", "-M:0.5"], "-"),
             (globins, ["-A:KR", "-G:300", "--seed", "3", "--exact-null", "--all"], "globins45.fa"),
             (globins, ["-A:KR", "-S:50", "--all"], "globins45.fa"),  # the seed from the clock, reported
             (domains, ["--all", "-K"], "domains.fa.gz")]
    with open(f"{scratch}/classes.tsv", "w") as f:
        f.write("QN\tQN\nbasic\tKR\n")
    got = driver.execute_async_script(ANALYSE, globins, ["--discover", "--all", "--classes", "mine"], "globins45.fa",
                                      {"mine": "QN\tQN\nbasic\tKR\n"})
    want = native(["--discover", "--all", "--classes", f"{scratch}/classes.tsv"], "globins45.fa")
    check(all(got.get(key, "").encode() == want[key] for key in want) and got["classes"].startswith("class\tletters"),
          "discovery with a class file through the API")
    os.remove(f"{scratch}/classes.tsv")
    for data, args, name in cases:
        got = driver.execute_async_script(ANALYSE, data, args, name)
        check(got["progress"][-1] == 1 and got["progress"] == sorted(got["progress"]), f"progress {args}")
        stdin = os.path.join(examples, "globins45.fa") if name == "-" else None
        want = native(args + (["--seed", got["seed"]] if got["seed"] else []), name, stdin)
        for key in want:
            check(got.get(key, "").encode() == want[key], f"analyse {args} {name}: {key}")
    # Real proteins, against talvo-proteome on the same file.
    query = "/usr/share/doc/mmseqs2/example-data/QUERY.fasta.gz"
    if not os.path.exists(query):
        check(not os.environ.get("TALVO_WEB_REQUIRED"), "real proteins: apt-get install mmseqs2-examples")
    else:
        with gzip.open(query, "rt") as f:
            real = ">" + ">".join(f.read().split(">")[1:112])
        with open(f"{scratch}/real.fa", "w") as f:
            f.write(real)
        for args in (["--all"], ["-I", "--all"], ["-W:20", "--all"], ["-S:100", "--seed", "5", "--all"],
                     ["-G:300", "--seed", "3", "--all"], ["-A:KR", "-G:300", "--seed", "3", "--exact-null", "--all"],
                     ["-S:100", "--seed", "3", "--exact-null", "--all"], ["--discover", "--all"],
                     ["--discover", "-L", "-G:1", "--exact-null"]):
            got = driver.execute_async_script(ANALYSE, {"text": real}, args, "real.fa")
            want = native(args, "real.fa", cwd=scratch)
            for key in want:
                same = got.get(key, "").encode() == want[key]
                check(same or key != "masked" and close_enough(got.get(key, ""), want[key].decode(), key),
                      f"real proteins {args}: {key}")
        os.remove(f"{scratch}/real.fa")
    for data, args, message in (({"text": ">x\nMSR\n"}, ["-W:abc", "-N"], "invalid option '-W:abc'"),
                                ({"text": ""}, [], "empty input"),
                                ({"base64": "H4sIAAAA"}, [], "gzip")):
        got = driver.execute_async_script(ANALYSE, data, args, "-")
        check(message in got.get("error", ""), f"analyse rejects {args} {data}: {got.get('error')}")
finally:
    driver.quit()
    shutil.rmtree(scratch, ignore_errors=True)

print(f"{len(failures)} failures" if failures else "page test passed")
sys.exit(1 if failures else 0)
