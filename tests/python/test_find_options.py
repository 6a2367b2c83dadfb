"""find's keyword-only options: sort, skip, limit and fields, against a reference written here."""
import json

import pytest

import zarvel
from conftest import identical, raises
from store_model import find as reference_find
from store_model import project

# Every kind at the field "v", with ties across number forms and values beyond 2**53.
VALUES = [None, 3, 1.0, 1, -2, 2**53 + 1, 9007199254740992.0, 2**64 - 1, -(2**63), 1.5e19, -0.0, 0,
          "", "b", "a", "ab", "Z", "é", "z", {}, {"a": 1}, {"a": 1.0}, {"a": 1, "b": 0}, {"b": 0},
          {"a": {"w": 2}}, [], [1], [1, 0], [1.0], [0, 5], [[]], False, True, {"w": 1}, {"w": "x"}]


@pytest.fixture
def sortable(store):
    documents = [{"i": i, "k": i % 3, "v": v} for i, v in enumerate(VALUES)]
    documents[4:4] = [{"i": -1, "k": 0}, {"i": -2, "k": 2, "v": {"w": None}}]  # missing v, missing v.w
    store.insert_many("c", documents)
    return store, store.find("c")


SORTS = ["v", [("v", 1)], [("v", -1)], [("k", 1), ("v", -1)], [("k", -1), ("v", 1)], "v.w",
         [("v.w", -1)], [("missing", -1)], [], None]


@pytest.mark.parametrize("sort", SORTS, ids=repr)
def test_sort_follows_the_reference_order(sortable, sort):
    store, documents = sortable
    for query, matching in ((None, lambda d: True), ({"k": {"$ne": 1}}, lambda d: d["k"] != 1)):
        for skip, limit in ((0, None), (0, 5), (3, 4), (7, 0), (40, 3), (2, 100)):
            expected = reference_find(documents, matching, sort, skip, limit)
            # Twice: the second find answers from the cache, then applies the options again.
            for _ in range(2):
                got = store.find("c", query, sort=sort, skip=skip, limit=limit)
                assert identical(got, expected), (query, skip, limit)


PEOPLE = [{"name": "Ann", "address": {"city": "Lyon", "zip": "69"}, "age": 30},
          {"name": "Bob", "address": "none", "age": 17},
          {"name": "Cyd", "address": {"zip": "01"}},
          {"name": "Dee", "age": 45, "tags": [{"x": 1}]}]


@pytest.mark.parametrize("query, options, names, fields", [
    (None, {}, "ABCD", None),
    (None, {"skip": 1}, "BCD", None),
    (None, {"limit": 2}, "AB", None),
    (None, {"skip": 3, "limit": 5}, "D", None),
    (None, {"skip": 2**70}, "", None),
    (None, {"limit": 2**70, "skip": 1}, "BCD", None),
    ({"age": {"$gte": 18}}, {"limit": 1}, "A", None),
    ({"age": {"$gte": 18}}, {"skip": 1, "limit": 1}, "D", None),
    ({}, {"sort": [("age", -1)], "limit": 3}, "DAB", None),
    (None, {"fields": ["name", "address.city"]}, "ABCD", ["name", "address.city"]),
    (None, {"fields": []}, "ABCD", []),
    ({"age": {"$lt": 40}}, {"fields": ["address", "address.zip", "tags.x"], "sort": "name"}, "AB",
     ["address", "address.zip", "tags.x"]),
    (None, {"fields": ["address.zip"], "sort": [("address.zip", 1)], "skip": 1}, "DCA", ["address.zip"]),
], ids=str)
def test_skip_limit_and_fields(store, query, options, names, fields):
    store.insert_many("c", PEOPLE)
    by_name = {d["name"][0]: d for d in store.find("c")}
    expected = [by_name[n] if fields is None else project(by_name[n], fields) for n in names]
    assert identical(store.find("c", query, **options), expected)
    assert store.find("c", fields=["name", "address.city"])[0] == {"address": {"city": "Lyon"}, "name": "Ann"}


def test_a_limit_without_sort_stops_the_scan_and_caches_nothing(store):
    store.insert_many("c", [{"n": 1}, {"n": 2}, {"n": "x"}])
    query = {"n": {"$gte": 0}}
    assert store.find("c", query, limit=2) == [{"n": 1}, {"n": 2}]
    assert store.find("c", query, skip=1, limit=1) == [{"n": 2}]
    # Nothing was cached: a full scan still meets the string.
    for call in (lambda: store.find("c", query), lambda: store.find("c", query, limit=3),
                 lambda: store.find("c", query, sort="n", limit=1)):
        raises(ValueError, "Malformed query, non-numeric value found for operator GreaterThanEqual", call)


def test_non_objects_from_a_file_sort_as_missing_and_keep_their_form(store_dir):
    store_dir.mkdir()
    (store_dir / "c.json").write_text(json.dumps([{"v": 2}, 7, {"v": 1}, "s"]))
    store = zarvel.Zarvel(str(store_dir))
    assert store.find("c", sort="v") == [7, "s", {"v": 1}, {"v": 2}]
    assert store.find("c", sort=[("v", -1)], fields=["v"], limit=3) == [{"v": 2}, {"v": 1}, 7]
    assert store.find("c", fields=["w"]) == [{}, 7, {}, "s"]


OPTION_ERRORS = [
    ({"sort": 5}, TypeError, "argument 'sort': must be None, a path or a list of (path, direction) pairs, not 'int'"),
    ({"sort": ("v", 1)}, TypeError, "argument 'sort': must be None, a path or a list of (path, direction) pairs, not 'tuple'"),
    ({"sort": ["v"]}, TypeError, "argument 'sort': item 0 must be a (path, direction) pair, not 'str'"),
    ({"sort": [("v", 1, 2)]}, TypeError, "argument 'sort': item 0 must be a (path, direction) pair, not 'tuple' of length 3"),
    ({"sort": [("v", 1), (1, 1)]}, TypeError, "argument 'sort': the path of item 1 must be a str, not 'int'"),
    ({"sort": [["v", 2]]}, ValueError, "argument 'sort': the direction of item 0 must be 1 or -1, not 2"),
    ({"sort": [("v", 2**80)]}, ValueError, "argument 'sort': the direction of item 0 must be 1 or -1, not %d" % 2**80),
    ({"sort": [("v", True)]}, TypeError, "argument 'sort': the direction of item 0 must be the int 1 or -1, not 'bool'"),
    ({"sort": [("v", 1.0)]}, TypeError, "argument 'sort': the direction of item 0 must be the int 1 or -1, not 'float'"),
    ({"skip": -1}, ValueError, "argument 'skip': must be >= 0, not -1"),
    ({"skip": None}, TypeError, "argument 'skip': must be an int, not 'NoneType'"),
    ({"skip": True}, TypeError, "argument 'skip': must be an int, not 'bool'"),
    ({"limit": -5}, ValueError, "argument 'limit': must be >= 0, not -5"),
    ({"limit": 1.0}, TypeError, "argument 'limit': must be None or an int, not 'float'"),
    ({"fields": ("name",)}, TypeError, "argument 'fields': must be None or a list of paths, not 'tuple'"),
    ({"fields": ["a", None]}, TypeError, "argument 'fields': item 1 must be a str, not 'NoneType'"),
    ({"sort": "\ud800"}, UnicodeEncodeError, None),
    ({"sort": 1, "skip": -1}, TypeError, "argument 'sort': must be None, a path or a list of (path, direction) pairs, not 'int'"),
    ({"other": 1}, TypeError, "Zarvel.find() got an unexpected keyword argument 'other'"),
]


@pytest.mark.parametrize("options, error, message", OPTION_ERRORS, ids=str)
def test_option_errors_name_the_argument_before_the_store_is_touched(store, options, error, message):
    # The collection does not exist: an option error must come before the lookup's ValueError.
    with pytest.raises(error) as info:
        store.find("missing", {"a": {"$bad": 1}}, **options)
    assert type(info.value) is error and (message is None or str(info.value) == message)


def test_options_are_keyword_only(store):
    store.insert("c", {"a": 1})
    raises(TypeError, "Zarvel.find() takes from 1 to 2 positional arguments but 3 were given",
           store.find, "c", None, "a")
    assert store.find(collection_name="c", maybe_query=None, sort=None, skip=0, limit=None, fields=None) == [{"a": 1}]
    assert zarvel.Zarvel.find.__text_signature__ == (
        "($self, collection_name, maybe_query=None, *, sort=None, skip=0, limit=None, fields=None)")
