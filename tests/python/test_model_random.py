"""Thousands of random inserts, deletes, updates, counts and finds with options, each answer
compared with a plain-Python model of the store (fixed seed)."""
import random

from conftest import identical, normalised, silently
from store_model import find, matches

SEED = 1717
OPERATIONS = 4000
NAMES = ["a", "b"]
SCALARS = [0, 1, 1.0, 2, -1, 2.5, 2**53 + 1, "x", "y", "", True, False, None]
# A bare None in a query is refused; it is asked for with an operator.
EQUALS = [v for v in SCALARS if v is not None]
PATHS = ["n", "s", "d.e", "d", "missing"]


def random_value(rng, depth=0):
    kind = rng.random()
    if depth < 2 and kind < 0.1:
        return [random_value(rng, depth + 1) for _ in range(rng.randrange(3))]
    if depth < 2 and kind < 0.2:
        return {k: random_value(rng, depth + 1) for k in rng.sample(["e", "f"], rng.randrange(3))}
    return rng.choice(SCALARS)


def random_document(rng):
    document = {"n": rng.choice([0, 1, 2, 3, 1.0, 2.5, -4, 2**60])} if rng.random() < 0.9 else {}
    for key in ("s", "d"):
        if rng.random() < 0.7:
            document[key] = random_value(rng)
    return document


def random_query(rng):
    """Conditions the model knows; ordering operators only on "n", which is always a number."""
    choices = [
        lambda: {},
        lambda: {"n": rng.choice([0, 1, 1.0, 2.5])},
        lambda: {"n": {rng.choice(["$gt", "$gte", "$lt", "$lte"]): rng.choice([0, 1, 2, 2.5])}},
        lambda: {"s": {"$ne": rng.choice(SCALARS)}},
        lambda: {"d.e": rng.choice(EQUALS)},
        lambda: {"d.e": {"$eq": rng.choice(SCALARS)}},
        lambda: {"n": {"$gte": 1}, "s": rng.choice(EQUALS)},
    ]
    return rng.choice(choices)()


def random_options(rng):
    options = {}
    if rng.random() < 0.5:
        options["sort"] = rng.choice(PATHS) if rng.random() < 0.3 else [
            (path, rng.choice([1, -1])) for path in rng.sample(PATHS, rng.randrange(1, 3))]
    if rng.random() < 0.4:
        options["skip"] = rng.randrange(6)
    if rng.random() < 0.4:
        options["limit"] = rng.randrange(8)
    if rng.random() < 0.3:
        options["fields"] = rng.sample(PATHS + ["d.f", "n.x"], rng.randrange(3))
    return options


def selected_by(query):
    return lambda document: query is None or matches(document, query)


def test_random_operations_match_the_model(store):
    rng = random.Random(SEED)
    model = {name: [] for name in NAMES}
    for name in NAMES:
        store.create_collection(name)
    for step in range(OPERATIONS):
        name = rng.choice(NAMES)
        documents = model[name]
        roll = rng.random()
        where = f"step {step}"
        if roll < 0.25:
            new = [random_document(rng) for _ in range(rng.randrange(1, 6))]
            store.insert_many(name, new)
            documents.extend(normalised(d) for d in new)
        elif roll < 0.35:
            query = random_query(rng)
            kept = [d for d in documents if not matches(d, query)]
            assert store.delete(name, query) == len(documents) - len(kept), where
            model[name] = kept
        elif roll < 0.42:
            query, value = random_query(rng), random_value(rng)
            silently(store.update, name, {"s": {"$set": value}}, query)
            for d in documents:
                if matches(d, query) and "s" in d:
                    d["s"] = normalised(value)
        elif roll < 0.55:
            query = rng.choice([None, random_query(rng)])
            expected = len(find(documents, selected_by(query)))
            assert store.count(name, query) == expected, where
        else:
            query, options = rng.choice([None, random_query(rng)]), random_options(rng)
            expected = find(documents, selected_by(query), **options)
            assert identical(store.find(name, query, **options), expected), (where, query, options)
    assert store.count("a") + store.count("b") == len(model["a"]) + len(model["b"]) > 0
