"""What a Python program expects around the edges: `with` writes what changed, quiet updates, and
paths given as os.PathLike."""
import os
import pathlib

import pytest

import zarvel
from conftest import raises, run_python


def mtimes(directory):
    return {p.name: p.stat().st_mtime_ns for p in directory.iterdir()}


def test_with_writes_the_changed_collections_only_on_success(store_dir):
    with zarvel.Zarvel(str(store_dir)) as store:
        for name in ("kept", "changed", "emptied"):
            store.insert_many(name, [{"n": 1}, {"n": 2}])
    os.utime(store_dir / "kept.json", ns=(1, 1))  # a rewrite would give it the current time
    with zarvel.Zarvel(str(store_dir)) as store:
        store.insert("changed", {"n": 3})
        store.delete("emptied", {})
        # Reading, and a delete that removes nothing, change nothing.
        store.find("kept", {"n": 1}), store.count("kept"), store.delete("kept", {"n": 7})
    assert mtimes(store_dir)["kept.json"] == 1
    reopened = zarvel.Zarvel(str(store_dir))
    assert reopened.find("changed") == [{"n": 1}, {"n": 2}, {"n": 3}] and reopened.find("emptied") == []
    with pytest.raises(KeyError):
        with zarvel.Zarvel(str(store_dir)) as store:
            store.insert("changed", {"n": 4})
            raise KeyError("abandoned")
    assert zarvel.Zarvel(str(store_dir)).count("changed") == 3


def test_with_tries_every_collection_and_raises_the_first_failure(store_dir):
    with pytest.raises(OSError, match="Error renaming file"):
        with zarvel.Zarvel(str(store_dir)) as store:
            store.insert("a", {"n": 1})
            store.insert("b", {"n": 1})
            os.remove(store_dir / "a.json")
            os.mkdir(store_dir / "a.json")  # a rename cannot replace a directory
    assert zarvel.Zarvel(str(store_dir)).find("b") == [{"n": 1}]


UPDATES = """
import zarvel
z = zarvel.Zarvel("db", trace={trace})
z.insert_many("c", [{{"n": 1, "a": {{"b": 1, "c": 2}}, "t": [1]}}])
z.update("c", {{"n": {{"$inc": 1, "$set": 3}}, "a": {{"b": 0, "c": 0}}, "t": {{"$push": 2}}}})
z.update("c", {{"n": 1}}, {{"n": 3}}, True)
try:
    z.update("c", {{"n": 1, "m": {{"$nope": 1}}}})
except zarvel.PanicException:
    pass
try:
    z.update("c", {{"$inc": 1}})
except zarvel.PanicException:
    pass
print(z.find("c"))
"""


@pytest.mark.parametrize("trace", [True, False])
def test_trace_false_writes_no_trace_line(tmp_path, trace):
    code, out, err = run_python(UPDATES.format(trace=trace), cwd=tmp_path)
    assert code == 0, err
    lines = out.decode().splitlines()
    assert lines[-1] == "[{'a': {'b': 0, 'c': 0}, 'n': 1, 't': [1, 2]}]"
    # Two lines for each condition built: five, one, none (the unknown keyword sorts first), one.
    assert len(lines) == (1 + 2 * (5 + 1 + 0 + 1) if trace else 1)


class Fspath:
    def __init__(self, path):
        self.path = path

    def __fspath__(self):
        return self.path


@pytest.mark.parametrize("wrap", [pathlib.Path, Fspath], ids=["Path", "__fspath__"])
def test_paths_may_be_path_like(tmp_path, wrap):
    (tmp_path / "load.json").write_text('{"a": [{"n": 1}]}')
    (tmp_path / "many.json").write_text('[{"n": 2}]')
    store = zarvel.Zarvel(wrap(str(tmp_path / "db")))
    store.load_from_document(document_path=wrap(str(tmp_path / "load.json")))
    store.insert_many_from_document("a", wrap(str(tmp_path / "many.json")))
    assert store.find("a") == [{"n": 1}, {"n": 2}] and (tmp_path / "db" / "a.json").exists()


@pytest.mark.parametrize("value, message", [
    (b"db", "argument 'name': 'bytes' object cannot be converted to 'PyString'"),
    (Fspath(b"db"), "argument 'name': 'Fspath' object cannot be converted to 'PyString'"),
    (7, "argument 'name': 'int' object cannot be converted to 'PyString'"),
])
def test_paths_keep_their_argument_errors(tmp_path, value, message):
    raises(TypeError, message, zarvel.Zarvel, value)
    raises(TypeError, message.replace("'name'", "'document_path'"),
           zarvel.Zarvel(str(tmp_path / "db")).load_from_document, value)
