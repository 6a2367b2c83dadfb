"""Random queries over random documents, each answer compared with a plain-Python reading of the
query language: paths, every operator, nested multi-member objects and logical operators."""

import random

import pytest

from store_model import ORDERING, NonNumeric, matches, same

# Few values, so that equality and membership often hold.
PLAIN = [
    0,
    1,
    2,
    -1,
    1.0,
    2.5,
    -0.0,
    True,
    False,
    "a",
    "b",
    "Ab",
    "ab\nc",
    "é",
    "",
]  # operands without a keyword
SCALARS = PLAIN + [None]


def random_value(rng, depth=0):
    roll = rng.random()
    if depth < 2 and roll < 0.15:
        return [random_value(rng, depth + 1) for _ in range(rng.randrange(4))]
    if depth < 2 and roll < 0.25:
        return {k: random_value(rng, depth + 1) for k in rng.sample("abx", rng.randrange(3))}
    return rng.choice(SCALARS)


def random_document(rng):
    doc = {k: random_value(rng) for k in rng.sample(["a", "b", "c", "t"], rng.randrange(2, 5))}
    if rng.random() < 0.5:
        doc["n"] = rng.choice(
            [0, 1, 2, 3, 1.5, -2]
        )  # a field ordering operators mostly meet as a number
    return doc


def random_operand_list(rng):
    return [
        rng.choice(SCALARS) if rng.random() < 0.8 else random_value(rng, 1)
        for _ in range(rng.randrange(12))
    ]


def random_operators(rng, depth):
    """A dict of operators applied to one value."""
    ops = {}
    for _ in range(rng.randrange(1, 3)):
        roll = rng.random()
        if roll < 0.25:
            ops[rng.choice(list(ORDERING))] = rng.choice([0, 1, 2, 1.5, -1])
        elif roll < 0.4:
            ops[rng.choice(["$eq", "$ne"])] = random_value(rng, 1)
        elif roll < 0.55:
            ops[rng.choice(["$in", "$nin", "$all"])] = random_operand_list(rng)
        elif roll < 0.65:
            ops["$exists"] = rng.random() < 0.5
        elif roll < 0.75:
            ops["$regex"] = rng.choice(["^a", "b$", "A", "^$", ".", "a|é", "\\n", "^ab.c"])
            if rng.random() < 0.5:
                ops["$options"] = "".join(rng.sample("imsx", rng.randrange(1, 3)))
        elif roll < 0.82:
            ops["$size"] = rng.randrange(3)
        elif roll < 0.92 and depth < 2:
            ops["$not"] = random_operators(rng, depth + 1)
        elif depth < 2:
            inner = (
                random_operators(rng, depth + 1)
                if rng.random() < 0.5
                else random_query(rng, depth + 1)
            )
            if inner:
                ops["$elemMatch"] = inner
    return ops or {"$exists": True}


def random_query(rng, depth=0):
    query = {}
    for _ in range(rng.randrange(1, 3)):
        roll = rng.random()
        if roll < 0.15 and depth < 2:
            query[rng.choice(["$and", "$or", "$nor"])] = [
                random_query(rng, depth + 1) or {"n": 1} for _ in range(rng.randrange(1, 3))
            ]
        elif roll < 0.3:
            query[rng.choice(["a", "b", "n", "t"])] = rng.choice(PLAIN)
        elif roll < 0.45:  # a nested object mixing fields and operators
            query[rng.choice(["a", "c"])] = {
                rng.choice(["a", "b", "x"]): rng.choice(PLAIN),
                **random_operators(rng, 2),
            }
        else:
            query[rng.choice(["a", "b", "c.a", "n", "t"])] = random_operators(rng, depth)
    return query


def expected_answer(query, documents):
    try:
        return [d for d in documents if matches(d, query)]
    except NonNumeric as error:
        return f"Malformed query, non-numeric value found for operator {error.args[0]}"


@pytest.mark.parametrize("seed", range(6))
def test_random_queries_answer_as_the_reference_does(store, seed):
    rng = random.Random(seed)
    documents = [random_document(rng) for _ in range(60)]
    store.insert_many("c", documents)
    for _ in range(600):
        query = random_query(rng)
        expected = expected_answer(query, documents)
        try:
            answer = store.find("c", query)
        except ValueError as error:
            answer = str(error)
        assert answer == expected if isinstance(expected, str) else same(answer, expected), query
