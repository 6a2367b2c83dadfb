"""find with and without queries, the result cache, update, and the traces update writes."""
import json
import random

import pytest

import zarvel
from conftest import PanicException, run_python


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


QUERIES = [
    ({}, ["Ann", "Bob", "Cyd"]),
    ({"age": 30}, ["Ann"]),
    ({"age": 45}, []),  # 45 and 45.0 are different values
    ({"age": {"$gte": 18}}, ["Ann", "Cyd"]),
    ({"age": {"$lt": 30}}, ["Bob"]),
    ({"age": {"$ne": 30}}, ["Bob", "Cyd"]),
    ({"address.city": "Lyon"}, ["Ann"]),
    ({"address": {"city": "Oslo"}}, ["Bob"]),
    ({"tags": {"$eq": ["x", "y"]}}, ["Cyd"]),
    ({"tags": {"$eq": ["y", "x"]}}, []),
    ({"tags": "x"}, []),
    ({"kind": "a", "age": {"$gt": 40}}, ["Cyd"]),
    ({"missing": {"$ne": 1}}, []),
    ({"age": {"$gt": 1, "$lt": 20}}, ["Ann", "Bob", "Cyd"]),  # only "$gt" counts
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


@pytest.mark.parametrize("query, error, message", [
    ({"age": {"$gt": "x"}}, ValueError, "Malformed query, non-numeric value found for operator GreaterThan"),
    ({"name": {"$lte": 1}}, ValueError, "Malformed query, non-numeric value found for operator LessThanEqual"),
    ({"a": {}}, PanicException, "Error while parsing query"),
    ({"a": None}, PanicException, "Not Valid query"),
    ({"a": [1]}, PanicException, "Not Valid query"),
    ({"a": {"$EQ": 1}}, PanicException, "Unknown query operator found: $EQ"),
    ({"a": {"$x": {"b": 1}}}, PanicException, "Unknown query operator found: $x"),
    ({"$gt": 5}, PanicException, "Missing field path for operator $gt"),
    ({"a": b"x"}, PanicException, 'called `Result::unwrap()` on an `Err` value: Message("invalid type: byte array, expected any valid JSON value")'),
])
def test_find_errors(people, query, error, message):
    with pytest.raises(error) as info:
        people.find("p", query)
    assert type(info.value) is error and str(info.value) == message
    assert len(people.find("p")) == 3


def test_find_missing_collection(store):
    with pytest.raises(ValueError) as info:
        store.find("missing", {"a": 1})
    assert str(info.value) == "Collection with name 'missing' not found on disk"


def test_non_object_documents_fail_queries_but_not_listing(store):
    store.insert_many("c", [{"a": 1}, 2, "x", [3]])
    assert store.find("c") == [{"a": 1}, 2, "x", [3]]
    with pytest.raises(PanicException) as info:
        store.find("c", {"a": 1})
    assert str(info.value) == "called `Option::unwrap()` on a `None` value"


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


def test_cache_holds_one_hundred_answers(store):
    store.insert_many("c", [{"i": i} for i in range(101)])
    for i in range(101):
        assert store.find("c", {"i": i}) == [{"i": i}]
    store.clear_cache()
    assert store.clear_cache() is None
    assert store.find("c", {"i": 0}) == [{"i": 0}]


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


@pytest.mark.parametrize("args, message", [
    (({"n": {"$push": 1}},), "Unknown update query operator found: $push"),
    (({"$inc": 1},), "Missing field path for operator $inc"),
    (({"n": 1}, {"n": {"$gt": "x"}}), "called `Result::unwrap()` on an `Err` value: PyErr { type: <class 'ValueError'>, value: ValueError('Malformed query, non-numeric value found for operator GreaterThan'), traceback: None }"),
    (({"n": {"$inc": 1}}, {"kind": {"$eq": []}}, ), None),
])
def test_failed_update_changes_nothing(store, store_dir, args, message):
    store.insert_many("c", [{"n": 1, "kind": "a"}, {"n": "s", "kind": []}])
    before = store.find("c")
    if message is None:
        store.update("c", *args)
        assert store.find("c")[1]["n"] == "s"
        return
    with pytest.raises(PanicException) as info:
        store.update("c", *args)
    assert str(info.value) == message
    assert store.find("c") == before
    store.write("c")
    store.insert("c", {"n": 3})


def test_update_of_a_non_object_document_changes_nothing(store):
    store.insert_many("c", [{"n": 1}, 5])
    with pytest.raises(PanicException) as info:
        store.update("c", {"n": {"$inc": 1}})
    assert str(info.value) == "called `Option::unwrap()` on a `None` value"
    assert store.find("c") == [{"n": 1}, 5]


def test_update_of_a_missing_collection(store):
    with pytest.raises(PanicException) as info:
        store.update("nope", {"n": 1})
    assert str(info.value) == (
        "called `Result::unwrap()` on an `Err` value: PyErr { type: <class 'ValueError'>, "
        "value: ValueError(\"Collection with name 'nope' not found on disk\"), traceback: None }"
    )


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

    def same(x, y):
        return type(x) is type(y) and x == y if not isinstance(x, (list, dict)) else json.dumps(x) == json.dumps(y)

    def reference(doc, path, op, operand):
        cur = doc
        for seg in path[:-1]:
            cur = cur.get(seg) if isinstance(cur, dict) else None
            if not isinstance(cur, dict):
                return False
        if path[-1] not in cur:
            return False
        value = cur[path[-1]]
        if op == "$eq":
            return same(value, operand)
        if op == "$ne":
            return not same(value, operand)
        num = lambda v: isinstance(v, (int, float)) and not isinstance(v, bool)
        if not (num(value) and num(operand)):
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
