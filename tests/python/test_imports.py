"""Importing documents from the caller's JSON files."""
import os

import pytest

from conftest import PanicException


@pytest.fixture
def write_file(tmp_path):
    def write(text, name="in.json"):
        path = tmp_path / name
        path.write_text(text)
        return str(path)

    return write


def test_load_from_document_appends_each_member_to_its_collection(store, store_dir, write_file):
    store.insert("a", {"first": True})
    store.load_from_document(write_file('{"b":[{"x":1}],"a":{"y":2}}'))
    assert store.find("a") == [{"first": True}, {"y": 2}]
    assert store.find("b") == [{"x": 1}]
    assert (store_dir / "b.json").read_bytes() == b'{ "b":[] }'  # created, not written


def test_load_from_document_checks_every_name_first(store, store_dir, write_file):
    with pytest.raises(ValueError) as info:
        store.load_from_document(write_file('{"a":[1],"b/c":[2]}'))
    assert str(info.value) == "Invalid collection name 'b/c'"
    assert os.listdir(store_dir) == []


def test_insert_many_from_document(store, store_dir, write_file):
    with pytest.raises(ValueError) as info:
        store.insert_many_from_document("c", write_file('{"a":1}'))
    assert str(info.value) == "Document is not an array"
    assert os.listdir(store_dir) == []
    store.insert_many_from_document("c", write_file("[]"))
    assert store.find("c") == []
    store.insert_many_from_document("c", write_file('[{"a":1}, 2]'))
    assert store.find("c") == [{"a": 1}, 2]


@pytest.mark.parametrize("method", ["load_from_document", "insert_many_from_document"])
def test_import_file_errors(store, tmp_path, write_file, method):
    def call(path):
        if method == "load_from_document":
            return store.load_from_document(path)
        return store.insert_many_from_document("c", path)

    cases = [
        (str(tmp_path / "missing.json"), OSError, "Error opening document No such file or directory (os error 2)"),
        (str(tmp_path), ValueError, "Error deserializing JSON"),
        (write_file("[1] x"), ValueError, "Error deserializing JSON"),
    ]
    for path, error, message in cases:
        with pytest.raises(error) as info:
            call(path)
        assert type(info.value) is error and str(info.value) == message
    if method == "load_from_document":
        with pytest.raises(PanicException) as info:
            call(write_file("[1]"))
        assert str(info.value) == "called `Option::unwrap()` on a `None` value"
    assert store.collections() == []
