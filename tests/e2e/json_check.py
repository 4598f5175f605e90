#!/usr/bin/env python3
"""--json against the log on random exports: every match record stands for
exactly one log line (same element, element line, context and data), its
export_line and byte_offset point at that line, the counts are the summary's,
and the log is byte for byte the same with and without --json. Then a run
over two exports at once: each export's records and log are those of a run
of that export alone, and the summary record adds up their counts. And -c
and -l against a plain count over the JSON of several exports.

    json_check.py REPOSEARCH [ROUNDS]
"""
import base64
import json
import os
import random
import re
import subprocess
import sys
import tempfile

TABLES = {
    "UXGROUP": ["ULABEL", "UBASE", "UFORM", "UCODE", "UDESCR"],
    "USOURCE": ["USUB", "UVAR", "ULABEL", "USOURCE"],
    "UXFIELD": ["ULABEL", "GRP", "UBASE", "UCODE"],
    "UGLYPH": ["UCLABEL", "UCVAR", "UDATA"],
}
WORDS = ["custno", "pcustno", "custno_old", "calc", "x", "=", "(", ")", "<", "<>", "if", "\t",
         "gr\xc3\xb6\xc3\x9fe", "caf\xe9", "\xff\xfe", "a\rb", "invoice_total", "", "  "]
LABELS = [("library", "Library"), ("form", "Form"), ("global", "Global"), ("entry", "Entry"),
          ("menubar", "Menubar"), ("glyph", "Glyph"), ("sourcetype", "Sourcetype"),
          ("model", "Model"), ("table", "Table"), ("field", "Field")]
STAMP = re.compile(rb"[A-Z][a-z]{2} [A-Z][a-z]{2} [ 0-9]\d \d\d:\d\d:\d\d \d{4}")


def text(value):
    return value["text"].encode("utf-8") if "text" in value else base64.b64decode(value["bytes"])


def random_export(rng):
    def data():
        return " ".join(rng.choice(WORDS) for _ in range(rng.randint(0, 6)))
    lines = []
    for _ in range(rng.randint(1, 4)):
        table = rng.choice(list(TABLES))
        lines.append("<TABLE xmlns:%s>" % table)
        for _ in range(rng.randint(1, 5)):
            lines.append("<OCC>")
            for _ in range(rng.randint(1, 6)):
                element = rng.choice(TABLES[table])
                if rng.random() < 0.5:
                    lines.append("<%s:%s>%s</%s:%s>" % (table, element, data(), table, element))
                else:
                    lines.append("<%s:%s>%s" % (table, element, data()))
                    lines.extend(data() for _ in range(rng.randint(0, 5)))
                    lines.append("%s</%s:%s>" % (data(), table, element))
            lines.append("</OCC>")
        lines.append("</TABLE>")
    ends = [rng.choice(["\r\n", "\n"]) for _ in lines]
    return "".join(l + e for l, e in zip(lines, ends)).encode("latin-1")


def upper(data):
    """As the log writes export text: a to z upper-cased."""
    return bytes(b - 32 if 97 <= b <= 122 else b for b in data)


def log_line(match):
    """The log's line for a match record: the JSON has the text as it stands."""
    line = b""
    for key, label in LABELS:
        if key in match["context"]:
            line += label.encode() + b":" + upper(text(match["context"][key])) + b"  "
    element = upper(text(match["element"]))
    if element:
        line += b"Trigger:" + element + b"(%4d) " % match["element_line"]
    return line + b":: '" + upper(text(match["data"])) + b"'"


def check(binary, folder, rng, round_number):
    export = os.path.join(folder, "export%d.xml" % round_number)
    with open(export, "wb") as f:
        f.write(random_export(rng))
    strings = rng.sample(["custno", "calc", "<>", "x", "gr\xc3\xb6", "caf\xe9", "", "NONE", "a"],
                         rng.randint(1, 4))
    args = [s.encode("latin-1") for s in strings]
    word = ["-w"] if rng.random() < 0.3 else []
    plain_log, json_log = os.path.join(folder, "plain.log"), os.path.join(folder, "json.log")
    subprocess.run([binary, "-q", "--log", plain_log] + word + [export] + args, check=False,
                   stdout=subprocess.DEVNULL)
    out = subprocess.run([binary, "-q", "--json", "--log", json_log] + word + [export] + args,
                         stdout=subprocess.PIPE, check=False).stdout
    with open(plain_log, "rb") as f:
        plain = f.read()
    with open(json_log, "rb") as f:
        logged = f.read()
    assert STAMP.sub(b"T", plain) == STAMP.sub(b"T", logged), "the log differs with --json"

    records = [json.loads(line.decode("utf-8")) for line in out.split(b"\n") if line]
    assert records[0]["type"] == "begin" and records[-1]["type"] == "end"
    matches = [r["data"] for r in records[1:-1]]
    assert all(r["type"] == "match" for r in records[1:-1])
    body = logged.split(b"looking for:\r\n", 1)[1]
    body = body.split(b"\r\n", len(strings) + 1)[-1]  # past the strings and the empty line
    match_lines = body[:body.rfind(b"\r\nEnding search of file")].split(b"\r\n")
    match_lines = [l for l in match_lines if l]
    assert len(match_lines) == len(matches), (len(match_lines), len(matches))
    with open(export, "rb") as f:
        exported = f.read()
    starts = [0] + [i + 1 for i, b in enumerate(exported) if b == 10]
    for line, match in zip(match_lines, matches):
        assert log_line(match) == line, (log_line(match), line)
        assert starts[match["export_line"] - 1] == match["byte_offset"]
        assert match["strings"], match
        # The data as it stands, a piece of the export's own line.
        own = exported[match["byte_offset"]:].split(b"\n", 1)[0].replace(b"\r", b"")
        assert text(match["data"]).replace(b"\r", b"") in own, (match, own)
    end = records[-1]["data"]
    assert end["outcome"] == "completed"
    assert end["lines"] == exported.count(b"\n") + (0 if exported.endswith(b"\n") else 1)
    summary = logged.split(b"Result Summary:\r\n")[1]
    counted = b"".join(b"'%s' found %d times\r\n" % (text(c["string"]), c["count"]) for c in end["counts"])
    assert summary == counted, (summary, counted)


def check_many(binary, folder, rng, round_number):
    exports = []
    for k in range(2):
        path = os.path.join(folder, "many%d-%d.xml" % (round_number, k))
        with open(path, "wb") as f:
            f.write(random_export(rng))
        exports.append(path)
    strings = [s.encode("latin-1") for s in rng.sample(["custno", "calc", "x", "caf\xe9", "", "a"], 2)]
    word = ["-w"] if rng.random() < 0.3 else []
    given = sum((["-e", s] for s in strings), [])
    alone, logs = [], []
    for k, export in enumerate(exports):
        log = os.path.join(folder, "alone%d.log" % k)
        out = subprocess.run([binary, "-q", "--json", "--log", log] + word + given + [export],
                             stdout=subprocess.PIPE, check=False).stdout
        alone.append(out)
        with open(log, "rb") as f:
            logs.append(f.read())
    both_log = os.path.join(folder, "both.log")
    run = subprocess.run([binary, "-q", "-j", "2", "--json", "--log", both_log] + word + given + exports,
                         stdout=subprocess.PIPE, check=False)
    records = run.stdout.split(b"\n")
    summary = json.loads(records[-2].decode("utf-8"))
    assert b"".join(alone) == b"\n".join(records[:-2]) + b"\n", "the records differ from those of single runs"
    assert summary["type"] == "summary" and summary["data"]["completed"] == 2, summary
    ends = [json.loads(out.split(b"\n")[-2].decode("utf-8"))["data"]["counts"] for out in alone]
    assert [c["count"] for c in summary["data"]["counts"]] == [a["count"] + b["count"] for a, b in zip(*ends)]
    with open(both_log, "rb") as f:
        both = f.read()
    expected = b"".join(logs).replace(b"alone0.log", b"both.log").replace(b"alone1.log", b"both.log")
    assert STAMP.sub(b"T", both) == STAMP.sub(b"T", expected), "the one log differs from the logs of single runs"


def check_counts(binary, folder, rng, round_number):
    """-c and -l against a plain count over the JSON of the same run: a folder
    of exports (one without hits, one named with ':' and a tab, one whose log
    cannot be made) and an export that is missing."""
    top = os.path.join(folder, "counts%d" % round_number)
    os.makedirs(os.path.join(top, "sub"))
    names = ["a.xml", "sub/b:c\td.xml", "e.xml"]
    for name in names:
        with open(os.path.join(top, name), "wb") as f:
            f.write(random_export(rng))
    with open(os.path.join(top, "none.xml"), "wb") as f:
        f.write(b"<TABLE xmlns:UXGROUP>\n<OCC>\n<UXGROUP:UCODE>nothing here</UXGROUP:UCODE>\n</OCC>\n</TABLE>\n")
    with open(os.path.join(top, "failed.xml"), "wb") as f:
        f.write(random_export(rng))
    os.mkdir(os.path.join(top, "failed.log"))
    strings = rng.sample(["custno", "calc", "x", "=", "\t", "caf\xe9", "", "a"], rng.randint(1, 3))
    args = sum((["-e", s.encode("latin-1")] for s in strings), []) + [top, os.path.join(folder, "missing.xml")]
    run = subprocess.run([binary, "-q", "--json"] + args, stdout=subprocess.PIPE, stderr=subprocess.PIPE, check=False)
    assert run.returncode == 2, run.stderr
    counted, listed, export, matches = [], [], None, 0
    for record in (json.loads(line) for line in run.stdout.decode("utf-8").splitlines()):
        if record["type"] == "begin":
            export, matches = text(record["data"]["export"]), 0
        elif record["type"] == "match":
            matches += 1
        elif record["type"] == "end" and record["data"]["outcome"] == "completed":
            each = [c["count"] for c in record["data"]["counts"]] if len(strings) > 1 else []
            counted.append(b"\t".join([export + b":%d" % matches] + [b"%d" % n for n in each]))
            if matches:
                listed.append(export)
    assert len(counted) == 4 and (b"none.xml" in b"".join(listed)) == ("" in strings), counted
    for option, expected in (("-c", counted), ("--files-with-matches", listed), ("-lc", listed)):
        got = subprocess.run([binary, "-q", option] + args, stdout=subprocess.PIPE, stderr=subprocess.PIPE, check=False)
        assert (got.returncode, got.stdout) == (2, b"".join(l + b"\n" for l in expected)), (option, got.stdout, expected)
        assert got.stderr.count(b"\n") == 2 and b"failed.log" in got.stderr and b"missing.xml" in got.stderr, got.stderr
    # A script's reading: the name up to the last ':', the counts after it.
    for line in counted:
        name, _, numbers = line.rpartition(b":")
        assert os.path.exists(name) and len(numbers.split(b"\t")) == (len(strings) + 1 if len(strings) > 1 else 1)


def main():
    binary = sys.argv[1]
    rounds = int(sys.argv[2]) if len(sys.argv) > 2 else 200
    rng = random.Random(1234)
    with tempfile.TemporaryDirectory() as folder:
        for i in range(rounds):
            check(binary, folder, rng, i)
            if i % 5 == 0:
                check_many(binary, folder, rng, i)
            if i % 10 == 0:
                check_counts(binary, folder, rng, i)
    print("%d passed, 0 failed" % rounds)


if __name__ == "__main__":
    main()
