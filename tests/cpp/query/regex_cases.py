#!/usr/bin/env python3
"""Writes the cases of the regex differential test: random patterns and texts with Python's verdict.

Each line of the output is a JSON array [pattern, options, text, verdict]: options are letters of
"imsx" (the $options of a query), verdict is "match" or "no match" for re.search, or "error" when
re.compile refuses the pattern. The patterns come from a grammar that covers every construct the
engine supports, plus mutations that break them; the texts mix ASCII with the non-ASCII letters
that case folding treats specially. A fixed seed keeps the file the same from build to build.

    python tests/cpp/query/regex_cases.py OUTPUT [--count N]
"""

import argparse
import json
import random
import re
import sys
import warnings

SEED = 20261208
# Letters, digits and spaces of both kinds, with the case-folding specials: long s, the Kelvin
# sign, dotted and dotless i, the three sigmas, sharp s, the Angstrom sign.
ALPHABET = list("abcksABKS019_ -.\n\t") + list("éÉſ\u212aİıσςΣßẞ\u212b٣\u00a0²")
TEXT_WEIGHTS = [6 if c.isascii() else 1 for c in ALPHABET]
# Constructs the engine refuses although Python accepts them; a mutation may make one.
UNSUPPORTED = re.compile(r"\\[1-9]|\(\?P=|\(\?\(|\(\?>|[*+?}]\+|\\N|\(\?[a-zA-Z-]*t")


def literal(rng):
    c = rng.choice(ALPHABET + ["é", "K"])
    if c in ".^$*+?{}[]()|\\":
        return "\\" + c
    if c == "\n":
        return rng.choice(["\\n", "\n"])
    if c == "\t":
        return "\\t"
    return rng.choice([c] * 4 + [code_escape(rng, c)])


def code_escape(rng, c):
    cp = ord(c)
    if cp < 0x100:
        return rng.choice(["\\x%02x" % cp, "\\u%04x" % cp, "\\U%08x" % cp, "\\%03o" % cp])
    return "\\u%04x" % cp


def class_item(rng):
    kind = rng.randrange(6)
    if kind == 0:
        return rng.choice(["\\d", "\\D", "\\w", "\\W", "\\s", "\\S"])
    if kind == 1:
        lo, hi = sorted(rng.sample(["a", "c", "k", "z", "A", "K", "S", "Z", "0", "9", "é", "ſ", "σ"], 2))
        return f"{lo}-{hi}"
    if kind == 2:
        return rng.choice(["\\-", "\\]", "\\\\", "\\n", "\\t", "\\x41", "\\u00e9", "\\b", "\\0", "-", "^", "."])
    c = rng.choice(ALPHABET)
    return {"\\": "\\\\", "]": "\\]", "\n": "\\n", "^": "\\^"}.get(c, c)


def char_class(rng):
    items = "".join(class_item(rng) for _ in range(rng.randint(1, 3)))
    return "[" + ("^" if rng.random() < 0.3 else "") + items + "]"


def quantifier(rng):
    q = rng.choice(["*", "+", "?", "{2}", "{1,}", "{,2}", "{0,1}", "{1,3}", "{0}", "{2,2}"])
    return q + ("?" if rng.random() < 0.25 else "")


def atom(rng, depth):
    r = rng.random()
    if depth > 3 or r < 0.45:
        return literal(rng)
    if r < 0.52:
        return "."
    if r < 0.62:
        return char_class(rng)
    if r < 0.68:
        return rng.choice(["\\d", "\\D", "\\w", "\\W", "\\s", "\\S"])
    if r < 0.74:
        return rng.choice(["^", "$", "\\A", "\\Z", "\\b", "\\B"])
    body = alternation(rng, depth + 1)
    opener = rng.choice(["(", "(?:", "(?P<g%d>" % rng.randrange(1000), "(?=", "(?!", "(?<=", "(?<!",
                         "(?i:", "(?-i:", "(?s:", "(?m:", "(?x:", "(?a:", "(?ms:", "(?i-s:"])
    if r < 0.77:
        return "(?#" + rng.choice(["", "note", "a b"]) + ")"
    return opener + body + ")"


def sequence(rng, depth):
    parts = []
    for _ in range(rng.randint(1, 4)):
        a = atom(rng, depth)
        if rng.random() < 0.3 and a not in ("^", "$", "\\A", "\\Z", "\\b", "\\B") and not a.startswith("(?#"):
            a += quantifier(rng)
        parts.append(a)
        if rng.random() < 0.1:
            parts.append(rng.choice([" ", "  # comment\n"]))
    return "".join(parts)


def alternation(rng, depth):
    branches = [sequence(rng, depth)]
    while rng.random() < 0.25:
        branches.append(sequence(rng, depth) if rng.random() < 0.9 else "")
    return "|".join(branches)


def mutate(rng, pattern):
    i = rng.randrange(len(pattern) + 1)
    if pattern and rng.random() < 0.4:
        return pattern[:i] + pattern[i + 1:]
    return pattern[:i] + rng.choice(["(", ")", "[", "]", "{", "}", "{2,1}", "\\q", "|", "*", "\\", "(?", "(?<", "(?P<", "\\x4", "\\u12", "\\777"]) + pattern[i:]


def pattern_of(rng):
    p = alternation(rng, 0)
    if rng.random() < 0.2:
        p = "(?" + "".join(rng.sample("imsxau", rng.randint(1, 2))) + ")" + p
    if rng.random() < 0.08:
        p = mutate(rng, p)
    return p


def text_of(rng, pattern):
    n = rng.choice([0, 1, 2, 3, 5, 8, 12, 20])
    chars = rng.choices(ALPHABET, TEXT_WEIGHTS, k=n)
    # Pieces of the pattern's own literals make matches likely.
    if rng.random() < 0.5:
        pieces = [c for c in pattern if c in ALPHABET]
        if pieces:
            start = rng.randrange(len(pieces))
            chars.insert(rng.randrange(len(chars) + 1), "".join(pieces[start:start + rng.randint(1, 4)]))
    return "".join(chars)


def simple_atom(rng):
    a = rng.choice([literal(rng), ".", char_class(rng), "\\w", "\\s", "\\d", "\\b", "$"])
    if a not in ("\\b", "$") and rng.random() < 0.4:
        a += rng.choice(["*", "+", "?", "{2}", "*?"])
    return a


def long_case(rng):
    """A pattern of lookarounds over quantified single atoms, and a text of over 128 bytes, long
    enough for the engine to answer lookaheads by table. Python's backtracking stays fast on
    these; nested repetition over such a text could take it hours."""
    parts = []
    for _ in range(rng.randint(1, 3)):
        if rng.random() < 0.6:
            body = "".join(simple_atom(rng) for _ in range(rng.randint(1, 3)))
            parts.append(rng.choice(["(?=", "(?!", "(?=", "(?!", "(?<=", "(?<!"]) + body + ")")
        else:
            parts.append(simple_atom(rng))
    pattern = "".join(parts)
    text = "".join(rng.choices(ALPHABET, TEXT_WEIGHTS, k=rng.randint(130, 160)))
    return pattern, text


def verdict(pattern, options, text):
    flags = 0
    for letter, flag in zip("imsx", (re.I, re.M, re.S, re.X), strict=True):
        if letter in options:
            flags |= flag
    try:
        compiled = re.compile(pattern, flags)
    except (re.error, ValueError, OverflowError):
        return "error"
    return "match" if compiled.search(text) else "no match"


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("output")
    parser.add_argument("--count", type=int, default=6000, help="number of cases")
    parser.add_argument("--seed", type=int, default=SEED, help="for a different set of cases")
    args = parser.parse_args()
    if sys.version_info < (3, 12):
        sys.exit("regex_cases.py needs Python 3.12 or later: its re is the reference")
    # Python warns of sets it may read differently one day ([a--b]); today's reading counts.
    warnings.simplefilter("ignore", FutureWarning)
    rng = random.Random(args.seed)
    lines = []
    while len(lines) < args.count:
        pattern = pattern_of(rng)
        if UNSUPPORTED.search(pattern):
            continue
        options = "".join(o for o in "imsx" if rng.random() < 0.15)
        if rng.random() < 0.1:
            long_pattern, text = long_case(rng)
            lines.append(json.dumps([long_pattern, options, text, verdict(long_pattern, options, text)]))
        for _ in range(2):
            text = text_of(rng, pattern)
            lines.append(json.dumps([pattern, options, text, verdict(pattern, options, text)]))
    with open(args.output, "w", encoding="utf-8") as out:
        out.write("\n".join(lines) + "\n")


if __name__ == "__main__":
    main()
