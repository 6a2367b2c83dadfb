"""The query language as Python callers meet it: malformed documents refused before any document is
read, documents that are not dicts, and the update operators on lists. The operators' rules are
tested in C++ and against a reference in test_query_model.py."""
import json
import re

import pytest

import zarvel
from conftest import PanicException, raises

MALFORMED = [
    ({"a": {"$in": 5}}, "Malformed query, $in needs a list"),
    ({"a": {"$exists": "yes"}}, "Malformed query, $exists needs a bool"),
    ({"a": {"$size": True}}, "Malformed query, $size needs an int >= 0"),
    ({"a": {"$regex": "x", "$options": "q"}}, "Malformed query, $options needs a str of letters from imsx"),
    ({"a": {"$regex": "[a-"}}, "Malformed query, bad $regex pattern: unterminated character set at position 0"),
    ({"a": {"$regex": "(?P=n)"}}, None),  # not supported: refused with a message of its own
    ({"$or": [{"a": 1}, [2]]}, "Malformed query, $or needs a non-empty list of query documents"),
    ({"a": {"$not": {}}}, "Malformed query, $not needs a non-empty dict of operators"),
    ({"a": {"$gt": 1, "$where": "x"}}, "Unknown query operator found: $where"),
]


@pytest.mark.parametrize("query, message", MALFORMED, ids=[json.dumps(q) for q, _ in MALFORMED])
def test_malformed_queries_are_refused_before_any_document_is_read(store, query, message):
    store.insert_many("c", [{"a": "x"}, {"a": 2}])
    for call in (lambda: store.find("c", query), lambda: store.update("c", {"a": 0}, query)):
        with pytest.raises(PanicException) as info:
            call()
        assert message is None or str(info.value) == message
    assert store.find("c") == [{"a": "x"}, {"a": 2}]


@pytest.mark.parametrize("pattern, options", [
    ("^a", ""), ("^a", "i"), ("^b$", "m"), ("a.b", "s"), ("a b # then a comment", "x"), ("^A.B$", "ims"),
])
def test_regex_options_mean_what_they_mean_to_re_search(store, pattern, options):
    texts = ["ab", "Ab", "a\nb", "b", "x\nb\n", "A\nB"]
    store.insert_many("c", [{"s": t} for t in texts] + [{"s": 5}, {"s": ["ab"]}, {}])
    flags = sum(getattr(re, letter.upper()) for letter in options)
    query = {"s": {"$regex": pattern, "$options": options}}
    assert [d["s"] for d in store.find("c", query)] == [t for t in texts if re.search(pattern, t, flags)]


@pytest.mark.parametrize("call, message", [
    (lambda z: z.insert_many("c", [{"a": 1}, 5]), "documents[1]: 'int' object is not a document"),
    (lambda z: z.insert_many("c", [None]), "documents[0]: 'NoneType' object is not a document"),
    (lambda z: z.insert_many("c", [{}, {}, (1,)]), "documents[2]: 'list' object is not a document"),
    (lambda z: z.insert_many_from_document("c", "in.json"), "documents[1]: 'str' object is not a document"),
    (lambda z: z.load_from_document("load.json"), "d[0]: 'float' object is not a document"),
])
def test_inserts_refuse_what_is_not_a_document(store, store_dir, tmp_path, monkeypatch, call, message):
    monkeypatch.chdir(tmp_path)
    (tmp_path / "in.json").write_text('[{"a": 1}, "x"]')
    (tmp_path / "load.json").write_text('{"c": [{"a": 1}], "d": [1.5]}')
    raises(TypeError, message, call, store)
    assert store.collections() == [] and not (store_dir / "c.json").exists()


def test_documents_that_are_not_objects_in_a_file_never_break_the_collection(store_dir):
    store_dir.mkdir()
    (store_dir / "c.json").write_text('[{"n": 1}, 5, [1], null, {"n": 2}]')
    store = zarvel.Zarvel(str(store_dir))
    assert store.find("c", {"n": {"$gte": 1}}) == [{"n": 1}, {"n": 2}]
    assert store.find("c", {"n": {"$exists": False}}) == []
    store.update("c", {"n": {"$inc": 1}})
    assert store.find("c") == [{"n": 2.0}, 5, [1], None, {"n": 3.0}]
    store.write("c")
    assert json.loads((store_dir / "c.json").read_text()) == [{"n": 2.0}, 5, [1], None, {"n": 3.0}]


def test_update_members_and_list_operators(store):
    store.insert_many("c", [{"a": {"b": 0, "c": 0}, "n": 1, "t": [1, 2, 1]}, {"t": "x", "n": 2}])
    store.update("c", {"a": {"b": 1, "c": 2}, "n": {"$subtract": 1, "$inc": 0}, "t": {"$pull": 1}})
    store.update("c", {"t": {"$push": {"k": [None]}}})
    assert store.find("c") == [{"a": {"b": 1, "c": 2}, "n": 1.0, "t": [2, {"k": [None]}]}, {"n": 2.0, "t": "x"}]
