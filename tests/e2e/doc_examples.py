#!/usr/bin/env python3
"""The examples of the README and the guide run as they are shown.

    doc_examples.py REPOSEARCH SOURCE_DIR FILE.md...

Every ```console block of each file is a transcript: a line that starts with
"$ " is a command (lines that start with "> " go on with it, as the shell
prompts for them), and the lines after it, up to the next command or the end
of the block, are what it writes: standard output and standard error
together, as a terminal shows them. Blocks of any other kind are not run.

Each block runs on its own, in a new temporary folder that holds a copy of
the sample exports (samples/*.xml), as if from the top of the sources, with
`reposearch` standing for REPOSEARCH; its commands run one after another with
bash, so that a file one writes is there for the next. Nothing is written
into the sources. Before the output is compared:
  - a time as the log writes it ("Wed Dec  9 20:32:37 2026") equals any other;
  - CR LF is LF (the log's line ends);
  - a line "..." in the shown output stands for any number of lines.
"""
import difflib
import glob
import os
import re
import shutil
import subprocess
import sys
import tempfile

TIME = re.compile(r"\b(?:Mon|Tue|Wed|Thu|Fri|Sat|Sun) (?:Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec) "
                  r"[ \d]\d \d\d:\d\d:\d\d \d{4}\b")
TIME_MARK = "\x00TIME\x00"


def console_blocks(path):
    """Each console block of `path`: its commands as (line, command, shown output)."""
    blocks = []
    lines = open(path, encoding="utf-8").read().split("\n")
    i = 0
    while i < len(lines):
        if lines[i].strip() != "```console":
            i += 1
            continue
        block, current = [], None
        i += 1
        while i < len(lines) and lines[i].strip() != "```":
            line = lines[i]
            if line.startswith("$ "):
                current = (i + 1, [line[2:]], [])
                block.append(current)
            elif current is None:
                sys.exit("%s:%d: a console block begins with a command ($ ...)" % (path, i + 1))
            elif (line.startswith("> ") or line == ">") and not current[2]:
                current[1].append(line[2:])
            else:
                current[2].append(line)
            i += 1
        if i == len(lines):
            sys.exit("%s: a console block is not closed" % path)
        blocks.append([(n, "\n".join(command), shown) for n, command, shown in block])
        i += 1
    return blocks


def normal(text):
    return TIME.sub(TIME_MARK, text.replace("\r\n", "\n"))


def matches(shown, output):
    """Whether the output is what the lines shown say, "..." standing for any lines."""
    pattern = "".join(r"(?:[^\n]*\n)*?" if line == "..." else re.escape(normal(line)) + r"\n" for line in shown)
    return re.fullmatch(pattern, output, re.DOTALL) is not None


def main():
    if len(sys.argv) < 4:
        sys.exit(__doc__)
    binary = os.path.abspath(sys.argv[1])
    source = os.path.abspath(sys.argv[2])
    bin_dir = tempfile.mkdtemp(prefix="doc-examples-bin-")
    os.symlink(binary, os.path.join(bin_dir, "reposearch"))
    env = dict(os.environ, PATH=bin_dir + os.pathsep + os.environ.get("PATH", ""))
    env.pop("NO_COLOR", None)
    passed = failed = 0
    try:
        for path in sys.argv[3:]:
            for block in console_blocks(path):
                work = tempfile.mkdtemp(prefix="doc-examples-")
                try:
                    os.mkdir(os.path.join(work, "samples"))
                    for export in glob.glob(os.path.join(source, "samples", "*.xml")):
                        shutil.copy(export, os.path.join(work, "samples"))
                    for line, command, shown in block:
                        run = subprocess.run(["bash", "-c", command], cwd=work, env=env, stdin=subprocess.DEVNULL,
                                             stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=60)
                        output = normal(run.stdout.decode("utf-8", "replace"))
                        if output and not output.endswith("\n"):
                            output += "\n"
                        if matches(shown, output):
                            passed += 1
                            continue
                        failed += 1
                        print("%s:%d: $ %s" % (os.path.relpath(path, source), line, command))
                        print("exit status %d; shown (-), written (+):" % run.returncode)
                        shown_text = [normal(s) for s in shown]
                        for diff in difflib.unified_diff(shown_text, output.split("\n")[:-1], lineterm="", n=2):
                            print("  " + diff.replace(TIME_MARK, "<time>"))
                finally:
                    shutil.rmtree(work)
    finally:
        shutil.rmtree(bin_dir)
    if passed + failed == 0:
        sys.exit("no console block found")
    print("%d passed, %d failed" % (passed, failed))
    sys.exit(1 if failed else 0)


if __name__ == "__main__":
    main()
