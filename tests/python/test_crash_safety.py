"""A process killed with SIGKILL at random moments while it writes a large collection, or while it
creates collections one after another. After every kill the collection file holds the whole old
content or the whole new one, a new store reopens the directory, and no other file is touched. A killed writer may leave its temporary file
`.c.json.<16 hex digits>.tmp` behind: it holds a prefix of the text being written, is never loaded,
and the next open of the store removes it."""
import json
import os
import random
import re
import signal
import subprocess
import sys
import time

import zarvel

DOCUMENTS = 30000  # about 13 MB: one write takes tens of milliseconds
ROUNDS = 60
PAD = "p" * 400

# Announces each generation on the descriptor given first before writing it; fd 1 takes update's
# trace lines.
WRITER = """
import os, sys, zarvel
report = os.fdopen(int(sys.argv[1]), "w", buffering=1)
store = zarvel.Zarvel(sys.argv[2])
generation = int(sys.argv[3])
while True:
    generation += 1
    store.update("c", {"gen": generation})
    report.write(f"{generation}\\n")
    store.write("c")
"""


def documents(generation):
    return [{"gen": generation, "i": i, "pad": PAD} for i in range(DOCUMENTS)]


def kill_after_first_report(code, args, cwd, delay):
    """Runs `code` with a report descriptor and `args`, kills it `delay` seconds after its first
    report line; returns the last line it reported."""
    read_end, write_end = os.pipe()
    child = subprocess.Popen([sys.executable, "-c", code, str(write_end), *map(str, args)], pass_fds=(write_end,),
                             cwd=cwd, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    os.close(write_end)
    with os.fdopen(read_end) as report:
        first = report.readline()
        assert first, child.communicate()[1].decode()
        time.sleep(delay)
        child.send_signal(signal.SIGKILL)
        last = ([first] + report.read().split())[-1]
    child.communicate()
    assert child.returncode == -signal.SIGKILL
    return last


def test_killed_writer_leaves_old_or_new_content(tmp_path):
    db = tmp_path / "db"
    store = zarvel.Zarvel(str(db))
    store.insert_many("c", documents(0))
    store.insert("other", {"keep": "me"})
    started = time.perf_counter()
    store.write_all()
    write_seconds = time.perf_counter() - started
    other = (db / "other.json").read_bytes()
    del store

    rng = random.Random(20240613)
    generation, seen, leftovers = 0, set(), 0
    for _ in range(ROUNDS):
        announced = int(kill_after_first_report(WRITER, [db, generation], tmp_path, rng.uniform(0, 3 * write_seconds)))
        content = json.loads((db / "c.json").read_bytes())
        old, new = documents(announced - 1), documents(announced)
        assert content == old or content == new
        generation = content[0]["gen"]
        seen.add(generation == announced)
        assert (db / "other.json").read_bytes() == other
        assert sorted(os.listdir(tmp_path)) == ["db"]
        names = set(os.listdir(db)) - {"c.json", "other.json"}
        assert len(names) <= 1 and all(re.fullmatch(r"\.c\.json\.[0-9a-f]{16}\.tmp", n) for n in names)
        if names:
            # This writer's partial text: what an earlier one left was removed when this one opened.
            assert json.dumps(new, separators=(",", ":")).encode().startswith((db / names.pop()).read_bytes())
            leftovers += 1
        reopened = zarvel.Zarvel(str(db))
        assert sorted(os.listdir(db)) == ["c.json", "other.json"]
        assert reopened.find("c", {"i": DOCUMENTS - 1}) == [{"gen": generation, "i": DOCUMENTS - 1, "pad": PAD}]
        assert reopened.find("other") == [{"keep": "me"}]
    # The kills landed both before and after renames, and some inside a write.
    assert seen == {True, False}
    assert leftovers > 0


# Inserts into new collections, each creating its file, until killed.
CREATOR = """
import os, sys, zarvel
store = zarvel.Zarvel(sys.argv[2])
os.write(int(sys.argv[1]), b"started\\n")
for i in range(10**9):
    store.insert(f"{sys.argv[3]}-{i}", {"i": i})
"""


def test_killed_creator_leaves_whole_files_and_a_directory_that_reopens(tmp_path):
    db = tmp_path / "db"
    zarvel.Zarvel(str(db))
    rng = random.Random(20240614)
    for round in range(30):
        kill_after_first_report(CREATOR, [db, round], tmp_path, rng.uniform(0.002, 0.03))
        # Every file is whole: an empty or partial one would make this open fail.
        reopened = zarvel.Zarvel(str(db))
        names = reopened.collections()
        assert all(reopened.find(name) == [] for name in names)
        assert sorted(os.listdir(db)) == sorted(name + ".json" for name in names)
    # A round killed before its first creation adds nothing; across the rounds, many did create.
    assert names, "no round created a collection before it was killed"
