"""The temporary files of writes: never shared between writers, never listed or loaded as
collections, removed when stale, and the permission bits of a rewritten file kept. (Links and files
planted at their names: temporary_file_test.cc.)"""
import json
import os
import subprocess
import sys
import time

import zarvel

STALE = ".c.json.0123456789abcdef.tmp"
HELD = ".c.json.fedcba9876543210.tmp"

# Holds an exclusive lock on a file, as a writer in another process does while it writes.
HOLDER = """
import fcntl, sys
f = open(sys.argv[1], "w")
fcntl.flock(f, fcntl.LOCK_EX)
print("locked", flush=True)
sys.stdin.read()
"""


def test_a_rewritten_file_keeps_its_permission_bits_and_a_new_one_follows_the_mask(store, store_dir):
    umask = os.umask(0o022)
    try:
        store.create_collection("new")
        assert (store_dir / "new.json").stat().st_mode & 0o777 == 0o644
        for mode in (0o600, 0o640, 0o666):
            os.chmod(store_dir / "new.json", mode)
            store.write("new")
            assert (store_dir / "new.json").stat().st_mode & 0o777 == mode
    finally:
        os.umask(umask)


def test_open_removes_stale_temporary_files_and_none_is_ever_a_collection(store_dir):
    store_dir.mkdir()
    (store_dir / "c.json").write_bytes(b"[1]")
    (store_dir / STALE).write_bytes(b"[2]")
    (store_dir / HELD).write_bytes(b"[3]")
    holder = subprocess.Popen([sys.executable, "-c", HOLDER, str(store_dir / HELD)],
                              stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
    try:
        assert holder.stdout.readline() == "locked\n"
        store = zarvel.Zarvel(str(store_dir))
        assert sorted(os.listdir(store_dir)) == [HELD, "c.json"]
        assert store.collections() == ["c"]
        store.write_all()
        store.drop_all()
        assert os.listdir(store_dir) == [HELD]
    finally:
        holder.communicate("")
    assert holder.returncode == 0


# Writes its own version of the collection "c" in a loop until killed, from the word "go" on.
WRITER = """
import sys, zarvel
store = zarvel.Zarvel(sys.argv[1])
store.insert_many("c", [{"writer": sys.argv[2], "i": i, "pad": "x" * 50} for i in range(int(sys.argv[3]))])
print("ready", flush=True)
assert sys.stdin.readline() == "go\\n"
while True:
    store.write("c")
"""


def test_concurrent_writers_of_one_collection_leave_whole_files(store_dir):
    store = zarvel.Zarvel(str(store_dir))
    store.create_collection("c")
    store.write("c")  # each writer loads this empty collection and appends its own documents
    sizes = {"a": 3000, "b": 5000, "": 0}
    writers = [subprocess.Popen([sys.executable, "-c", WRITER, str(store_dir), name, str(size)],
                                stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
               for name, size in list(sizes.items())[:2]]
    try:
        # Both stores are open before either writes, so neither loads what the other wrote.
        assert [w.stdout.readline() for w in writers] == ["ready\n"] * 2
        for w in writers:
            w.stdin.write("go\n")
            w.stdin.flush()
        seen, deadline = set(), time.monotonic() + 3
        while time.monotonic() < deadline:
            documents = json.loads((store_dir / "c.json").read_bytes())
            writer = documents[0]["writer"] if documents else ""
            assert documents == [{"i": i, "pad": "x" * 50, "writer": writer} for i in range(sizes[writer])]
            seen.add(writer)
        assert seen >= {"a", "b"}
        assert [w.poll() for w in writers] == [None, None]  # neither writer failed
    finally:
        for w in writers:
            w.kill()
            w.communicate()
    # The writers were killed, perhaps mid-write: the next open removes what they left.
    zarvel.Zarvel(str(store_dir))
    assert os.listdir(store_dir) == ["c.json"]
