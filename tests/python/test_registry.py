"""Opening a store, and creating, listing and dropping collections; entries of the directory that
are not collection files. Refused names and directories are in test_hostile_input.py."""
import json
import os
import subprocess
import sys

import pytest

import zarvel
from conftest import PanicException, raises


def test_new_store_creates_its_directory(store_dir):
    umask = os.umask(0)
    os.umask(umask)
    store = zarvel.Zarvel(str(store_dir))
    assert store_dir.is_dir()
    assert store_dir.stat().st_mode & 0o777 == 0o777 & ~umask
    assert store.collections() == []


def test_empty_directory_name_resolves_against_the_working_directory(tmp_path, monkeypatch):
    monkeypatch.chdir(tmp_path)
    store = zarvel.Zarvel("")
    store.create_collection("c")
    assert (tmp_path / "c.json").read_bytes() == b'{ "c":[] }'
    with pytest.raises(FileNotFoundError):
        store.collections()


def test_relative_directory_follows_the_working_directory_of_each_call(tmp_path, monkeypatch):
    (tmp_path / "one").mkdir()
    (tmp_path / "two").mkdir()
    monkeypatch.chdir(tmp_path / "one")
    store = zarvel.Zarvel("db")
    monkeypatch.chdir(tmp_path / "two")
    (tmp_path / "two" / "db").mkdir()
    store.create_collection("c")
    assert (tmp_path / "two" / "db" / "c.json").exists()
    assert not (tmp_path / "one" / "db" / "c.json").exists()


def test_create_collection_writes_the_keyed_form_once_and_keeps_a_registered_collection(store, store_dir):
    store.create_collection("users")
    path = store_dir / "users.json"
    assert path.read_bytes() == b'{ "users":[] }'
    path.write_bytes(b"[]")
    store.create_collection("users")  # the file exists: nothing changes
    assert path.read_bytes() == b"[]" and store.collections() == ["users"]
    store.insert("users", {"a": 1})
    path.unlink()
    store.create_collection("users")  # the file is written anew; the documents stay
    assert path.read_bytes() == b'{ "users":[] }' and store.find("users") == [{"a": 1}]


def test_create_collection_does_not_follow_a_dangling_link(store, store_dir, tmp_path):
    (store_dir / "c.json").symlink_to(tmp_path / "outside.json")
    store.create_collection("c")
    raises(ValueError, "Collection with name 'c' not found on disk", store.insert, "c", {"a": 1})
    assert not (tmp_path / "outside.json").exists()
    assert (store_dir / "c.json").is_symlink() and os.listdir(store_dir) == ["c.json"]


def test_collections_lists_every_entry_stem_of_the_directory(store, store_dir):
    for name in ("users.json", "notes.txt", "USERS.JSON", "x.json.bak", ".hidden", "a.json", "a.txt"):
        (store_dir / name).write_text("[]")
    (store_dir / "sub").mkdir()
    expected = [n if n.rfind(".") <= 0 else n[: n.rfind(".")] for n in os.listdir(store_dir)]
    assert store.collections() == expected
    assert sorted(expected) == [".hidden", "USERS", "a", "a", "notes", "sub", "users", "x.json"]


def replace_file_by_directory(path):
    """unlink(2) refuses a directory with EISDIR, even to root."""
    path.unlink()
    path.mkdir()


def test_drop_collection_removes_the_file_and_ignores_only_its_absence(store, store_dir):
    store.create_collection("c")
    assert store.drop_collection("c") is None
    assert not (store_dir / "c.json").exists()
    assert store.drop_collection("absent") is None
    store.insert("d", {"d": 1})
    replace_file_by_directory(store_dir / "d.json")
    raises(OSError, "Is a directory (os error 21)", store.drop_collection, "d")
    assert store.find("d") == [{"d": 1}]  # still registered, not loaded again from the disk


def test_drop_all_tries_every_collection_then_raises_the_first_failure(store, store_dir):
    for name in ("a", "d", "e", "z"):
        store.insert(name, {name: 1})
    replace_file_by_directory(store_dir / "d.json")
    replace_file_by_directory(store_dir / "e.json")
    raises(OSError, "Is a directory (os error 21)", store.drop_all)
    assert sorted(os.listdir(store_dir)) == ["d.json", "e.json"]
    assert (store.find("d"), store.find("e")) == ([{"d": 1}], [{"e": 1}])


def test_drop_all_removes_collection_files_and_the_empty_directory(store, store_dir):
    store.create_collection("a")
    store.create_collection("b")
    assert store.drop_all() is None
    assert not store_dir.exists()
    raises(FileNotFoundError, "No such file or directory (os error 2)", store.collections)
    raises(FileNotFoundError, "No such file or directory (os error 2)", store.insert, "n", {"a": 1})
    raises(PanicException, "called `Result::unwrap()` on an `Err` value: PyErr { type: <class 'FileNotFoundError'>, "
           "value: FileNotFoundError('No such file or directory (os error 2)'), traceback: None }", store.drop_all)


def test_drop_all_leaves_entries_that_are_not_collection_files(store, store_dir):
    store.create_collection("notes")
    (store_dir / "notes.txt").write_text("keep")
    (store_dir / "x.json.bak").write_text("keep")
    (store_dir / "x.json.json").write_text("[]")
    store.drop_all()
    # "notes.txt" has the stem "notes", whose file notes.json goes; "x.json.bak" has the stem
    # "x.json", whose file x.json.json goes.
    assert sorted(os.listdir(store_dir)) == ["notes.txt", "x.json.bak"]


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
    done = subprocess.run([sys.executable, "-c", ODD_ENTRY_CHILD, str(store_dir)], capture_output=True, timeout=10)
    assert done.returncode == 0, done.stderr.decode()
    assert json.loads(done.stdout) == [[1], names, x, dropped, left]
