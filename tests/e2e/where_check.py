#!/usr/bin/env python3
"""Where to look and how to see it, end to end: --in and --not-in held
against a plain reading of the whole search's JSON, --print with and without
a terminal and colour, the lines around hits at the edges of elements, and
the JSON context records read back by Python's parser.

usage: where_check.py REPOSEARCH MAKE_EXPORT
"""
import fnmatch
import json
import os
import pty
import re
import signal
import subprocess
import sys
import tempfile
import time

REPOSEARCH, MAKE_EXPORT = sys.argv[1], sys.argv[2]
FIELDS = ["library", "form", "global", "entry", "menubar", "glyph", "sourcetype", "model", "table", "field"]
failures = []


def check(condition, what):
    if not condition:
        failures.append(what)
        print("FAILED:", what)


def run(args, env=None, cwd=None):
    e = dict(os.environ)
    e.pop("NO_COLOR", None)
    e.update(env or {})
    p = subprocess.run([REPOSEARCH, "-q"] + args, capture_output=True, env=e, cwd=cwd)
    return p.returncode, p.stdout, p.stderr


def records(out):
    return [json.loads(line) for line in out.decode("utf-8").splitlines()]


def text(value):
    return value["text"] if "text" in value else value["bytes"]


# ---- the limits, against a plain reading ----

def value_of(match, field):
    if field == "element":
        return text(match["element"])
    v = match["context"].get(field)
    return text(v) if v is not None else ""


def matches(patterns, value):
    # Names are compared as upper case; a field not set matches nothing.
    return value != "" and any(fnmatch.fnmatchcase(value.upper(), p.upper()) for p in patterns)


def within(match, ins, not_ins):
    def parse(limits):
        by_field = {}
        for given in limits:
            field, pats = given.split("=", 1)
            by_field.setdefault(field, []).extend(pats.split(","))
        return by_field
    i, n = parse(ins), parse(not_ins)
    return all(matches(p, value_of(match, f)) for f, p in i.items()) and \
        not any(matches(p, value_of(match, f)) for f, p in n.items())


def limits_against_a_plain_reading(folder):
    # Two generated exports, and the sample, which sets every field.
    exports = [os.path.join(folder, "a.xml"), os.path.join(folder, "b.xml"), os.path.join(folder, "sample.xml")]
    sample = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "samples", "repository.xml")
    with open(sample, "rb") as f, open(exports[2], "wb") as out:
        out.write(f.read())
    subprocess.run([MAKE_EXPORT, "31", "3000K", exports[0], "real", "awkward"], check=True, capture_output=True)
    subprocess.run([MAKE_EXPORT, "32", "1500K", exports[1], "dense", "awkward"], check=True, capture_output=True)
    searches = [
        (["IF", "CALL", "ZQ_", "CUSTNO", "INVOICE"], False),
        (["ROUTE_CODE", "ACCT_NO"], True),
        ([""], False),  # every data line
    ]
    limits = [
        (["element=UCODE,USOURCE,UPROC*"], []),
        ([], ["element=UDESCR,UCOMMENT"]),
        (["library=*"], []),
        (["form=?*"], ["element=U?ESCR"]),
        (["table=*", "element=U*"], ["form=*X*"]),
        (["element=UCODE", "element=USOURCE"], []),  # a field given twice matches either
        (["glyph=*"], []),  # never set in these exports
        (["model=*"], ["field=*"]),
        (["entry=*", "sourcetype=*"], []),
        (["global=*"], ["menubar=*"]),
        (["library=ORDERS"], []),
        (["menubar=*", "glyph=?*"], []),
        (["field=CUST*,*NO"], ["sourcetype=*"]),
        (["entry=*"], ["library=orders"]),
    ]
    for strings, word in searches:
        base = ["--json", "-j", "2"] + (["-w"] if word else [])
        for s in strings:
            base += ["-e", s]
        status, out, err = run(base + exports)
        check(status in (0, 1), "plain search %r: status %d %r" % (strings, status, err))
        whole = records(out)
        for ins, not_ins in limits:
            args = list(base)
            for given in ins:
                args += ["--in", given]
            for given in not_ins:
                args += ["--not-in", given]
            status, out, err = run(args + exports)
            what = "%r within %r, not %r" % (strings, ins, not_ins)
            check(status in (0, 1), what + ": status %d %r" % (status, err))
            got = records(out)
            for export in exports:
                want = [r for r in whole if r["type"] == "match"]
                # The records of this export: between its begin and end.
                def of(recs):
                    out, inside = [], False
                    for r in recs:
                        if r["type"] == "begin":
                            inside = text(r["data"]["export"]) == export
                        elif inside and r["type"] == "match":
                            out.append(r["data"])
                    return out
                want = [m for m in of(whole) if within(m, ins, not_ins)]
                have = of(got)
                check(have == want, what + ": %d matches in %s, a plain reading gives %d" %
                      (len(have), export, len(want)))
                ends = [r["data"] for r in got if r["type"] == "end"]
                counts = {}
                for m in want:
                    for s in m["strings"]:
                        counts[text(s)] = counts.get(text(s), 0) + 1
                end = ends[exports.index(export)]
                check(all(c["count"] == counts.get(text(c["string"]), 0) for c in end["counts"]),
                      what + ": the counts of %s" % export)
            begins = [r["data"] for r in got if r["type"] == "begin"]
            check(all("limits" in b for b in begins), what + ": begin lists the limits")
    # The log says them.
    status, out, err = run(["--in", "element=UCODE,USOURCE", "--not-in", "form=X*", exports[1], "call"])
    log = open(os.path.join(folder, "b.log"), "rb").read().decode("latin-1")
    check("only where element is UCODE or USOURCE" in log, "the log's header names the limits: " + log[:400])

    # Wildcards stay wildcards opposite a "*" or "?" of a name, "\\" makes
    # one stand for itself, and field names are blind to case.
    with open(os.path.join(folder, "stars.xml"), "w") as f:
        f.write('<TABLE xmlns:UXGROUP="u">\n' + "".join(
            "<OCC>\n<UXGROUP:UFORM>%s</UXGROUP:UFORM>\n<UXGROUP:UCODE>call foo</UXGROUP:UCODE>\n</OCC>\n" % name
            for name in ["A*B", "*X", "AXB", "A,B"]) + "</TABLE>\n")
    for limits, want in [(["--in", "form=*"], ["A*B", "*X", "AXB", "A,B"]), (["--in", "form=A*"], ["A*B", "AXB", "A,B"]),
                         (["--not-in", "form=A*"], ["*X"]), (["--in", "form=A\\*B"], ["A*B"]),
                         (["--in", "Form=\\**,?X?"], ["*X", "AXB"]), (["--in", "FORM=a\\,b"], ["A,B"])]:
        status, out, err = run(["--json"] + limits + ["stars.xml", "call foo"], cwd=folder)
        got = [text(r["data"]["context"]["form"]) for r in records(out) if r["type"] == "match"]
        check(status == 0 and got == want, "%r on forms named with * and ?: %d %r %r" % (limits, status, got, err))
    log = open(os.path.join(folder, "stars.log"), "rb").read().decode("latin-1")
    check("only where form is A\\,B\r\n" in log, "the log gives the patterns as written: " + log[:300])


# ---- the lines around hits, at the edges of elements ----

EDGES = "\n".join([
    '<TABLE xmlns:UXGROUP="urn:repository:uxgroup">',
    "  <OCC>",
    "    <UXGROUP:ULABEL>Customer</UXGROUP:ULABEL>",
    "    <UXGROUP:UCODE>zz on the start line",
    "b2", "b3", "b4 zz", "b5", "b6", "b7", "b8", "b9 zz",
    "b10</UXGROUP:UCODE>",
    "    <UXGROUP:UDESCR>zz one line</UXGROUP:UDESCR>",
    "    <UXGROUP:UCOMMENT>",
    "c1", "c2 zz", "c3 zz", "c4",
    "</UXGROUP:UCOMMENT>",
    "    <UXGROUP:UCODE>",
    "<b>&amp; \x1b[31m\u202e\u009b zz",
    "</UXGROUP:UCODE>",
    "  </OCC>",
    "</TABLE>", ""])


def edges(folder):
    path = os.path.join(folder, "edges.xml")
    with open(path, "w", encoding="utf-8") as f:
        f.write(EDGES)
    place = "Table:Customer  Trigger:"
    status, out, err = run(["--print", "-B", "2", "-A", "2", "edges.xml", "zz"], cwd=folder)
    check(status == 0, "--print: status %d %r" % (status, err))
    check(err.startswith(b"'ZZ' found 7 times"), "--print: the summary goes to standard error: %r" % err)
    want = "\n".join([
        "edges.xml:4:20:" + place + "UCODE(   1) :: zz on the start line",
        "edges.xml-5-b2", "edges.xml-6-b3",
        "edges.xml:7:4:" + place + "UCODE(   4) :: b4 zz",
        "edges.xml-8-b5", "edges.xml-9-b6", "edges.xml-10-b7", "edges.xml-11-b8",
        "edges.xml:12:4:" + place + "UCODE(   9) :: b9 zz",
        "edges.xml-13-b10",
        "edges.xml:14:21:" + place + "UDESCR(   1) :: zz one line",
        "--",
        "edges.xml-16-c1",
        "edges.xml:17:4:" + place + "UCOMMENT(   2) :: c2 zz",
        "edges.xml:18:4:" + place + "UCOMMENT(   3) :: c3 zz",
        "edges.xml-19-c4", "edges.xml-20-",
        "--",
        "edges.xml:22:21:" + place + "UCODE(   1) :: <b>&amp; \x1b[31m\u202e\u009b zz",
        "edges.xml-23-", ""])
    check(out.decode("utf-8") == want, "--print -B 2 -A 2:\n%s\nnot\n%s" % (out.decode("utf-8"), want))
    # Windows that meet are one group; one that does not starts another.
    status, out, err = run(["--print", "-C", "1", "edges.xml", "zz"], cwd=folder)
    lines = out.decode("utf-8").split("\n")
    check(lines[4:8] == ["edges.xml-8-b5", "--", "edges.xml-11-b8", "edges.xml:12:4:" + place + "UCODE(   9) :: b9 zz"],
          "-C 1 groups: %r" % lines[:10])
    # Without -A, -B or -C, hits alone; the log is the same with them or not.
    status, out, err = run(["--print", "edges.xml", "zz"], cwd=folder)
    check(out.count(b"\n") == 7 and b"--" not in out and b"edges.xml-" not in out, "--print alone: %r" % out)
    log = open(os.path.join(folder, "edges.log"), "rb").read()
    run(["--print", "-C", "5", "edges.xml", "zz"], cwd=folder)
    strip = lambda b: re.sub(rb"\w{3} \w{3} [ \d]\d [\d:]{8} \d{4}", b"TIME", b)
    check(strip(open(os.path.join(folder, "edges.log"), "rb").read()) == strip(log), "-C leaves the log as it is")

    # JSON: each context record before or after its match, within reach,
    # of the match's element, read back by Python's parser.
    status, out, err = run(["--json", "-B", "1", "-A", "3", "edges.xml", "zz"], cwd=folder)
    recs = records(out)
    kinds = "".join({"begin": "b", "match": "m", "context": "c", "end": "e"}[r["type"]] for r in recs)
    check(kinds[0] == "b" and kinds[-1] == "e" and kinds.count("m") == 7, "JSON records: " + kinds)
    lines = [(r["data"]["export_line"], r["type"]) for r in recs if r["type"] in ("match", "context")]
    check(lines == sorted(lines) and len(set(l for l, _ in lines)) == len(lines), "in the export's order, once each")
    context = {r["data"]["export_line"]: text(r["data"]["data"]) for r in recs if r["type"] == "context"}
    check(context == {5: "b2", 6: "b3", 8: "b5", 9: "b6", 10: "b7", 11: "b8", 13: "b10", 16: "c1", 19: "c4",
                      20: "", 23: ""}, "JSON context lines: %r" % context)

    # Colour: with a terminal, unless NO_COLOR says no; always when asked;
    # the data's own control bytes never reach the terminal.
    def on_a_terminal(args, env):
        e = dict(os.environ)
        e.pop("NO_COLOR", None)
        e.update(env)
        pid, fd = pty.fork()
        if pid == 0:
            os.chdir(folder)
            os.execve(REPOSEARCH, [REPOSEARCH, "-q"] + args, e)
        got = b""
        while True:
            try:
                chunk = os.read(fd, 65536)
            except OSError:
                break
            if not chunk:
                break
            got += chunk
        os.waitpid(pid, 0)
        return got
    shown = on_a_terminal(["--print", "edges.xml", "zz"], {})
    check(b"\x1b[01;31mzz\x1b[m" in shown and b"\x1b[2medges.xml:4:20:" in shown, "colour on a terminal: %r" % shown[:200])
    check(b"^[[31m" in shown and b"\x1b[31m" not in shown, "control bytes shown, not sent: %r" % shown)
    check(b"M-^[" in shown and b"\xc2\x9b" not in shown, "C1 controls shown, not sent: %r" % shown)
    shown = on_a_terminal(["--print", "edges.xml", "zz"], {"NO_COLOR": "1"})
    check(b"\x1b[" not in shown, "NO_COLOR: %r" % shown[:200])
    status, out, err = run(["--print", "--color=always", "edges.xml", "zz"], cwd=folder)
    check(b"\x1b[01;31mzz\x1b[m" in out, "--color=always into a pipe")
    status, out, err = run(["--print", "--color=never", "edges.xml", "zz"], cwd=folder)
    check(b"\x1b[" not in out.replace(b"\x1b[31m", b""), "--color=never")
    # With colour the data is escaped into a pipe too (less -R shows escapes).
    status, out, err = run(["--print", "--color=always", "edges.xml", "zz"], cwd=folder)
    check(b"^[[31m" in out and b"\x1b[31m" not in out and b"<U+202E>" in out, "--color=always escapes: %r" % out)

    # The controls of text direction show as marks, in the data and in the
    # context, never turning round the line on the terminal.
    bidi = "\u202e\u202c\u2066\u2067\u2068\u2069\u200e\u200f\u061c\u202a"
    with open(os.path.join(folder, "bidi.xml"), "w", encoding="utf-8") as f:
        f.write('<TABLE xmlns:UXGROUP="u">\n<OCC>\n<UXGROUP:UFORM>F%s</UXGROUP:UFORM>\n'
                '<UXGROUP:UCODE>zz %s</UXGROUP:UCODE>\n</OCC>\n</TABLE>\n' % (bidi, bidi))
    marks = "".join("<U+%04X>" % ord(c) for c in bidi).encode()
    shown = on_a_terminal(["--print", "bidi.xml", "zz"], {})
    check(shown.count(marks) == 2 and not any(c.encode() in shown for c in bidi),
          "direction controls on a terminal: %r" % shown)
    # The log and the JSON records on a terminal show the export's text
    # escaped too; JSON with its own escapes, so that it reads the same.
    for args in (["--log", "-", "edges.xml", "zz"], ["--log", "-", "-j", "2", "-e", "zz", "bidi.xml", "edges.xml"]):
        shown = on_a_terminal(args, {})
        check(b"^[[31M" in shown and b"\x1b[31M" not in shown and b"<U+202E>" in shown and b"\xe2\x80\xae" not in shown
              and b"M-^[" in shown and b"\xc2\x9b" not in shown, "%r: the log on a terminal: %r" % (args, shown[-300:]))
    for args in (["--json", "edges.xml", "zz"], ["--json", "-j", "2", "-e", "zz", "bidi.xml", "edges.xml"]):
        shown = on_a_terminal(args, {})
        recs = [json.loads(line) for line in shown.replace(b"\r\n", b"\n").decode().splitlines() if line.startswith("{")]
        data = "".join(text(r["data"]["data"]) for r in recs if r["type"] == "match")
        check(b"\xe2\x80\xae" not in shown and b"\xc2\x9b" not in shown and "\u202e\u009b" in data and (bidi in data or "bidi.xml" not in args),
              "%r: JSON on a terminal: %r" % (args, shown[-300:]))

    # Names of exports reach a terminal escaped: the summary, messages, --print,
    # -c and -l; into a pipe as they are, for the script that reads them.
    evil = "evil\x1b]0;PWN\x07\x1b[31mred"
    os.mkdir(os.path.join(folder, "evil"))
    with open(os.path.join(folder, "evil", evil + ".xml"), "w") as f:
        f.write('<TABLE xmlns:UXGROUP="u">\n<OCC>\n<UXGROUP:UCODE>zz</UXGROUP:UCODE>\n</OCC>\n</TABLE>\n')
    status, out, err = run(["-c", "-e", "zz", "evil"], cwd=folder)
    check(out == ("evil/%s.xml:1\n" % evil).encode(), "-c into a pipe: %r" % out)
    for args in (["-e", "zz", "evil"], ["--print", "-e", "zz", "evil"], ["-e", "zz", "evil", evil + "\u202e.xml"],
                 ["-c", "-e", "zz", "evil"], ["-l", "-e", "zz", "evil"]):
        shown = on_a_terminal(args, {})
        check(b"\x1b]" not in shown and b"\x1b[31m" not in shown and b"\x07" not in shown and b"\xe2\x80\xae" not in shown
              and b"evil^[]0;PWN^G^[[31mred" in shown, "%r: names on a terminal: %r" % (args, shown))

    # Blank lines of an element are no data lines, and do not split a group;
    # an element that closes itself has no column of its own.
    with open(os.path.join(folder, "blank.xml"), "w") as f:
        f.write("<TABLE xmlns:UXGROUP=\"u\">\n<OCC>\n<UXGROUP:UCODE>\nline one\n\nline three zz\n   \n"
                "line five\n</UXGROUP:UCODE>\n<UXGROUP:UFLAG/>\n</OCC>\n</TABLE>\n")
    status, out, err = run(["--print", "-C", "2", "blank.xml", "zz"], cwd=folder)
    check(out.decode() == "blank.xml-4-line one\nblank.xml:6:12:Trigger:UCODE(   2) :: line three zz\n"
          "blank.xml-8-line five\nblank.xml-9-\n", "blank lines: %r" % out)
    # Two elements whose lines number on from one to the other are apart,
    # and so are the hits of one export from those of the next.
    names = ["runon%d.xml" % i for i in range(3)]
    for name in names:
        with open(os.path.join(folder, name), "w") as f:
            f.write("<TABLE xmlns:UXGROUP=\"u\">\n<OCC>\n<UXGROUP:UCODE>\nfirst zz\n</UXGROUP:UCODE>\n"
                    "<UXGROUP:UDESCR>\none\ntwo\nthree\nfour zz\n</UXGROUP:UDESCR>\n</OCC>\n</TABLE>\n")
    each = lambda name: (name + ":4:7:Trigger:UCODE(   1) :: first zz\n" + name + "-5-\n--\n" + name + "-9-three\n" +
                         name + ":10:6:Trigger:UDESCR(   4) :: four zz\n" + name + "-11-\n")
    status, out, err = run(["--print", "-C", "1", "runon0.xml", "zz"], cwd=folder)
    check(out.decode() == each("runon0.xml"), "elements whose lines number on: %r" % out)
    for jobs in ["1", "3"]:
        status, out, err = run(["--print", "-C", "1", "-j", jobs, "-e", "zz"] + names, cwd=folder)
        check(out.decode() == "--\n".join(each(name) for name in names), "-j %s, exports apart: %r" % (jobs, out))
    status, out, err = run(["--print", "-e", "zz"] + names, cwd=folder)
    check(b"--" not in out, "without -C, no groups: %r" % out)

    firsts = [run(["--print", "blank.xml", ""], cwd=folder)[1] for _ in range(2)]
    check(firsts[0] == firsts[1] and b"blank.xml:10:1:Trigger:UFLAG(   1) :: \n" in firsts[0],
          "a self-closing element: %r" % firsts[0])

    # A reader that goes away (| head) stops the run as Ctrl-C does: the
    # logs say where, not a word on standard error, and 141.
    big = os.path.join(folder, "big.xml")
    subprocess.run([MAKE_EXPORT, "41", "20", big, "dense"], check=True, capture_output=True)
    os.mkdir(os.path.join(folder, "bigs"))
    for k in range(3):
        os.link(big, os.path.join(folder, "bigs", "big%d.xml" % k))
    for output in (["--print"], ["--json"]):
        for exports, log in (([big, "if"], "big.log"), (["-j", "2", "-e", "if", "bigs"], "bigs/big0.log")):
            given = ["--log", os.path.join(folder, log)] if log == "big.log" else []
            p = subprocess.Popen([REPOSEARCH, "-q"] + given + output + exports,
                                 stdout=subprocess.PIPE, stderr=subprocess.PIPE, cwd=folder)
            p.stdout.readline()
            p.stdout.close()
            err = p.stderr.read()
            status = p.wait()
            ended = open(os.path.join(folder, log), "rb").read()
            check(status == 141 and err == b"", "%r %r into a closed pipe: %d %r" % (output, exports, status, err))
            check(re.search(rb"\r\nSearch of file '.*big0?.xml' interrupted after \d+ lines at .*\r\n$", ended)
                  is not None, "%r %r into a closed pipe: the log ends %r" % (output, exports, ended[-200:]))

    # A reader that takes nothing for a while when the run is stopped gets
    # whole lines once it reads again, the JSON ending in the end record.
    for output in (["--json"], ["--print"]):
        p = subprocess.Popen([REPOSEARCH, "-q", "--log", os.path.join(folder, "big.log")] + output + [big, "if"],
                             stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        time.sleep(1)
        p.send_signal(signal.SIGTERM)
        time.sleep(2)
        out, err = p.communicate(timeout=30)
        lines = out.split(b"\n")
        check(p.returncode == 143 and len(lines) > 100 and lines[-1] == b"",
              "%r, stalled reader: %d, %d lines, ends %r" % (output, p.returncode, len(lines), out[-100:]))
        if output == ["--json"]:
            recs = [json.loads(line) for line in lines[:-1]]
            check(recs[-1]["type"] == "end" and recs[-1]["data"]["outcome"] == "interrupted",
                  "stalled reader: the last record %r" % recs[-1])
        else:
            check(all(line.startswith(big.encode() + b":") and b" :: " in line for line in lines[:-1]),
                  "stalled reader: lines cut: %r" % [l for l in lines[:-1] if b" :: " not in l][:2])

    # Ctrl-C stops a run whose hits go to a pipe nobody reads: the log ends
    # saying where, and 130 (several exports too: their summary record waits
    # no more than their hits).
    for output in (["--print"], ["--json"], ["--json", "-e", "if", "bigs"]):
        exports = [] if len(output) > 1 else [big, "if"]
        p = subprocess.Popen([REPOSEARCH, "-q", "--log", os.path.join(folder, "big.log")] + output + exports,
                             stdout=subprocess.PIPE, stderr=subprocess.PIPE, cwd=folder)
        time.sleep(1)
        p.send_signal(signal.SIGINT)
        try:
            status = p.wait(timeout=10)
        except subprocess.TimeoutExpired:
            p.kill()
            status = "still running 10 s after Ctrl-C"
        log = open(os.path.join(folder, "big.log"), "rb").read()
        check(status == 130, "%r into a pipe nobody reads, Ctrl-C: %r" % (output, status))
        ending = rb"interrupted after \d+ lines at .*\r\n" + (b"" if exports else rb"(?s:.*)") + b"$"
        check(re.search(ending, log) is not None, "%r into a pipe nobody reads: the log ends %r" % (output, log[-200:]))

    # Bad input: exit 2 and a message that says what is wrong.
    for args, says in [(["--in", "colour=x"], b"names no field"), (["--in", "element="], b"empty pattern"),
                       (["--not-in", "element=A,,B"], b"empty pattern"),
                       (["--in", "form=A\\"], b"lone \\"), (["-C", "-1"], b"number of lines"),
                       (["-A", "100000"], b"number of lines"), (["--color=pink"], b"auto, always or never"),
                       (["--print", "--json"], b"both want standard output"), (["-C", "2"], b"--print, --json or --html")]:
        status, out, err = run(args + ["edges.xml", "zz"], cwd=folder)
        check(status == 2 and says in err, "%r: status %d, %r" % (args, status, err))


with tempfile.TemporaryDirectory() as folder:
    edges(folder)
    limits_against_a_plain_reading(folder)
print("%d failed" % len(failures) if failures else "all passed")
sys.exit(1 if failures else 0)
