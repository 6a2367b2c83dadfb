#!/usr/bin/env python3
"""Writes src/query/regex_unicode_tables.inc, the Unicode tables of the regular-expression engine.

Every table comes from the running Python's own str methods, so the engine agrees with that
Python's `re` on str patterns. Regenerate with the Python the store targets (its Unicode version is
written into the file):

    .venv/bin/python tools/gen_unicode_tables.py           # writes the file
    .venv/bin/python tools/gen_unicode_tables.py --check   # also checks every table against `re`

--check compares each table with what `re` itself matches over all code points (about a minute).
"""

import argparse
import re
import sys
import unicodedata
from pathlib import Path

OUTPUT = Path(__file__).resolve().parent.parent / "src" / "query" / "regex_unicode_tables.inc"
ALL = [chr(c) for c in range(sys.maxunicode + 1)]


def ranges_of(predicate):
    """The code points for which predicate holds, as sorted inclusive (lo, hi) ranges."""
    out = []
    for c in ALL:
        if predicate(c):
            cp = ord(c)
            if out and out[-1][1] == cp - 1:
                out[-1][1] = cp
            else:
                out.append([cp, cp])
    return [tuple(r) for r in out]


def is_word(c):
    return c.isalnum() or c == "_"


def simple_lower(c):
    lower = c.lower()
    if len(lower) == 1:
        return lower
    # Only U+0130 has a lowercase of two characters (i + combining dot); `re` uses the simple
    # mapping, its first character.
    assert c == "\u0130", hex(ord(c))
    return lower[0]


def case_groups():
    """The classes of code points that IGNORECASE treats as one letter, those of two or more.

    A character stands for its simple lowercase; lowercase forms that share an uppercase (i and
    dotless i, s and long s, the Greek symbol variants, the final sigma) are one letter.
    """
    by_upper = {}
    for c in ALL:
        key = simple_lower(c)
        by_upper.setdefault(key.upper(), set()).add(ord(c))
    return sorted(sorted(g) for g in by_upper.values() if len(g) > 1)


def pair_runs(pairs):
    """Packs pairs (a, a + delta) into runs (first, last, delta, step) of evenly spaced pairs."""
    runs = []
    for a, b in sorted(pairs):
        delta = b - a
        if runs:
            first, last, d, step = runs[-1]
            if d == delta and (step == 0 or a - last == step) and a - last in (1, 2):
                runs[-1] = (first, a, d, a - last)
                continue
        runs.append((a, a, delta, 0))
    return [(first, last, delta, step or 1) for first, last, delta, step in runs]


def unpack_runs(runs):
    return [(a, a + delta) for first, last, delta, step in runs
            for a in range(first, last + 1, step)]


def closure(char_set, groups):
    """What IGNORECASE makes of a set of literals and ranges: every case variant joins it."""
    out = set(char_set)
    for g in groups:
        if any(c in char_set for c in g):
            out.update(g)
    return out


def check(tables, groups):
    """Compares every table with what `re` matches over all code points."""
    text = "".join(c for c in ALL if not 0xD800 <= ord(c) <= 0xDFFF)

    def matched(pattern):
        return {ord(c) for c in re.findall(pattern, text)}

    def expand(rs):
        return {c for lo, hi in rs for c in range(lo, hi + 1) if not 0xD800 <= c <= 0xDFFF}

    for name, pattern in [("digit", r"\d"), ("word", r"\w"), ("space", r"\s")]:
        want = expand(tables[name])
        for flags in ("", "(?i)"):
            for p in (pattern, f"[{pattern}]"):
                assert matched(flags + p) == want, (flags, p)
            negated = pattern.swapcase()
            assert matched(flags + negated) == {ord(c) for c in text} - want, (flags, negated)
    group_of = {c: g for g in groups for c in g}
    cased = {ord(c) for c in text if c.lower() != c or c.upper() != c} | set(group_of)
    for cp in sorted(cased):
        want = set(group_of.get(cp, [cp]))
        assert matched("(?i)" + re.escape(chr(cp))) == want, hex(cp)
    for lo, hi in [(0x41, 0x5A), (0x61, 0x7A), (0x100, 0x17F), (0x370, 0x3FF), (0x1E00, 0x1FFF),
                   (0x2100, 0x218F), (0x10400, 0x1044F), (0x60, 0x100)]:
        want = closure(set(range(lo, hi + 1)), groups)
        assert matched(f"(?i)[{re.escape(chr(lo))}-{re.escape(chr(hi))}]") == want, hex(lo)
    print("tables agree with re", file=sys.stderr)


def format_rows(rows):
    """Rows of an initializer, as many to a line as fit in 100 columns."""
    lines = ["   "]
    for row in rows:
        if len(lines[-1]) + 1 + len(row) > 100:
            lines.append("   ")
        lines[-1] += " " + row
    return "\n".join(lines)


def code_ranges(name, comment, rs):
    rows = [f"{{0x{lo:X}, 0x{hi:X}}}," for lo, hi in rs]
    return (f"// {comment}\ninline constexpr CodeRange {name}[] = {{\n"
            f"{format_rows(rows)}\n}};\n")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--check", action="store_true", help="compare the tables with re")
    args = parser.parse_args()

    tables = {
        "digit": ranges_of(str.isdecimal),
        "word": ranges_of(is_word),
        "space": ranges_of(str.isspace),
        "numeric": ranges_of(str.isnumeric),
        "id_start": ranges_of(str.isidentifier),
        "id_continue": ranges_of(lambda c: ("a" + c).isidentifier()),
    }
    groups = case_groups()
    pairs = [tuple(g) for g in groups if len(g) == 2]
    larger = [g for g in groups if len(g) > 2]
    assert max(len(g) for g in larger) <= 4
    runs = pair_runs(pairs)
    assert sorted(unpack_runs(runs)) == sorted(pairs)
    if args.check:
        check(tables, groups)

    parts = [
        "// Generated by tools/gen_unicode_tables.py from Python "
        f"{sys.version.split()[0]} (Unicode {unicodedata.unidata_version}); do not edit.\n"
        "// Regenerate: .venv/bin/python tools/gen_unicode_tables.py --check\n"
        "// Included by src/query/regex_unicode.cc only.\n",
        code_ranges("kDigitRanges", r"\d: str.isdecimal()", tables["digit"]),
        code_ranges("kWordRanges", r"\w: str.isalnum() or '_'", tables["word"]),
        code_ranges("kSpaceRanges", r"\s: str.isspace()", tables["space"]),
        code_ranges("kNumericRanges", "str.isnumeric(), which with the letters and '_' makes \\w",
                    tables["numeric"]),
        code_ranges("kIdStartRanges", "First character of a group name: str.isidentifier()",
                    tables["id_start"]),
        code_ranges("kIdContinueRanges", "Later characters of a group name",
                    tables["id_continue"]),
        "// IGNORECASE classes of two: the pairs {a, a + delta} for a = first, first + step, ...,"
        " last.\ninline constexpr CasePairRun kCasePairRuns[] = {\n"
        + format_rows([f"{{0x{first:X}, 0x{last:X}, {delta}, {step}}},"
                       for first, last, delta, step in runs])
        + "\n};\n",
        "// IGNORECASE classes of three or four (0 pads a class of three).\n"
        "inline constexpr CaseGroup kCaseGroups[] = {\n"
        + format_rows(["{" + ", ".join(f"0x{c:X}" for c in g + [0] * (4 - len(g))) + "},"
                       for g in larger])
        + "\n};\n",
    ]
    OUTPUT.write_text("\n".join(parts), encoding="utf-8")
    print(f"wrote {OUTPUT} ({len(runs)} pair runs, {len(larger)} larger classes)", file=sys.stderr)


if __name__ == "__main__":
    main()
