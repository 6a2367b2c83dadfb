"""delete and count: the same documents, errors and loading as find, and the cache after a delete."""
import json

import pytest

import zarvel
from conftest import PanicException, raises

DOCUMENTS = [{"i": 0, "n": 1, "a": {"b": "x"}}, {"i": 1, "n": 1.0}, {"i": 2, "n": 5, "a": {"b": "y"}},
             {"i": 3, "s": "t"}, {"i": 4, "n": -3, "a": "b"}, {"i": 5, "n": 5, "a": {"b": "x"}}]

QUERIES = [{}, {"n": 1}, {"n": 1.0}, {"n": {"$gte": 1}}, {"n": {"$ne": 5}}, {"a.b": "x"},
           {"a": {"b": "y"}}, {"a.b": "x", "n": {"$lt": 5}}, {"missing": 2}, {"i": {"$gt": 99}}]


@pytest.fixture
def filled(store):
    store.insert_many("c", DOCUMENTS)
    return store


@pytest.mark.parametrize("query", QUERIES, ids=str)
def test_count_and_delete_agree_with_find(filled, query):
    found = filled.find("c", query)
    assert filled.count("c", query) == len(found)
    assert filled.delete("c", query) == len(found)
    # The rest, in their order; the removed ones are gone for every query.
    assert filled.find("c") == [d for d in DOCUMENTS if d not in found]
    assert filled.find("c", query) == [] and filled.count("c", query) == 0
    assert filled.count("c") == len(DOCUMENTS) - len(found) == filled.count("c", None)


FAILURES = [
    ("missing", {"n": 1}, ValueError, "Collection with name 'missing' not found on disk"),
    ("c", {"s": {"$gt": 1}}, ValueError, "Malformed query, non-numeric value found for operator GreaterThan"),
    ("c", {"n": {"$in": 1}}, PanicException, "Malformed query, $in needs a list"),
    ("c", {"n": [1]}, PanicException, "Not Valid query"),
    ("", {}, ValueError, "Invalid collection name ''"),
]


@pytest.mark.parametrize("name, query, error, message", FAILURES, ids=lambda v: str(v)[:30])
def test_failures_raise_what_find_raises_and_remove_nothing(filled, name, query, error, message):
    for call in (filled.find, filled.count, filled.delete):
        raises(error, message, call, name, query)
    assert filled.find("c") == DOCUMENTS


def test_an_unknown_collection_without_query(store):
    for call in (store.find, store.count):
        raises(ValueError, "Collection with name 'x' not found on disk", call, "x")


def test_collections_are_loaded_on_demand_and_delete_changes_memory_only(store_dir, filled):
    filled.write("c")
    written = (store_dir / "c.json").read_text()
    for call, result in ((lambda s: s.count("c", {"n": 5}), 2), (lambda s: s.delete("c", {"n": 5}), 2)):
        store = zarvel.Zarvel(str(store_dir))
        (store_dir / "c.json").write_text(written)  # the new store has not read it yet
        assert call(store) == result
    assert (store_dir / "c.json").read_text() == written
    assert store.count("c") == 4
    store.write("c")
    assert [d["i"] for d in json.loads((store_dir / "c.json").read_text())] == [0, 1, 3, 4]


def test_a_cached_query_never_returns_a_removed_document(filled):
    cached = {"n": {"$gte": 1}}
    assert len(filled.find("c", cached)) == 4
    assert filled.count("c", cached) == 4  # answered from the cache
    assert filled.delete("c", {"i": 2}) == 1
    assert [d["i"] for d in filled.find("c", cached)] == [0, 1, 5]
    assert filled.count("c", cached) == 3
    assert [d["i"] for d in filled.find("c", cached, sort=[("i", -1)], limit=2)] == [5, 1]
    # A delete answered from the cache; the next query sees the collection as it is now.
    assert filled.delete("c", cached) == 3
    assert filled.find("c", cached) == [] and filled.count("c") == 2
    filled.insert("c", {"n": 7})
    assert filled.find("c", cached) == [{"n": 7}] and filled.count("c", cached) == 1


def test_non_objects_from_a_file_match_no_query(store_dir):
    store_dir.mkdir()
    (store_dir / "c.json").write_text(json.dumps([{"v": 1}, 7, [1], {"v": 2}]))
    store = zarvel.Zarvel(str(store_dir))
    assert (store.count("c"), store.count("c", {}), store.count("c", {"v": {"$gte": 2}})) == (4, 2, 1)
    assert store.delete("c", {}) == 2
    assert store.find("c") == [7, [1]]


@pytest.mark.parametrize("call, message", [
    (lambda s: s.delete("c"), "Zarvel.delete() missing 1 required positional argument: 'query'"),
    (lambda s: s.delete(), "Zarvel.delete() missing 2 required positional arguments: 'collection_name' and 'query'"),
    (lambda s: s.delete("c", []), "argument 'query': 'list' object cannot be converted to 'PyDict'"),
    (lambda s: s.delete("c", None), "argument 'query': 'NoneType' object cannot be converted to 'PyDict'"),
    (lambda s: s.delete(1, {}), "argument 'collection_name': 'int' object cannot be converted to 'PyString'"),
    (lambda s: s.delete("c", {}, {}), "Zarvel.delete() takes 2 positional arguments but 3 were given"),
    (lambda s: s.delete("c", maybe_query={}), "Zarvel.delete() got an unexpected keyword argument 'maybe_query'"),
    (lambda s: s.count(), "Zarvel.count() missing 1 required positional argument: 'collection_name'"),
    (lambda s: s.count("c", [1]), "argument 'maybe_query': 'list' object cannot be converted to 'PyDict'"),
    (lambda s: s.count("c", {}, None), "Zarvel.count() takes from 1 to 2 positional arguments but 3 were given"),
    (lambda s: s.count("c", query={}), "Zarvel.count() got an unexpected keyword argument 'query'"),
], ids=lambda v: v if isinstance(v, str) else "")
def test_argument_errors(filled, call, message):
    raises(TypeError, message, call, filled)
    assert filled.find("c") == DOCUMENTS
