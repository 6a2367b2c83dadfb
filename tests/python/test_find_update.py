"""find with and without queries, the result cache, update, and the traces update writes."""
import json

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


# The matching rules themselves are tested in C++; these check queries as Python dicts convert them.
QUERIES = [
    ({}, ["Ann", "Bob", "Cyd"]),
    ({"age": 45}, []),  # 45 and 45.0 are different values
    ({"age": {"$gte": 18}}, ["Ann", "Cyd"]),
    ({"address": {"city": "Oslo"}}, ["Bob"]),
    ({"kind": "a", "tags": {"$eq": ["x", "y"]}}, ["Cyd"]),
    ({"age": {"$lt": 20, "$gt": 1}}, ["Bob"]),  # every member counts
    ({"name": {"$in": ["Cyd", "Bob"]}, "address.city": {"$exists": False}}, ["Cyd"]),
    ({"$or": [{"age": {"$lt": 18}}, {"tags": {"$all": ["y"]}}]}, ["Bob", "Cyd"]),
    ({"name": {"$regex": "^a|D$", "$options": "i"}}, ["Ann", "Cyd"]),
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


CACHE_MEMORY = """
import zarvel
page = 4096
def rss():
    with open("/proc/self/statm") as f:
        return int(f.read().split()[1]) * page
store = zarvel.Zarvel("db")
store.insert_many("c", [{"n": i, "text": "some words to make a document of size"} for i in range(100_000)])
before = rss()
for i in range(20):
    assert len(store.find("c", {"n": {"$gte": -i}})) == 100_000
print((rss() - before) >> 20)
"""


def test_cached_answers_do_not_copy_the_documents(tmp_path):
    # Twenty answers that each hold every document: copies would take over a gigabyte.
    code, out, err = run_python(CACHE_MEMORY, cwd=tmp_path)
    assert code == 0, err
    assert int(out) < 32, f"the cache grew resident memory by {int(out)} MiB"


# The operators themselves are tested in C++; this checks what Python passes and gets back.
def test_update_with_a_query_and_a_result(store):
    store.insert_many("c", [{"n": 5, "a": {"b": 1}, "k": 1}, {"n": 1e308, "a": 3}])
    assert store.update("c", {"n": {"$add": 1e308}}, {"a": 3}) is None
    result = store.update("c", {"k": {"$set": [7]}, "a.b": {"$delete": 1}, "n": {"$inc": 10}}, {"a.b": 1}, True)
    assert result == store.find("c") == [{"a": {}, "k": [7], "n": 6.0}, {"a": 3, "n": None}]
    assert type(result[0]["n"]) is float


def test_nan_and_infinity_become_null_in_documents_and_update_documents(store):
    # Queries refuse them (test_hostile_input.py): there they would match null fields.
    store.insert_many("c", [{"a": 1, "n": float("nan")}, {"a": 2, "n": 0}])
    store.update("c", {"a": {"$set": [float("inf")]}, "n": {"$set": float("-inf")}}, {"a": 2})
    assert store.find("c") == [{"a": 1, "n": None}, {"a": [None], "n": None}]


def test_update_resets_the_cache_and_loads_on_demand(store, store_dir):
    (store_dir / "f.json").write_text('[{"n":1}]')
    assert store.find("f", {"n": 1}) == [{"n": 1}]
    assert store.update("f", {"n": 2}) is None
    assert store.find("f", {"n": 1}) == []
    assert (store_dir / "f.json").read_text() == '[{"n":1}]'


def test_update_writes_two_trace_lines_per_condition_to_fd_1(tmp_path):
    # The lines' text and escapes are tested in C++; this checks where they go.
    code = f"""
import sys, zarvel
z = zarvel.Zarvel({str(tmp_path / 'db')!r})
z.insert("c", {{"a": {{"b": 1}}}})
sys.stdout = None  # the trace bypasses sys.stdout
z.update("c", {{"count": {{"$inc": 1}}, "a.b": 2}})
z.update("c", {{}})
"""
    rc, out, err = run_python(code)
    assert rc == 0, err
    assert out.decode() == (
        'Update operator found Set\nFields: ["a", "b"]\n'
        'Update operator found Increment\nFields: ["count"]\n'
    )


def nested(depth, kind):
    value = 1
    for _ in range(depth):
        value = {"k": value} if kind is dict else [value]
    return value


@pytest.mark.parametrize("path, kind, op", [("a.b", list, "$set"), ("a.b.c", dict, "$set"), ("t", dict, "$push")])
def test_update_cannot_nest_a_document_beyond_126_levels(store, store_dir, path, kind, op):
    # The operand sits below one object per path segment (the document and those along the path),
    # and a pushed one inside the array too.
    store.insert_many("c", [{"a": {"b": {"c": 1}}, "t": []}, {"a": 1}])
    before = store.find("c")
    room = 126 - len(path.split(".")) - (op == "$push")
    with pytest.raises(PanicException) as info:
        store.update("c", {path: {op: nested(room + 1, kind)}})
    assert str(info.value) == "Update would nest a document deeper than 126 levels"
    assert store.find("c") == before
    store.update("c", {path: {op: nested(room, kind)}})
    store.write("c")
    after = zarvel.Zarvel(str(store_dir)).find("c")
    assert after == store.find("c") and after != before
