"""Random queries over random documents, each answer compared with a plain-Python reading of the
query language: paths, every operator, nested multi-member objects and logical operators."""
import random
import re

import pytest

MISSING = object()
ORDERING = {"$gt": ("GreaterThan", lambda d, q: d > q), "$gte": ("GreaterThanEqual", lambda d, q: d >= q),
            "$lt": ("LessThan", lambda d, q: d < q), "$lte": ("LessThanEqual", lambda d, q: d <= q)}


class NonNumeric(Exception):
    pass


def key_order(mapping):
    return sorted(mapping, key=lambda k: k.encode())


def same(a, b):
    """Value equality of stored documents: kinds and int/float stay apart, containers compare deeply."""
    if type(a) is not type(b):
        return False
    if isinstance(a, list):
        return len(a) == len(b) and all(same(x, y) for x, y in zip(a, b, strict=True))
    if isinstance(a, dict):
        return a.keys() == b.keys() and all(same(a[k], b[k]) for k in a)
    return a == b


def is_number(v):
    return isinstance(v, (int, float)) and not isinstance(v, bool)


def resolve(document, path):
    current = document
    for segment in path:
        if not isinstance(current, dict) or segment not in current:
            return MISSING
        current = current[segment]
    return current


def conditions(query):
    """The query as ("path", segments, keyword, operand, holder) and ("logical", keyword, [queries])."""
    out = []

    def walk(path, value):
        if isinstance(value, dict):
            for key in key_order(value):
                if key.startswith("$"):
                    out.append(("path", path, key, value[key], value))
                else:
                    walk(path + key.split("."), value[key])
        elif path[-1].startswith("$"):
            out.append(("path", path[:-1], path[-1], value, None))
        else:
            out.append(("path", path, "$eq", value, None))

    for key in key_order(query):
        if key in ("$and", "$or", "$nor") and isinstance(query[key], list):
            out.append(("logical", key, [conditions(q) for q in query[key]]))
        else:
            walk(key.split("."), query[key])
    return out


def matches(conds, document):
    for cond in conds:
        if cond[0] == "logical":
            _, keyword, branches = cond
            if keyword == "$and":
                held = all(matches(b, document) for b in branches)
            elif keyword == "$or":
                held = any(matches(b, document) for b in branches)
            else:
                held = not any(matches(b, document) for b in branches)
        else:
            _, path, keyword, operand, holder = cond
            held = holds(keyword, operand, holder, resolve(document, path))
        if not held:
            return False
    return True


def holds(keyword, operand, holder, d):
    present = d is not MISSING
    if keyword == "$eq":
        return present and same(d, operand)
    if keyword == "$ne":
        return present and not same(d, operand)
    if keyword in ORDERING:
        if not present:
            return False
        name, compare = ORDERING[keyword]
        if not is_number(d) or not is_number(operand):
            raise NonNumeric(name)
        return compare(float(d), float(operand))
    if keyword == "$in":
        return present and any(same(d, x) for x in operand)
    if keyword == "$nin":
        return present and not any(same(d, x) for x in operand)
    if keyword == "$exists":
        return present == operand
    if keyword == "$not":
        return not all(holds(k, operand[k], operand, d) for k in key_order(operand))
    if keyword == "$options":
        return True
    if keyword == "$regex":
        flags = sum(getattr(re, letter.upper()) for letter in (holder or {}).get("$options", ""))
        return isinstance(d, str) and re.search(operand, d, flags) is not None
    if keyword == "$size":
        return isinstance(d, list) and len(d) == operand
    if keyword == "$all":
        return isinstance(d, list) and all(any(same(e, x) for e in d) for x in operand)
    if keyword == "$elemMatch":
        if not isinstance(d, list):
            return False
        if all(k.startswith("$") and k not in ("$and", "$or", "$nor") for k in operand):
            return any(all(holds(k, operand[k], operand, e) for k in key_order(operand)) for e in d)
        sub = conditions(operand)
        return any(isinstance(e, dict) and matches(sub, e) for e in d)
    raise AssertionError(keyword)


PLAIN = [0, 1, 2, -1, 1.0, 2.5, -0.0, True, False, "a", "b", "Ab", "ab\nc", "é", ""]  # operands without a keyword
SCALARS = PLAIN + [None]
# Few values, so that equality and membership often hold.


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
        doc["n"] = rng.choice([0, 1, 2, 3, 1.5, -2])  # a field ordering operators mostly meet as a number
    return doc


def random_operand_list(rng):
    return [rng.choice(SCALARS) if rng.random() < 0.8 else random_value(rng, 1) for _ in range(rng.randrange(12))]


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
            inner = random_operators(rng, depth + 1) if rng.random() < 0.5 else random_query(rng, depth + 1)
            if inner:
                ops["$elemMatch"] = inner
    return ops or {"$exists": True}


def random_query(rng, depth=0):
    query = {}
    for _ in range(rng.randrange(1, 3)):
        roll = rng.random()
        if roll < 0.15 and depth < 2:
            query[rng.choice(["$and", "$or", "$nor"])] = [random_query(rng, depth + 1) or {"n": 1}
                                                         for _ in range(rng.randrange(1, 3))]
        elif roll < 0.3:
            query[rng.choice(["a", "b", "n", "t"])] = rng.choice(PLAIN)
        elif roll < 0.45:  # a nested object mixing fields and operators
            query[rng.choice(["a", "c"])] = {rng.choice(["a", "b", "x"]): rng.choice(PLAIN), **random_operators(rng, 2)}
        else:
            query[rng.choice(["a", "b", "c.a", "n", "t"])] = random_operators(rng, depth)
    return query


def expected_answer(query, documents):
    conds = conditions(query)
    try:
        return [d for d in documents if matches(conds, d)]
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
