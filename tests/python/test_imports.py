"""Importing documents from the caller's JSON files. Files that cannot be imported are in
test_hostile_input.py."""
import pytest


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


def test_insert_many_from_document_appends_the_array(store, write_file):
    store.insert_many_from_document("c", write_file("[]"))
    assert store.find("c") == []
    store.insert_many_from_document("c", write_file('[{"a":1}, 2]'))
    assert store.find("c") == [{"a": 1}, 2]
