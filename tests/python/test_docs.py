"""Every ```python block of the README and docs/ prints exactly the ```text block that follows it
(nothing, when none follows), and every example in examples/ runs cleanly. Each runs in a fresh
interpreter in an empty directory, unbuffered, so prints and the trace lines that update writes to
file descriptor 1 come out in the order they happen."""
import pathlib
import re
import subprocess
import sys

import pytest

ROOT = pathlib.Path(__file__).resolve().parents[2]
DOCS = ["README.md", "docs/query-language.md", "docs/file-format.md", "docs/performance.md"]
BLOCK = re.compile(r"^```python\n(.*?)^```\n(?:\n*^```text\n(.*?)^```\n)?", re.M | re.S)


def blocks():
    for doc in DOCS:
        text = (ROOT / doc).read_text()
        for match in BLOCK.finditer(text):
            line = text.count("\n", 0, match.start()) + 1
            yield pytest.param(match[1], match[2] or "", id=f"{doc}:{line}")


def run(args, cwd):
    return subprocess.run([sys.executable, "-u", *args], cwd=cwd, capture_output=True, text=True, timeout=120)


def test_every_doc_has_examples():
    counts = {doc: len(BLOCK.findall((ROOT / doc).read_text())) for doc in DOCS}
    assert all(counts.values()), counts


@pytest.mark.parametrize("code, expected", list(blocks()))
def test_doc_example_prints_what_the_doc_shows(tmp_path, code, expected):
    done = run(["-c", code], tmp_path)
    # PanicException examples also leave a diagnostic on standard error; only a traceback is wrong.
    assert done.returncode == 0 and "Traceback" not in done.stderr, done.stderr
    assert done.stdout == expected


@pytest.mark.parametrize("example", sorted((ROOT / "examples").glob("*.py")), ids=lambda p: p.name)
def test_example_runs_and_cleans_up(tmp_path, example):
    done = run([str(example)], tmp_path)
    assert done.returncode == 0 and done.stderr == "", done.stderr
    assert done.stdout.strip()
    assert list(tmp_path.iterdir()) == []
