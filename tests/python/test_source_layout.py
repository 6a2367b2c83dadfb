"""Rules of the source tree that review alone would let slip."""
import pathlib
import re

SRC = pathlib.Path(__file__).resolve().parents[2] / "src"

# The fixed texts that callers match, each spelled out in exactly one file.
COMPAT_TEXTS = [
    "called `Result::unwrap()` on an `Err` value: ",
    "called `Option::unwrap()` on a `None` value",
    "PyErr { type: ",
    "Os { code: ",
    " (os error ",
    "file name contained an unexpected NUL byte",
    "failed to write whole buffer",
]


def sources(*layers):
    return [p for layer in layers for p in sorted((SRC / layer).rglob("*")) if p.suffix in (".h", ".cc")]


def test_each_compat_text_has_one_home():
    for text in COMPAT_TEXTS:
        homes = {p.relative_to(SRC).as_posix() for p in sources("") if text in p.read_text()}
        assert homes and homes <= {"base/compat_texts.h", "base/compat_texts.cc"}, (text, homes)


def test_the_core_knows_nothing_of_python():
    for path in sources("base", "value", "query", "lib"):
        assert not re.search(r"\bPy[A-Za-z]*_[A-Za-z]|\bPyObject\b|<Python\.h>", path.read_text()), path


def test_dependencies_run_one_way():
    # binding -> convert -> python, lib -> query -> value -> base: no layer includes one above it.
    above = {"base": ["binding", "convert", "python", "lib", "query", "value"], "convert": ["binding"], "python": ["binding", "convert"], "lib": ["binding", "convert", "python"],
             "query": ["binding", "convert", "python", "lib"], "value": ["binding", "convert", "python", "lib", "query"]}
    for layer, forbidden in above.items():
        for path in sources(layer):
            for included in re.findall(r'#include "(\w+)/', path.read_text()):
                assert included not in forbidden, (path, included)
