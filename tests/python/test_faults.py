"""Faults injected under a live store: writes refused part-way by the file-size limit, an update
that runs out of memory, and the directory or a collection file changed behind the store's back. Each gives its own exception and
message, changes no file it should not, leaves no temporary file, and the store keeps working."""
import os
import shutil

import pytest

import zarvel
from conftest import UNWRAP, file_tree, replace_by_directory, run_child

TOO_LARGE = 'Os { code: 27, kind: FileTooLarge, message: "File too large" }'
OLD = b'[{"i":0},{"i":1}]'

# The call runs with RLIMIT_FSIZE at `limit` bytes, then again with no limit. `many` documents
# overflow the 8192-byte write buffer, so serialisation itself fails; a few reach disk only in
# the final flush. b and d, on either side of c in any plain order, hold one document not yet
# written: write_all must still write them after c fails.
EFBIG_CASES = {
    "write-serialising": (20000, "many", "z.write('c')", "ValueError", "Error serializing JSON"),
    "write-nothing-fits": (0, "many", "z.write('c')", "ValueError", "Error serializing JSON"),
    "write-final-flush": (100, "few", "z.write('c')", "PanicException", UNWRAP + TOO_LARGE),
    "write_all-final-flush": (100, "few", "z.write_all()", "PanicException", UNWRAP + TOO_LARGE),
    "create-collection": (0, "few", "z.create_collection('n')", "OSError", "File too large (os error 27)"),
    "insert-creating": (0, "few", "z.insert('n', {'a': 1})", "OSError", "File too large (os error 27)"),
}

EFBIG_CHILD = """
import json, os, resource, signal, zarvel
signal.signal(signal.SIGXFSZ, signal.SIG_IGN)  # write(2) then fails with EFBIG
z = zarvel.Zarvel("db")
for name in "bcd":
    z.insert_many(name, [{{"i": 0}}, {{"i": 1}}])
z.write_all()
z.insert_many("c", [{{"pad": "x" * 100}}] * (10000 if {many!r} == "many" else 5))
z.insert("b", {{"i": 2}})
z.insert("d", {{"i": 2}})
resource.setrlimit(resource.RLIMIT_FSIZE, ({limit}, resource.RLIM_INFINITY))
try:
    {call}
    error = None
except BaseException as e:
    error = [type(e).__name__, str(e)]
files = {{name: open("db/" + name, "rb").read().decode() for name in os.listdir("db")}}
resource.setrlimit(resource.RLIMIT_FSIZE, (resource.RLIM_INFINITY,) * 2)
{call}
z.write_all()
print(json.dumps([error, files, os.listdir(".")]))
"""


@pytest.mark.parametrize("limit, many, call, error, message", EFBIG_CASES.values(), ids=EFBIG_CASES.keys())
def test_write_refused_by_the_file_size_limit(tmp_path, limit, many, call, error, message):
    raised, files, cwd = run_child(EFBIG_CHILD.format(limit=limit, many=many, call=call), tmp_path)
    assert raised == [error, message]
    other = '[{"i":0},{"i":1},{"i":2}]' if call == "z.write_all()" else OLD.decode()
    # No temporary file, no partial new collection, and c as it was.
    assert files == {"b.json": other, "c.json": OLD.decode(), "d.json": other}
    assert cwd == ["db"]
    # Once the limit is gone, the same store completes the call and writes everything.
    reopened = zarvel.Zarvel(str(tmp_path / "db"))
    assert len(reopened.find("c")) == 2 + (10000 if many == "many" else 5)
    assert reopened.find("b") == reopened.find("d") == [{"i": 0}, {"i": 1}, {"i": 2}]
    assert sorted(os.listdir(tmp_path / "db")) == ["b.json", "c.json", "d.json"] + (["n.json"] if "'n'" in call else [])


def directory_to_file(db):
    shutil.rmtree(db)
    db.write_bytes(b"not a directory")


def restore_directory(db):
    if db.is_file():
        db.unlink()
    db.mkdir(exist_ok=True)
    if (db / "c.json").is_dir():
        (db / "c.json").rmdir()


# (fault, call, exception, message); the store is on "db" with c and d written and one more
# document in c not yet written.
NO_TEMPORARY = 'Problem creating temporary file: Os { code: %d, kind: %s, message: "%s" }'
BEHIND_THE_BACK = {
    "directory-removed-write": (shutil.rmtree, lambda z: z.write("c"), OSError,
                                NO_TEMPORARY % (2, "NotFound", "No such file or directory")),
    "directory-removed-insert-new": (shutil.rmtree, lambda z: z.insert("n", {"a": 1}), FileNotFoundError,
                                     "No such file or directory (os error 2)"),
    "directory-is-a-file-write": (directory_to_file, lambda z: z.write("c"), OSError,
                                  NO_TEMPORARY % (20, "NotADirectory", "Not a directory")),
    "directory-is-a-file-write_all": (directory_to_file, lambda z: z.write_all(), OSError,
                                      NO_TEMPORARY % (20, "NotADirectory", "Not a directory")),
    "directory-is-a-file-create": (directory_to_file, lambda z: z.create_collection("n"), OSError,
                                   "Not a directory (os error 20)"),
    "file-is-a-directory-write_all": (lambda db: replace_by_directory(db / "c.json"), lambda z: z.write_all(), OSError,
                                      'Error renaming file: Os { code: 21, kind: IsADirectory, message: "Is a directory" }'),
    "file-is-garbage-reopen": (lambda db: (db / "c.json").write_bytes(b"\x00garbage["), lambda z: zarvel.Zarvel("db"),
                               ValueError, "Error deserializing JSON"),
}


@pytest.mark.parametrize("fault, call, error, message", BEHIND_THE_BACK.values(), ids=BEHIND_THE_BACK.keys())
def test_changes_behind_the_stores_back(tmp_path, monkeypatch, fault, call, error, message):
    monkeypatch.chdir(tmp_path)
    store = zarvel.Zarvel("db")
    store.insert("c", {"a": 1})
    store.insert("d", {"d": 1})
    store.write_all()
    store.insert("c", {"a": 2})
    fault(tmp_path / "db")
    before = file_tree()
    with pytest.raises(BaseException) as info:
        call(store)
    assert type(info.value) is error and info.value.args == (message,), repr(info.value)
    assert file_tree() == before  # nothing half-written, no temporary file left
    # The documents in memory are untouched; once the directory is repaired they all reach disk.
    assert store.find("c") == [{"a": 1}, {"a": 2}]
    restore_directory(tmp_path / "db")
    store.write_all()
    reopened = zarvel.Zarvel("db")
    assert (reopened.find("c"), reopened.find("d")) == ([{"a": 1}, {"a": 2}], [{"d": 1}])
    assert not [p for p in file_tree() if p.endswith(".tmp")]


# 400 documents each take their own copy of a 1 MiB string, with only 100 MiB of address space to
# spare: the copies cannot all be made.
MEMORY_CHILD = """
import json, resource, zarvel
z = zarvel.Zarvel("db")
z.insert_many("c", [{"i": i, "a": i} for i in range(400)])
before = z.find("c")
big = "x" * 2**20
with open("/proc/self/statm") as f:
    used = int(f.read().split()[0]) * resource.getpagesize()
hard = resource.getrlimit(resource.RLIMIT_AS)[1]
resource.setrlimit(resource.RLIMIT_AS, (used + 100 * 2**20, hard))
try:
    z.update("c", {"a": {"$set": big}, "i": {"$inc": 1}}, {"i": {"$gte": 0}})
    error = None
except BaseException as e:
    error = type(e).__name__
resource.setrlimit(resource.RLIMIT_AS, (hard, hard))
unchanged = z.find("c") == before
z.update("c", {"a": {"$set": "small"}}, {"i": 0})
print(json.dumps([error, unchanged, z.find("c", {"a": "small"})]))
"""


@pytest.mark.skipif("libasan" in os.environ.get("LD_PRELOAD", ""),
                    reason="the address sanitizer reserves more address space than any limit leaves")
def test_update_that_runs_out_of_memory_changes_no_document(tmp_path):
    error, unchanged, changed = run_child(MEMORY_CHILD, tmp_path)
    assert error == "MemoryError" and unchanged
    assert changed == [{"a": "small", "i": 0}]  # and the store still updates
