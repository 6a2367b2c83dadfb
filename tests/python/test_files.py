"""Collection files on disk: their exact bytes, reopening, loading on demand, failed writes, and importing
the caller's JSON files (files that cannot be imported are in test_hostile_input.py)."""
import json
import os
import random

import pytest

import zarvel
from conftest import NONE, UNWRAP, PanicException, identical, normalised, raises

DATA = os.path.join(os.path.dirname(__file__), "..", "data")
REAL = os.path.join(DATA, "nativejson-benchmark", "data")


def test_written_file_has_the_exact_compact_text_and_numbers_keep_their_form(store, store_dir):
    store.insert_many("c", [{"name": "Ann", "age": 30}, {"b": [1.5, None], "a": "x\ny"}])
    store.insert_many("c", [{"x": x} for x in (2.0, 2, -0.0, 2**64 - 1, -(2**63), 1e16, 1e-6)])
    store.write("c")
    assert (store_dir / "c.json").read_bytes() == (
        b'[{"age":30,"name":"Ann"},{"a":"x\\ny","b":[1.5,null]},{"x":2.0},{"x":2},{"x":-0.0},'
        b'{"x":18446744073709551615},{"x":-9223372036854775808},{"x":1e16},{"x":1e-6}]'
    )
    assert os.listdir(store_dir) == ["c.json"]
    found = zarvel.Zarvel(str(store_dir)).find("c")
    assert identical(found, store.find("c"))


def test_floats_in_the_plain_range_are_written_as_their_shortest_repr(store, store_dir):
    # Values with few decimals take a shorter path than the others; both must give repr's digits.
    rng = random.Random(11)
    values = []
    for _ in range(5000):
        magnitude = 10 ** rng.uniform(-3, 15)
        values += [round(rng.random() * magnitude, rng.randrange(10)), rng.random() * magnitude]
    values = [v for v in values if 1e-3 <= v < 1e15] + [0.001, 0.1 + 0.2, 999999999999999.9, 1e15 - 1]
    store.insert_many("c", [{"v": values}])
    store.write("c")
    assert (store_dir / "c.json").read_text() == '[{"v":[%s]}]' % ",".join(map(repr, values))


def test_on_demand_load_reads_both_forms_and_insert_keeps_what_the_file_holds(store, store_dir):
    (store_dir / "arr.json").write_text('[{"a":1}]')
    (store_dir / "keyed.json").write_text('{"keyed":[{"b":2}],"other":1}')
    assert store.find("arr") == [{"a": 1}]
    assert store.find("keyed") == [{"b": 2}]
    (store_dir / "c.json").write_text('[{"old":1}]')
    store.insert("c", {"new": 2})
    assert store.find("c") == [{"old": 1}, {"new": 2}]


@pytest.mark.parametrize("name", ["twitter.json", "citm_catalog.json", "canada.json"])
def test_real_documents_survive_write_and_reopen(tmp_path, name):
    with open(os.path.join(REAL, name), "rb") as f:
        text = f.read()
    (tmp_path / "in.json").write_bytes(b"[" + text + b"]")
    store = zarvel.Zarvel(str(tmp_path / "db"))
    store.insert_many_from_document("c", str(tmp_path / "in.json"))
    store.write("c")
    (found,) = zarvel.Zarvel(str(tmp_path / "db")).find("c")
    assert identical(found, normalised(json.loads(text)))


def test_imports_append_to_their_collections(store, store_dir, tmp_path):
    store.insert("a", {"first": True})
    (tmp_path / "in.json").write_text('{"b":[{"x":1}],"a":{"y":2}}')
    store.load_from_document(str(tmp_path / "in.json"))
    assert store.find("a") == [{"first": True}, {"y": 2}]
    assert store.find("b") == [{"x": 1}]
    assert (store_dir / "b.json").read_bytes() == b'{ "b":[] }'  # created, not written
    for text, expected in [("[]", []), ('[{"a":1}, {}]', [{"a": 1}, {}])]:
        (tmp_path / "in.json").write_text(text)
        store.insert_many_from_document("c", str(tmp_path / "in.json"))
        assert store.find("c") == expected


# A file that cannot be read: (file planted, content, call, exception, message, note). The path in
# the note is as the store or the caller gave it, here relative to the working directory.
UNREADABLE = {
    "start-up-bad-json": ("db/x.json", b'[1,\n 2,\n 3 x]', lambda z: zarvel.Zarvel("db"), ValueError,
                          "Error deserializing JSON", "while loading db/x.json: line 3, column 4"),
    "start-up-empty": ("db/x.json", b"", lambda z: zarvel.Zarvel("db"), ValueError,
                       "Error deserializing JSON", "while loading db/x.json: line 1, column 1"),
    "start-up-wrong-form": ("db/x.json", b"5", lambda z: zarvel.Zarvel("db"), PanicException, NONE,
                            "while loading db/x.json"),
    "find-truncated": ("db/y.json", b'[{"a":\n', lambda z: z.find("y"), ValueError,
                       "Error deserializing JSON", "while loading db/y.json: line 2, column 1"),
    "update-truncated": ("db/y.json", b'[{"a":\n', lambda z: z.update("y", {"a": 1}), PanicException,
                         UNWRAP + "PyErr { type: <class 'ValueError'>, value: ValueError('Error deserializing JSON'), traceback: None }",
                         "while loading db/y.json: line 2, column 1"),
    "import-bad-utf8": ("in.json", b'[\n"ok",\n"\xff"]', lambda z: z.insert_many_from_document("c", "in.json"),
                        ValueError, "Error deserializing JSON", "while loading in.json: line 3, column 2"),
    "import-missing": (None, None, lambda z: z.load_from_document("missing.json"), OSError,
                       "Error opening document No such file or directory (os error 2)", "while loading missing.json"),
}


@pytest.mark.parametrize("path, content, call, error, message, note", UNREADABLE.values(), ids=UNREADABLE.keys())
def test_a_file_that_cannot_be_read_is_named_in_a_note(tmp_path, monkeypatch, path, content, call, error, message, note):
    monkeypatch.chdir(tmp_path)
    store = zarvel.Zarvel("db")
    if path:
        (tmp_path / path).write_bytes(content)
    raised = raises(error, message, call, store)
    assert raised.__notes__ == [note]
