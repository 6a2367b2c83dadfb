"""find with and without queries, the result cache, update, and the traces update writes."""
import json
import random

import pytest

import zarvel
from conftest import identical, run_python


@pytest.fixture
def people(store):
    store.insert_many("p", [
        {"name": "Ann", "age": 30, "kind": "a", "address": {"city": "Lyon"}, "n": 5},
        {"name": "Bob", "age": 17, "kind": "b", "address": {"city": "Oslo"}, "n": 1.5},
        {"name": "Cyd", "age": 45.0, "kind": "a", "tags": ["x", "y"], "n": "5"},
    ])
    return store


def names(docs):
    return [d["name"] for d in docs]


# The matching rules themselves are tested in C++; these check queries as Python dicts convert them.
QUERIES = [
    ({}, ["Ann", "Bob", "Cyd"]),
    ({"age": 45}, []),  # 45 and 45.0 are different values
    ({"age": {"$gte": 18}}, ["Ann", "Cyd"]),
    ({"address": {"city": "Oslo"}}, ["Bob"]),
    ({"tags": {"$eq": ["x", "y"]}}, ["Cyd"]),
    ({"kind": "a", "age": {"$gt": 40}}, ["Cyd"]),
    ({"age": {"$lt": 20, "$gt": 1}}, ["Ann", "Bob", "Cyd"]),  # only "$gt" counts: keys sort, whatever the dict's order
]


@pytest.mark.parametrize("query, expected", QUERIES, ids=[json.dumps(q) for q, _ in QUERIES])
def test_queries(people, query, expected):
    assert names(people.find("p", query)) == expected
    assert names(people.find("p", query)) == expected  # answered from the cache


def test_find_without_query_returns_copies_in_insertion_order(people):
    docs = people.find("p")
    assert names(docs) == ["Ann", "Bob", "Cyd"] and people.find("p", None) == docs
    docs[0]["name"] = "changed"
    cached = people.find("p", {"kind": "a"})
    cached[0]["name"] = "changed"
    assert names(people.find("p")) == ["Ann", "Bob", "Cyd"]
    assert names(people.find("p", {"kind": "a"})) == ["Ann", "Cyd"]


def test_cache_never_answers_differently_from_a_scan(store):
    store.insert_many("a", [{"x": 0}, {"x": 1}])
    store.insert_many("b", [{"x": 0.0}])
    assert store.find("a", {"x": 0}) == [{"x": 0}]
    assert store.find("b", {"x": 0}) == []
    assert store.find("a", {"x": 0.0}) == []
    store.insert("a", {"x": 0})
    assert store.find("a", {"x": 0}) == [{"x": 0}, {"x": 0}]
    store.drop_collection("b")
    store.insert("b", {"x": 0})
    assert store.find("b", {"x": 0}) == [{"x": 0}]
    assert store.clear_cache() is None and store.find("a", {"x": 0}) == [{"x": 0}, {"x": 0}]


def test_update_operators(store):
    store.insert_many("c", [
        {"n": 5, "m": 1.5, "s": "5", "a": {"b": 1, "c": 2}, "k": 1},
        {"n": 1e308, "a": 3},
    ])
    store.update("c", {"n": {"$inc": 10}})
    store.update("c", {"n": {"$add": 1e308}}, {"a": 3})
    assert [d["n"] for d in store.find("c")] == [6.0, None]  # +1 always; an overflow becomes null
    store.update("c", {"m": {"$add": 2}, "s": {"$inc": 1}, "a.b": {"$delete": 1}, "zz": 1})
    first = store.find("c")[0]
    assert first["m"] == 3.5 and first["s"] == "5" and first["a"] == {"c": 2} and "zz" not in first
    store.update("c", {"k": {"$set": [1, 2]}, "m": {"$substract": 0.5}, "n": {"$dec": "x"}})
    first = store.find("c")[0]
    assert first["k"] == [1, 2] and first["m"] == 3.0 and first["n"] == 5.0
    result = store.update("c", {"k": 7}, {"a.c": 2}, True)
    assert result == store.find("c") and result[0]["k"] == 7 and type(result[0]["k"]) is int


def test_update_resets_the_cache_and_loads_on_demand(store, store_dir):
    (store_dir / "f.json").write_text('[{"n":1}]')
    assert store.find("f", {"n": 1}) == [{"n": 1}]
    assert store.update("f", {"n": 2}) is None
    assert store.find("f", {"n": 1}) == []
    assert (store_dir / "f.json").read_text() == '[{"n":1}]'


def test_update_writes_two_trace_lines_per_condition_to_fd_1(tmp_path):
    code = f"""
import sys, zarvel
z = zarvel.Zarvel({str(tmp_path / 'db')!r})
z.insert("c", {{"a": {{"b": 1}}}})
sys.stdout = None  # the trace bypasses sys.stdout
z.update("c", {{"count": {{"$inc": 1}}, "a.b": 2, 'q"\\\\t\\t': 1}})
z.update("c", {{}})
"""
    rc, out, err = run_python(code)
    assert rc == 0, err
    assert out.decode() == (
        'Update operator found Set\nFields: ["a", "b"]\n'
        'Update operator found Increment\nFields: ["count"]\n'
        'Update operator found Set\nFields: ["q\\"\\\\t\\t"]\n'
    )


def test_random_queries_agree_with_a_reference_model(store):
    rng = random.Random(7)
    values = [0, 1, 2, 1.0, 2.5, -1, "a", "b", None, True, [1], {"x": 1}]
    docs = []
    for _ in range(300):
        doc = {k: rng.choice(values) for k in "abc" if rng.random() < 0.8}
        if rng.random() < 0.5:
            doc["o"] = {"x": rng.choice(values)}
        docs.append(doc)
    store.insert_many("c", docs)

    def reference(doc, path, op, operand):
        holder = doc.get("o", {}) if len(path) == 2 else doc
        if path[-1] not in holder:
            return False
        value = holder[path[-1]]
        if op in ("$eq", "$ne"):
            return identical(value, operand) == (op == "$eq")
        number = lambda v: isinstance(v, (int, float)) and not isinstance(v, bool)
        if not (number(value) and number(operand)):
            raise ValueError
        return {"$gt": value > operand, "$gte": value >= operand, "$lt": value < operand, "$lte": value <= operand}[op]

    for _ in range(200):
        path = rng.choice([["a"], ["b"], ["o", "x"]])
        op = rng.choice(["$eq", "$ne", "$gt", "$gte", "$lt", "$lte"])
        operand = rng.choice([0, 1, 2, 1.0, 2.5, -1]) if op not in ("$eq", "$ne") else rng.choice(values)
        query = {".".join(path): {op: operand}}
        try:
            expected = [d for d in docs if reference(d, path, op, operand)]
        except ValueError:
            with pytest.raises(ValueError):
                store.find("c", query)
            continue
        assert store.find("c", query) == expected, query
