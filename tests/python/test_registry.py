"""Opening a store, and creating, listing and dropping collections; entries of the directory that
are not collection files. Refused names and directories are in test_hostile_input.py."""
import os

import pytest

import zarvel
from conftest import PanicException, raises, replace_by_directory, run_child


def test_new_store_creates_its_directory(store_dir):
    umask = os.umask(0)
    os.umask(umask)
    store = zarvel.Zarvel(str(store_dir))
    assert store_dir.is_dir()
    assert store_dir.stat().st_mode & 0o777 == 0o777 & ~umask
    assert store.collections() == []


def test_relative_directory_follows_the_working_directory_of_each_call(tmp_path, monkeypatch):
    (tmp_path / "one").mkdir()
    (tmp_path / "two" / "db").mkdir(parents=True)
    monkeypatch.chdir(tmp_path / "one")
    store, empty_name = zarvel.Zarvel("db"), zarvel.Zarvel("")
    monkeypatch.chdir(tmp_path / "two")
    store.create_collection("c")
    empty_name.create_collection("c")
    assert (tmp_path / "two" / "db" / "c.json").exists()
    assert not (tmp_path / "one" / "db" / "c.json").exists()
    assert (tmp_path / "two" / "c.json").read_bytes() == b'{ "c":[] }'
    with pytest.raises(FileNotFoundError):
        empty_name.collections()


@pytest.mark.parametrize("name, keyed", [("users", b'{ "users":[] }'), ('a"b', b'{ "a\\"b":[] }'), ("a.b", b'{ "a.b":[] }')])
def test_create_collection_writes_the_keyed_form_once_and_keeps_a_registered_collection(store, store_dir, name, keyed):
    store.create_collection(name)
    path = store_dir / f"{name}.json"
    assert path.read_bytes() == keyed
    assert zarvel.Zarvel(str(store_dir)).find(name) == []
    path.write_bytes(b"[]")
    store.create_collection(name)  # the file exists: nothing changes
    assert path.read_bytes() == b"[]" and store.collections() == [name]
    store.insert(name, {"a": 1})
    path.unlink()
    store.create_collection(name)  # the file is written anew; the documents stay
    assert path.read_bytes() == keyed and store.find(name) == [{"a": 1}]


def test_create_collection_does_not_follow_a_dangling_link(store, store_dir, tmp_path):
    (store_dir / "c.json").symlink_to(tmp_path / "outside.json")
    store.create_collection("c")
    raises(ValueError, "Collection with name 'c' not found on disk", store.insert, "c", {"a": 1})
    assert not (tmp_path / "outside.json").exists()
    assert (store_dir / "c.json").is_symlink() and os.listdir(store_dir) == ["c.json"]


def test_entries_that_are_not_collection_files_are_listed_by_stem_but_neither_loaded_nor_dropped(store_dir):
    store_dir.mkdir()
    for name in ("notes.txt", "USERS.JSON", "x.json.bak", ".hidden", "a.txt"):
        (store_dir / name).write_text("not json")
    for name in ("users.json", "a.json", "a.b.json", "x.json.json"):
        (store_dir / name).write_text("[2]")
    (store_dir / "sub").mkdir()
    store = zarvel.Zarvel(str(store_dir))  # loads only the .json files
    assert store.find("users") == [2]
    expected = [n if n.rfind(".") <= 0 else n[: n.rfind(".")] for n in os.listdir(store_dir)]
    assert store.collections() == expected
    assert sorted(expected) == [".hidden", "USERS", "a", "a", "a.b", "notes", "sub", "users", "x.json", "x.json"]
    store.write_all()
    assert (store_dir / "a.b.json").read_bytes() == b"[2]"
    # Dropping the stem "notes" removes notes.json, absent; the stem "x.json" names x.json.json.
    store.drop_all()
    assert sorted(os.listdir(store_dir)) == [".hidden", "USERS.JSON", "a.txt", "notes.txt", "sub", "x.json.bak"]


def test_drop_collection_removes_the_file_and_ignores_only_its_absence(store, store_dir):
    store.create_collection("c")
    assert store.drop_collection("c") is None
    assert not (store_dir / "c.json").exists()
    assert store.drop_collection("absent") is None
    store.insert("d", {"d": 1})
    replace_by_directory(store_dir / "d.json")
    raises(OSError, "Is a directory (os error 21)", store.drop_collection, "d")
    assert store.find("d") == [{"d": 1}]  # still registered, not loaded again from the disk


def test_drop_all_tries_every_collection_raises_the_first_failure_then_removes_the_directory(store, store_dir):
    for name in ("a", "d", "e", "z"):
        store.insert(name, {name: 1})
    replace_by_directory(store_dir / "d.json")
    replace_by_directory(store_dir / "e.json")
    raises(OSError, "Is a directory (os error 21)", store.drop_all)
    assert sorted(os.listdir(store_dir)) == ["d.json", "e.json"]
    assert (store.find("d"), store.find("e")) == ([{"d": 1}], [{"e": 1}])
    (store_dir / "d.json").rmdir()
    (store_dir / "e.json").rmdir()
    assert store.drop_all() is None
    assert not store_dir.exists()
    raises(FileNotFoundError, "No such file or directory (os error 2)", store.collections)
    raises(FileNotFoundError, "No such file or directory (os error 2)", store.insert, "n", {"a": 1})
    raises(PanicException, "called `Result::unwrap()` on an `Err` value: PyErr { type: <class 'FileNotFoundError'>, "
           "value: FileNotFoundError('No such file or directory (os error 2)'), traceback: None }", store.drop_all)


def plant_odd_entry(db, kind):
    x = db / "x.json"
    if kind == "fifo":
        os.mkfifo(x)
    elif kind == "directory":
        x.mkdir()
        (x / "inside").write_bytes(b"[]")
    elif kind == "dangling-link":
        x.symlink_to(db.parent / "nowhere.json")
    elif kind == "link-loop":
        x.symlink_to(x)
    elif kind == "link-to-a-file":
        (db.parent / "elsewhere.json").write_bytes(b"[2]")
        x.symlink_to(db.parent / "elsewhere.json")
    else:  # a name that is not UTF-8 (os.fsencode turns the surrogate back into the byte 0xff)
        (db / f"\udcff.{kind.split('-')[-1]}").write_bytes(b"[]")


# Opens the store, then reports what it shows, finding x, and dropping everything.
ODD_ENTRY_CHILD = """
import json, os, sys, zarvel
db = sys.argv[1]
store = zarvel.Zarvel(db)
def outcome(call, *args):
    try:
        return call(*args)
    except BaseException as e:
        return [type(e).__name__, str(e)]
out = [store.find("good"), store.collections(), outcome(store.find, "x"), outcome(store.drop_all)]
print(json.dumps(out + [sorted(os.listdir(db)) if os.path.exists(db) else None]))
"""
BAD_JSON = ["ValueError", "Error deserializing JSON"]
NOT_ON_DISK = ["ValueError", "Collection with name 'x' not found on disk"]
NON_UTF8 = ["good"], NOT_ON_DISK, None

# kind of entry: collections(), find("x"), drop_all(), what drop_all leaves; find("good") is [1].
ODD_ENTRIES = {
    "non-utf8-json": (*NON_UTF8, ["\udcff.json"]),
    "non-utf8-txt": (*NON_UTF8, ["\udcff.txt"]),
    "fifo": (["good", "x"], BAD_JSON, None, None),  # read without waiting, as empty
    "directory": (["good", "x"], BAD_JSON, ["OSError", "Is a directory (os error 21)"], ["x.json"]),
    "dangling-link": (["good", "x"], NOT_ON_DISK, None, None),
    "link-loop": (["good", "x"], NOT_ON_DISK, None, None),
    "link-to-a-file": (["good", "x"], [2], None, None),
}


@pytest.mark.parametrize("kind, names, x, dropped, left", [(k, *v) for k, v in ODD_ENTRIES.items()],
                         ids=ODD_ENTRIES.keys())
def test_an_odd_entry_does_not_lock_out_the_store(store_dir, kind, names, x, dropped, left):
    store_dir.mkdir()
    (store_dir / "good.json").write_bytes(b"[1]")
    plant_odd_entry(store_dir, kind)
    assert run_child(ODD_ENTRY_CHILD, None, store_dir) == [[1], names, x, dropped, left]
