#!/usr/bin/python3
"""The --html page in a real browser (headless Chromium driven by Selenium):
on random exports its counts per string and per group are those of the run's
JSON records, the filter keeps what holds its text, a string's toggle hides
the hits only it holds; hostile exports show their bytes as text and run no
script of theirs, and their direction controls turn nothing round; long
names wrap; each of many strings has its own look; a run without exports,
or with exports that failed before their search, says so; many exports go in
a table; the page stays under three times the size of the JSON, and past its
limit says how many hits are only in the log. Each hit's view holds the lines
of its element within the reach, as the JSON's records of the same run have
them, and no other; a page of 100,000 hits is drawn within two seconds.

    html_check.py REPOSEARCH [ROUNDS] [SCREENSHOT]
"""
import base64
import json
import os
import random
import subprocess
import sys
import tempfile
import time

from selenium import webdriver
from selenium.webdriver.chrome.options import Options
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.by import By
from selenium.webdriver.common.keys import Keys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "e2e"))
import json_check  # noqa: E402  (the random exports)

COMPONENT = [("library", "Library:"), ("form", "Form:"), ("global", "Global:"), ("entry", "Entry:"),
             ("menubar", "Menubar:"), ("glyph", "Glyph:"), ("sourcetype", "Sourcetype:")]
TABLE = [("model", "Model:"), ("table", "Table:"), ("field", "Field:")]
# The direction controls, as the page marks them.
CONTROLS = {"\u061c": "ALM", "\u200e": "LRM", "\u200f": "RLM", "\u202a": "LRE", "\u202b": "RLE", "\u202c": "PDF",
            "\u202d": "LRO", "\u202e": "RLO", "\u2066": "LRI", "\u2067": "RLI", "\u2068": "FSI", "\u2069": "PDI"}


def raw(value):
    return value["text"].encode("utf-8") if "text" in value else base64.b64decode(value["bytes"])


def utf8_length(b, i):
    """The length of the well-formed UTF-8 character at b[i], or 0."""
    c = b[i]
    if c < 0x80:
        return 1
    if 0xC2 <= c <= 0xDF:
        n, low, high = 2, 0x80, 0xBF
    elif 0xE0 <= c <= 0xEF:
        n, low, high = 3, 0xA0 if c == 0xE0 else 0x80, 0x9F if c == 0xED else 0xBF
    elif 0xF0 <= c <= 0xF4:
        n, low, high = 4, 0x90 if c == 0xF0 else 0x80, 0x8F if c == 0xF4 else 0xBF
    else:
        return 0
    if len(b) - i < n or not low <= b[i + 1] <= high:
        return 0
    if any(b[i + k] & 0xC0 != 0x80 for k in range(2, n)):
        return 0
    return n


def shown(b):
    """A text as the page shows it: carriage returns dropped, a byte that is
    no UTF-8 as U+FFFD, control characters as their pictures, direction
    controls as their marks."""
    b = b.replace(b"\r", b"")
    out, i = [], 0
    while i < len(b):
        n = utf8_length(b, i)
        if n == 0:
            out.append("\ufffd")
            i += 1
        elif n > 1:
            c = b[i:i + n].decode("utf-8")
            out.append(CONTROLS.get(c, c))
            i += n
        else:
            c = b[i]
            out.append(chr(0x2400 + c) if c < 0x20 and c != 9 else "\u2421" if c == 0x7F else chr(c))
            i += 1
    return "".join(out)


def labelled(context, fields):
    return "  ".join(label + shown(raw(context[key])) for key, label in fields if key in context)


class Browser:
    def __init__(self, folder):
        options = Options()
        options.binary_location = "/usr/bin/chromium"
        for arg in ["--headless=new", "--no-sandbox", "--disable-gpu", "--disable-dev-shm-usage",
                    "--disable-background-networking", "--disable-component-update", "--disable-sync",
                    "--no-first-run", "--window-size=1280,1000", "--user-data-dir=" + os.path.join(folder, "profile")]:
            options.add_argument(arg)
        options.set_capability("goog:loggingPrefs", {"browser": "ALL"})
        self.driver = webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)

    def open(self, path):
        d = self.driver
        d.get("file://" + path)
        for _ in range(200):
            if d.execute_script("return document.documentElement.dataset.ready"):
                break
            time.sleep(0.05)
        errors = [e for e in d.get_log("browser") if e["level"] in ("SEVERE", "ERROR")]
        assert not errors, errors
        assert d.execute_script("return document.documentElement.dataset.ready"), "the page did not get ready"

    def run(self, script, *args):
        return self.driver.execute_script(script, *args)

    def close(self):
        self.driver.quit()


def search(binary, folder, export, strings, word, name="report", around=()):
    """The page and the JSON records of one run; `around` (-A, -B, -C) sets
    the reach of both."""
    page = os.path.join(folder, name + ".html")
    log = os.path.join(folder, name + ".log")
    out = subprocess.run([binary, "-q", "--json", "--html", page, "--log", log] + list(around) + word + [export] +
                         strings, stdout=subprocess.PIPE, check=False).stdout
    records = [json.loads(line.decode("utf-8")) for line in out.split(b"\n") if line]
    return page, records, len(out)


def matches_of(records):
    return [r["data"] for r in records if r["type"] == "match"]


def expected_groups(matches):
    """Hits per group [component, table and field, element] and per string."""
    groups = {}
    for m in matches:
        key = (labelled(m["context"], COMPONENT), labelled(m["context"], TABLE), shown(raw(m["element"])))
        entry = groups.setdefault(key, [0, {}])
        entry[0] += 1
        for s in m["strings"]:
            k = m["_index"][raw(s)]
            entry[1][k] = entry[1].get(k, 0) + 1
    return groups


PAGE_GROUPS = """
const out = [];
for (const leaf of document.querySelectorAll('details.level-3')) {
  const labels = [];
  for (let d = leaf; d && d.matches && d.matches('details'); d = d.parentElement.closest('details')) {
    const label = d.querySelector(':scope > summary > .label');
    labels.unshift(label.classList.contains('none') ? '' : label.textContent);
  }
  const s = leaf.querySelector(':scope > summary');
  out.push([labels, Number(s.dataset.count), s.dataset.counts]);
}
return out;
"""

SHOWN_HITS = "return [...document.querySelectorAll('tr.hit td.data')].map(td => td.textContent);"


def check_round(browser, binary, folder, rng, n):
    export = os.path.join(folder, "export%d.xml" % n)
    with open(export, "wb") as f:
        f.write(json_check.random_export(rng))
    given = rng.sample(["custno", "calc", "<>", "x", "gr\xc3\xb6", "caf\xe9", "", "a"], rng.randint(1, 3))
    strings = [s.encode("latin-1") for s in given]
    word = ["-w"] if rng.random() < 0.3 else []
    # The page's reach by default is that of -C 20: its lines around hits
    # against the JSON's context records.
    page, records, json_size = search(binary, folder, export, strings, word, around=["-C", "20"])
    assert os.path.getsize(page) < 3 * json_size + 60000, (os.path.getsize(page), json_size)
    begin, end = records[0]["data"], records[-1]["data"]
    index = {}
    for k, s in enumerate(begin["strings"]):
        index.setdefault(raw(s), k)
    matches = matches_of(records)
    for m in matches:
        m["_index"] = index
    browser.open(page)

    # The chart: each string's count, as the end record has it.
    totals = browser.run("return [...document.querySelectorAll('.chart .total')].map(e => Number(e.dataset.count))")
    assert totals == [c["count"] for c in end["counts"]], (totals, end["counts"])

    # Every group with its hits, once all are open.
    browser.driver.find_element(By.ID, "open-all").click()
    want = expected_groups(matches)
    got = {tuple(labels): (count, counts) for labels, count, counts in browser.run(PAGE_GROUPS)}
    assert set(got) == set(want), (sorted(got), sorted(want))
    for key, (count, per_string) in want.items():
        text = ",".join("%d:%d" % (k, per_string[k]) for k in sorted(per_string))
        assert got[key] == (count, text), (key, got[key], count, text)
    rows = browser.run(SHOWN_HITS)
    assert sorted(rows) == sorted(shown(raw(m["data"])) for m in matches)

    # The filter keeps the hits whose context or data hold its text.
    if matches:
        probe = rng.choice(["custno", "ucode", "calc", "x =", "orders", "\ufffd"])
        field = browser.driver.find_element(By.ID, "filter")
        field.clear()
        field.send_keys(probe)
        time.sleep(0.4)
        browser.driver.find_element(By.ID, "open-all").click()

        def kept(m):
            context = "\n".join(["", labelled(m["context"], COMPONENT), labelled(m["context"], TABLE),
                                 shown(raw(m["element"]))]).lower()
            return probe in context or probe in shown(raw(m["data"])).lower()
        assert sorted(browser.run(SHOWN_HITS)) == sorted(shown(raw(m["data"])) for m in matches if kept(m)), probe
        field.send_keys(Keys.ESCAPE)  # empties the filter
        time.sleep(0.2)
        assert len(browser.run(SHOWN_HITS)) == len(matches)

    # A string's toggle: the hits that hold only that string go.
    if len(begin["strings"]) > 1 and matches:
        browser.driver.find_element(By.CSS_SELECTOR, "input[data-string='0']").click()
        time.sleep(0.2)
        browser.driver.find_element(By.ID, "open-all").click()
        left = [m for m in matches if any(index[raw(s)] != 0 for s in m["strings"])]
        assert sorted(browser.run(SHOWN_HITS)) == sorted(shown(raw(m["data"])) for m in left)
        assert browser.run("return document.querySelectorAll('mark.s0').length") == 0


HOSTILE = [
    b"<TABLE XMLNS:UXGROUP>",
    b"<OCC>",
    b"<UXGROUP:ULABEL></script><img src=x onerror=alert(1)></UXGROUP:ULABEL>",
    b"<UXGROUP:UCODE>",
    b"x = \"</script><script>document.title='owned'</script>\" hit",
    b"<img src=x onerror=\"document.body.dataset.owned=1\"> 'single' & double\" &amp; hit",
    b"caf\xe9 \xff\xfe invalid hit \x01\x02 and a zero\x00 after it",
    b"<!-- comment --> <b>bold</b> hit ]]> \xe2\x80\xa8 line separator",
    b"</UXGROUP:UCODE>",
    b"</OCC>",
    b"</TABLE>",
]


def check_hostile(browser, binary, folder):
    sub = os.path.join(folder, "<b>odd</b> & \"name\"")
    os.makedirs(sub, exist_ok=True)
    export = os.path.join(sub, "hostile.xml")
    with open(export, "wb") as f:
        f.write(b"\r\n".join(HOSTILE) + b"\r\n")
    page, records, _ = search(binary, folder, export, [b"hit", b"<IMG", b"</script"], [], "hostile")
    browser.open(page)
    browser.driver.find_element(By.ID, "open-all").click()
    elements = browser.run("return [...document.querySelectorAll('*')].map(e => e.tagName.toLowerCase())")
    allowed = {"html", "head", "meta", "title", "style", "body", "noscript", "script", "header", "h1", "span",
               "dl", "dt", "dd", "div", "p", "input", "label", "button", "main", "details", "summary", "table",
               "tr", "th", "td", "mark", "bdi"}
    assert set(elements) <= allowed, set(elements) - allowed
    assert elements.count("script") == 3  # the page's script and its two blocks of data
    attributes = browser.run("""return [...document.querySelectorAll('*')].flatMap(e =>
        [...e.attributes].map(a => a.name)).filter(n => n.startsWith('on') || n === 'src' || n === 'href')""")
    assert attributes == [], attributes
    assert browser.run("return document.title") == "reposearch: \u2068" + export + "\u2069"
    assert "owned" not in browser.run("return JSON.stringify(document.body.dataset)")
    matches = matches_of(records)
    assert sorted(browser.run(SHOWN_HITS)) == sorted(shown(raw(m["data"])) for m in matches)
    name = browser.run("return document.querySelector('h1 bdi.name').textContent")
    assert name == export, name


# Lines around hits that must stay text: markup, script ends, direction
# controls, control bytes, bytes that are no UTF-8.
FILLER = [b"retrieve/e \"CUSTOMER\"", b"x = \"</script><script>document.title='owned'</script>\"",
          b"<img src=x onerror=\"document.body.dataset.owned=1\"> &amp; <!-- c -->", b"\xe2\x80\xaeMROF said",
          b"caf\xe9 \xff\xfe\x01\x02\x7f and\x00 zero", b"   endif", b"\tmessage \"%%%\"", b"<b>bold</b> ]]>"]


def view_export(rng):
    """Elements of many lines with blank lines among them and hits here and
    there, and where one element ends near a hit, the next one's lines kept
    for its hits numbered on from it (-C 20: a hit at its 25th line; -B 0: a
    hit at its 5th line). Returns the export and each element's first and
    last export line."""
    out = [b"<TABLE xmlns:UXGROUP>"]
    spans = []

    def element(data):
        first = len(out) + 1
        out.append(b"<UXGROUP:UCODE>")
        out.extend(data)
        out.append(b"</UXGROUP:UCODE>")
        spans.append((first, len(out)))

    for occ in range(rng.randint(3, 5)):
        out.append(b"<OCC>")
        out.append(b"<UXGROUP:ULABEL>F%d</UXGROUP:ULABEL>" % occ)
        for _ in range(rng.randint(1, 3)):
            data = []
            for i in range(rng.randint(1, 50)):
                r = rng.random()
                data.append(b"" if r < 0.08 else b"call zzhit %d" % i if r < 0.2 else rng.choice(FILLER) + b" %d" % i)
            element(data)
        element([b"a", b"call zzhit", b"b"])  # 4 lines, the end tag's one empty
        element([b"filler %d" % i for i in range(24)] + [b"call zzhit far"] + [b"c"] * rng.randint(0, 3))
        element([b"a", b"call zzhit", b"b"])
        element([b"filler %d" % i for i in range(4)] + [b"call zzhit near"])
        out.append(b"</OCC>")
    out.append(b"</TABLE>")
    return b"\r\n".join(out) + b"\r\n", spans


# Opens the view of every hit row on the page: for each, its export line and
# the view's lines as [element line, export line, text, whether a hit,
# whether the hit itself].
OPEN_VIEWS = """
const out = [];
for (const tr of document.querySelectorAll('tr.hit')) {
  tr.querySelector('button.view-toggle').click();
  const view = tr.nextElementSibling;
  out.push([Number(tr.children[2].textContent), [...view.querySelectorAll('tr.line')].map(l =>
    [Number(l.children[0].textContent), Number(l.children[1].textContent), l.children[2].textContent,
     l.classList.contains('is-hit'), l.classList.contains('this')])]);
}
return out;
"""


def check_views(browser, binary, folder, rng):
    """Each hit's view holds its element's lines within the reach (the
    JSON's match and context records of the same run), never a line of
    another element, hostile lines as text; with -C 0 no hit has a view."""
    for n, around in enumerate([[], ["-B", "3", "-A", "5"], ["-B", "0", "-A", "4"], ["-B", "4", "-A", "0"],
                                ["-C", "0"]]):
        export = os.path.join(folder, "views%d.xml" % n)
        content, spans = view_export(rng)
        with open(export, "wb") as f:
            f.write(content)
        json_around = around or ["-C", "20"]  # the page's reach by default
        page, records, json_size = search(binary, folder, export, [b"zzhit"], [], "views%d" % n, json_around)
        assert os.path.getsize(page) < 3 * json_size + 60000, (os.path.getsize(page), json_size)
        before = after = 20
        for flag, value in zip(json_around[::2], json_around[1::2]):
            if flag in ("-B", "-C"):
                before = int(value)
            if flag in ("-A", "-C"):
                after = int(value)
        lines = [r["data"] for r in records if r["type"] in ("match", "context")]
        hits = {r["data"]["export_line"] for r in records if r["type"] == "match"}
        browser.open(page)
        browser.driver.find_element(By.ID, "open-all").click()
        if before == after == 0:
            assert browser.run("return document.querySelectorAll('button.view-toggle').length") == 0
            continue
        views = browser.run(OPEN_VIEWS)
        assert len(views) == len(hits) > 0, (len(views), len(hits))
        for line, view in views:
            first, last = next(span for span in spans if span[0] <= line <= span[1])
            m = next(l for l in lines if l["export_line"] == line)
            want = [[l["element_line"], l["export_line"], shown(raw(l["data"])), l["export_line"] in hits,
                     l["export_line"] == line] for l in sorted(lines, key=lambda l: l["export_line"])
                    if first <= l["export_line"] <= last and
                    m["element_line"] - before <= l["element_line"] <= m["element_line"] + after]
            assert view == want, (around, line, view, want)
        # Hostile lines are text, their hits marked; nothing of theirs ran.
        elements = set(browser.run("return [...document.querySelectorAll('*')].map(e => e.tagName.toLowerCase())"))
        assert elements <= {"html", "head", "meta", "title", "style", "body", "noscript", "script", "header", "h1",
                            "span", "dl", "dt", "dd", "div", "p", "input", "label", "button", "main", "details",
                            "summary", "table", "tr", "th", "td", "mark", "bdi"}, elements
        assert "owned" not in browser.run("return JSON.stringify(document.body.dataset) + document.title")
        assert not any(c in browser.run("return document.body.innerText") for c in CONTROLS), "a control is obeyed"
        assert browser.run("""return [...document.querySelectorAll('tr.line')].every(l =>
            getComputedStyle(l.children[2].querySelector('bdi')).unicodeBidi === 'isolate' &&
            l.classList.contains('is-hit') === (l.querySelector('mark') !== null))""")
        # Folded and opened again, a view is the same.
        toggle = browser.driver.find_element(By.CSS_SELECTOR, "tr.hit button.view-toggle")
        toggle.click()
        assert browser.run("return document.querySelector('tr.view').hidden") is True
        toggle.click()
        assert browser.run("return document.querySelector('tr.view').hidden") is False
        assert browser.run("return document.querySelectorAll('tr.view').length") == len(views)


def check_many(browser, binary, folder, rng):
    """Several exports: grouped by export first, each with its own counts."""
    exports = []
    for k in range(2):
        exports.append(os.path.join(folder, "many%d.xml" % k))
        with open(exports[-1], "wb") as f:
            f.write(json_check.random_export(rng))
    page = os.path.join(folder, "many.html")
    out = subprocess.run([binary, "-q", "--json", "--html", page, "--log", os.path.join(folder, "many.log"),
                          "-e", "custno", "-e", "x"] + exports, stdout=subprocess.PIPE, check=False).stdout
    records = [json.loads(line.decode("utf-8")) for line in out.split(b"\n") if line]
    browser.open(page)
    tops = browser.run("""return [...document.querySelectorAll('details.level-0 > summary')].map(s =>
        [s.querySelector('.label').textContent, Number(s.dataset.count)])""")
    counts = []
    current = None
    for r in records:
        if r["type"] == "begin":
            current = [r["data"]["export"]["text"], 0]
            counts.append(current)
        elif r["type"] == "match":
            current[1] += 1
    assert tops == counts, (tops, counts)
    totals = browser.run("return [...document.querySelectorAll('.chart .total')].map(e => Number(e.dataset.count))")
    assert totals == [c["count"] for c in records[-1]["data"]["counts"]], totals


LEFT_OF = """
// Where the text `needle` starts on screen, in the first text node under root that holds it.
const [root, needle] = arguments;
const walker = document.createTreeWalker(root, NodeFilter.SHOW_TEXT);
for (let n; (n = walker.nextNode());) {
  const i = n.data.indexOf(needle);
  if (i < 0) continue;
  const r = document.createRange();
  r.setStart(n, i);
  r.setEnd(n, i + needle.length);
  return r.getBoundingClientRect().left;
}
return null;
"""


def write_export(path, lines):
    with open(path, "wb") as f:
        f.write(b"\r\n".join(lines) + b"\r\n")


def check_direction(browser, binary, folder):
    """Direction controls in the export turn nothing round: they show as
    marks, and each text from the export stands apart from the page's own."""
    rlo = "\u202e".encode()
    export = os.path.join(folder, "direction.xml")
    write_export(export, [b"<TABLE XMLNS:UFORM>", b"<OCC>", b"<UFORM:ULABEL>" + rlo + b"MROF</UFORM:ULABEL>",
                          b"<UFORM:UCODE>", rlo + b"line zzhit 12 of 34"] +
                 [b"call zzhit %d" % i for i in range(12)] +
                 [b"</UFORM:UCODE>", b"</OCC>", b"</TABLE>"])
    page, records, _ = search(binary, folder, export, [b"zzhit", b"call"], [], "direction")
    browser.open(page)
    browser.driver.find_element(By.ID, "open-all").click()
    assert not any(c in browser.run("return document.body.innerText") for c in CONTROLS), "a control is obeyed"
    assert browser.run("return [...document.querySelectorAll('.ctl')].map(e => e.textContent)") == ["RLO"] * 2
    # The data cell reads from left to right as it stands in the export.
    cell = browser.run("return [...document.querySelectorAll('td.data')].find(td => td.textContent.includes('zzhit 12'))")
    assert browser.run(LEFT_OF, cell, "line") < browser.run(LEFT_OF, cell, "34")
    # The group line: the form's name does not turn the counts after it round.
    summary = browser.run("""return [...document.querySelectorAll('details.level-1 > summary')]
        .find(s => s.querySelector('.label').textContent.includes('MROF'))""")
    assert browser.run(LEFT_OF, summary, "ZZHIT") < browser.run(LEFT_OF, summary, " 13")
    assert browser.run(LEFT_OF, summary, "CALL") < browser.run(LEFT_OF, summary, " 12")
    text = browser.run("return arguments[0].textContent", summary)
    assert text.endswith("ZZHIT 13 \u00b7  CALL 12"), repr(text)
    # Every text from the export or the strings stands in an isolate.
    loose = browser.run("""return [...document.querySelectorAll('.label:not(.none), td.data, .string-name, h1 .name, .chart .text')]
        .filter(e => !(e.tagName === 'BDI' || e.querySelector('bdi'))).length""")
    assert loose == 0, loose
    assert browser.run("return getComputedStyle(document.querySelector('td.data bdi')).unicodeBidi") == "isolate"


def check_long_names(browser, binary, folder):
    """A name of hundreds of letters without a space wraps on the page."""
    export = os.path.join(folder, "long.xml")
    write_export(export, [b"<TABLE XMLNS:UFORM>", b"<OCC>", b"<UFORM:ULABEL>" + b"W" * 390 + b"</UFORM:ULABEL>",
                          b"<UFORM:UCODE>", b"call " + b"Q" * 390, b"</UFORM:UCODE>", b"</OCC>", b"</TABLE>"])
    page, _, _ = search(binary, folder, export, [b"call", b"q" * 200], [], "long")
    browser.open(page)
    browser.driver.find_element(By.ID, "open-all").click()
    wide = browser.run("return [document.documentElement.scrollWidth, document.documentElement.clientWidth]")
    assert wide[0] <= wide[1], wide


def check_looks(browser, binary, folder):
    """Forty strings: each its own look, in the chart, the toggles and the hits."""
    strings = [b"s%02d" % k for k in range(40)]
    export = os.path.join(folder, "looks.xml")
    write_export(export, [b"<TABLE XMLNS:UFORM>", b"<OCC>", b"<UFORM:UCODE>"] + [b"x " + s for s in strings] +
                 [b"</UFORM:UCODE>", b"</OCC>", b"</TABLE>"])
    page, _, _ = search(binary, folder, export, strings, [], "looks")
    browser.open(page)
    browser.driver.find_element(By.ID, "open-all").click()
    look = "e => { const s = getComputedStyle(e); return s.backgroundColor + ' ' + s.backgroundImage; }"
    bars = browser.run("return [...document.querySelectorAll('.chart .bar')].map(%s)" % look)
    swatches = browser.run("return [...document.querySelectorAll('label.toggle .swatch')].map(%s)" % look)
    marks = browser.run("return [...document.querySelectorAll('td.data mark')].map(%s)" % look)
    assert len(bars) == 40 and len(set(bars)) == 40, bars
    assert swatches == bars
    assert marks == bars  # one line a string, in the order given


def check_no_export(browser, binary, folder):
    """A run that searched nothing: the page says so and why."""
    empty = os.path.join(folder, "empty folder")
    os.makedirs(empty, exist_ok=True)
    page = os.path.join(folder, "none.html")
    done = subprocess.run([binary, "-q", "--html", page, "-e", "x", empty], stdout=subprocess.PIPE,
                          stderr=subprocess.PIPE, check=False)
    assert done.returncode == 2, done
    browser.open(page)
    assert browser.run("return document.querySelector('h1').textContent") == "reposearch: no export searched"
    notices = browser.run("return [...document.querySelectorAll('.notice')].map(e => e.textContent)")
    assert notices == ["No export was searched.", "The folder " + empty + " holds no .xml file."], notices
    assert browser.run("return document.querySelector('main p.none').textContent") == "No export was searched."


def check_limits(browser, binary, folder):
    """The limits a run searched within are said on the page, as text."""
    sample = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "samples", "repository.xml")
    page = os.path.join(folder, "limits.html")
    args = ["-q", "--in", "library=ord*", "--not-in", "element=<b>U\u202eX</b>,UDESCR", "-e", "custno", sample]
    done = subprocess.run([binary, "--html", page, "--log", os.path.join(folder, "limits.log")] + args,
                          stdout=subprocess.PIPE, stderr=subprocess.PIPE, check=False)
    assert done.returncode == 0, done
    browser.open(page)
    text = browser.run("return document.body.innerText")
    assert "only where library is ORD*" in text, text[:600]
    assert "only where element is not <B>U" in text, text[:600]
    assert browser.run("return document.querySelectorAll('b, B').length") == 0
    records = subprocess.run([binary, "--json", "--log", os.path.join(folder, "limits-json.log")] + args,
                             stdout=subprocess.PIPE, check=True).stdout.decode()
    matches = sum(1 for line in records.splitlines() if json.loads(line)["type"] == "match")
    assert matches == 2, records
    assert '"limits"' in records.splitlines()[0]


def check_not_searched(browser, binary, folder):
    """An export that fails before its search has its place on the page."""
    sub = os.path.join(folder, "taken")
    os.makedirs(sub, exist_ok=True)
    for name in ["x.log", "x"]:
        write_export(os.path.join(sub, name), [b"<TABLE XMLNS:UFORM>", b"<OCC>", b"<UFORM:UCODE>", b"custno",
                                               b"</UFORM:UCODE>", b"</OCC>", b"</TABLE>"])
    page = os.path.join(folder, "taken.html")
    done = subprocess.run([binary, "-q", "--json", "--html", page, "-e", "custno", os.path.join(sub, "x.log"),
                           os.path.join(sub, "x")], stdout=subprocess.PIPE, stderr=subprocess.PIPE, check=False)
    assert done.returncode == 2
    records = [json.loads(line) for line in done.stdout.split(b"\n") if line]
    assert [r["data"].get("outcome") for r in records if r["type"] == "end"] == ["completed", "log_incomplete"]
    browser.open(page)
    facts = browser.run("""return [...document.querySelectorAll('dl.facts dt')].map(dt =>
        [dt.textContent, dt.nextElementSibling.textContent])""")
    assert ["Searched", "not searched"] in facts, facts
    outcome = [value for name, value in facts if name == "Outcome"]
    assert outcome[0] == "completed", outcome
    assert outcome[1].startswith("failed: no name is left for its log: '" + os.path.join(sub, "x.log") + "' is the export"), outcome


def check_many_table(browser, binary, folder, rng):
    """Past a few exports, one line and a table of them that opens on demand."""
    exports = []
    for k in range(5):
        exports.append(os.path.join(folder, "table%d.xml" % k))
        with open(exports[-1], "wb") as f:
            f.write(json_check.random_export(rng))
    page = os.path.join(folder, "table.html")
    out = subprocess.run([binary, "-q", "--json", "--html", page, "--log", os.path.join(folder, "table.log"),
                          "-e", "custno", "-e", "x"] + exports, stdout=subprocess.PIPE, check=False).stdout
    hits = {}
    current = None
    for r in (json.loads(line) for line in out.split(b"\n") if line):
        if r["type"] == "begin":
            current = r["data"]["export"]["text"]
            hits[current] = 0
        elif r["type"] == "match":
            hits[current] += 1
    browser.open(page)
    assert browser.run("return [...document.querySelectorAll('dl.facts dt')].filter(dt => dt.textContent === 'Export').length") == 0
    assert browser.run("return document.querySelector('details.exports').open") is False
    assert browser.run("return document.querySelector('details.exports > summary').textContent") == \
        "5 exports: 5 completed, 0 failed"
    browser.driver.find_element(By.CSS_SELECTOR, "details.exports > summary").click()
    # The table is built on the toggle event, which the browser fires after the click returns.
    for _ in range(50):
        rows = browser.run("""return [...document.querySelectorAll('table.exports tr.export')].map(tr =>
            [...tr.children].map(td => td.textContent))""")
        if rows:
            break
        time.sleep(0.1)
    assert [r[1] for r in rows] == exports, rows
    assert [r[0] for r in rows] == ["1", "2", "3", "4", "5"]
    assert [r[4] for r in rows] == ["completed"] * 5
    assert [int(r[5].replace(",", "")) for r in rows] == [hits[e] for e in exports], (rows, hits)


def check_limit(browser, binary, folder):
    """Past the page's limit the page says how many hits are only in the log."""
    export = os.path.join(folder, "big.xml")
    with open(export, "wb") as f:
        f.write(b"<TABLE XMLNS:UFORM>\r\n<OCC>\r\n<UFORM:UCODE>\r\n" + b"call x\r\n" * 200010 +
                b"</UFORM:UCODE>\r\n</OCC>\r\n</TABLE>\r\n")
    page, records, json_size = search(binary, folder, export, [b"call"], [], "big")
    assert os.path.getsize(page) < json_size
    browser.open(page)
    notice = browser.run("return document.querySelector('.notice.omitted').textContent")
    assert notice == "This page holds 200,000 hits; 10 more are only in the log.", notice
    assert browser.run("return document.querySelector('.chart .total').dataset.count") == "200010"


def check_load(browser, binary, folder):
    """A page of 100,000 hits with their lines around them: at most three
    times the size of the JSON records of the same reach (-C 20), drawn
    within two seconds (the views are made only when opened), and a view
    opens at once."""
    export = os.path.join(folder, "load.xml")
    with open(export, "wb") as f:
        f.write(b"<TABLE xmlns:UXGROUP>\r\n")
        for occ in range(50000):
            f.write(b"<OCC>\r\n<UXGROUP:ULABEL>F%d</UXGROUP:ULABEL>\r\n<UXGROUP:UCODE>\r\n" % (occ // 40) +
                    b"trigger read\r\n   call zzhit(custno)\r\n   if ($status < 0)\r\n      message \"%d\"\r\n"
                    b"   endif\r\n   zzhit = x\r\nend ; read\r\n</UXGROUP:UCODE>\r\n</OCC>\r\n" % occ)
        f.write(b"</TABLE>\r\n")
    json_path = os.path.join(folder, "load.jsonl")
    with open(json_path, "wb") as out:
        subprocess.run([binary, "-q", "--json", "-C", "20", "--log", os.path.join(folder, "load.log"), export, "zzhit"],
                       stdout=out, check=False)
    page = os.path.join(folder, "load.html")
    subprocess.run([binary, "-q", "--html", page, "--log", os.path.join(folder, "load.log"), export, "zzhit"],
                   stdout=subprocess.DEVNULL, check=False)
    page_size, json_size = os.path.getsize(page), os.path.getsize(json_path)
    assert page_size <= 3 * json_size, (page_size, json_size)
    times = []
    for _ in range(2):  # the better of two: the machine is shared
        browser.driver.get("about:blank")
        browser.open(page)
        times.append(int(browser.run("return document.documentElement.dataset.ready")))
    assert browser.run("return document.querySelectorAll('tr.view, tr.line').length") == 0
    assert browser.run("return document.querySelector('.status').textContent") == "Showing 100,000 of 100,000 hits"
    assert min(times) < 2000, times
    opened = browser.run("""
        for (let i = 0; i < 3; ++i) { const d = document.querySelector('details:not([open])'); d.build(); d.open = true; }
        const t = performance.now();
        document.querySelector('button.view-toggle').click();
        return [performance.now() - t, document.querySelector('tr.view').textContent];""")
    # Element line, export line, text: the whole element of the first hit.
    assert opened[1] == "15trigger read26   call zzhit(custno)37   if ($status < 0)48      message \"0\"59   endif" \
                        "610   zzhit = x711end ; read812", opened[1]
    print("page of 100,000 hits: %.1f MB, %.2f times the JSON's %.1f MB (-C 20); drawn after %d ms, "
          "first view opened in %d ms" % (page_size / 2**20, page_size / json_size, json_size / 2**20, min(times),
                                          opened[0]))


def main():
    binary = sys.argv[1]
    rounds = int(sys.argv[2]) if len(sys.argv) > 2 else 20
    screenshot = sys.argv[3] if len(sys.argv) > 3 else None
    rng = random.Random(4321)
    with tempfile.TemporaryDirectory() as folder:
        browser = Browser(folder)
        try:
            check_hostile(browser, binary, folder)
            check_direction(browser, binary, folder)
            check_long_names(browser, binary, folder)
            check_looks(browser, binary, folder)
            check_no_export(browser, binary, folder)
            check_limits(browser, binary, folder)
            check_not_searched(browser, binary, folder)
            check_many_table(browser, binary, folder, rng)
            check_limit(browser, binary, folder)
            check_many(browser, binary, folder, rng)
            check_views(browser, binary, folder, rng)
            check_load(browser, binary, folder)
            for n in range(rounds):
                check_round(browser, binary, folder, rng, n)
            if screenshot:
                browser.driver.save_screenshot(screenshot)
        finally:
            browser.close()
    print("%d passed, 0 failed" % (rounds + 12))


if __name__ == "__main__":
    main()
