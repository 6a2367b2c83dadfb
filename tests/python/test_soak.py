"""A long loop of mixed operations on one store, a refused insert among them and a collection large
enough to be indexed: resident memory stays flat after warm-up and every object passed in keeps its
reference count. `make test` runs a short loop; `make soak` sets
ZARVEL_SOAK_OPERATIONS to a million."""
import json
import os
import subprocess
import sys

OPERATIONS = int(os.environ.get("ZARVEL_SOAK_OPERATIONS", "30000"))
SAMPLES = 20
GROWTH_LIMIT = 2 << 20  # bytes of resident memory allowed to appear after warm-up

# Runs in a child so that its memory is its own and update's trace lines go to /dev/null.
SOAK = """
import json, os, sys, zarvel
operations, samples = int(sys.argv[1]), int(sys.argv[2])
page = os.sysconf("SC_PAGE_SIZE")
def rss():
    with open("/proc/self/statm") as f:
        return int(f.read().split()[1]) * page
base = [{"n": i, "name": f"user{i}", "tags": ["a", "b"], "geo": {"x": i / 3}} for i in range(200)]
one = {"n": -1, "name": "one", "tags": []}
everything, cached, selected = {"n": {"$gte": 0}}, {"geo.x": {"$lt": 10.0}}, {"name": "user7"}
increment, rename = {"n": {"$inc": 1}}, {"name": "renamed", "tags.0": "z"}
failing = {"doc": base[0], "bad": b"bytes"}  # refused after base[0] has been converted
passed = [base, one, everything, cached, selected, increment, rename, failing, *base]
counts = [sys.getrefcount(passed[k]) for k in range(len(passed))]
store = zarvel.Zarvel("db")
# Large enough for indexes, which every change below must keep current without growing.
store.insert_many("big", [{"id": i, "n": i % 97} for i in range(1200)])
memory = []
for i in range(operations):
    key = i % 1200
    if i % 4 == 0:
        store.find("big", {"id": key})
    elif i % 4 == 1:
        store.count("big", {"n": {"$gte": key % 97, "$lt": key % 97 + 2}})
    elif i % 4 == 2:
        store.delete("big", {"id": key})
        store.insert("big", {"id": key, "n": key % 97})
    else:
        store.update("big", {"n": {"$set": key % 97}}, {"id": key})
    step = i % 50
    if step == 0:
        store.drop_collection("c")
        store.insert_many("c", base)
    elif step % 10 == 1:
        store.insert("c", one)
    elif step % 10 == 2:
        store.find("c")
    elif step % 10 == 3:
        store.find("c", {"n": i % 300})  # a new query most times: the cache evicts
    elif step % 10 == 4:
        store.find("c", cached)
    elif step % 10 == 5:
        store.update("c", increment, selected)
    elif step % 10 == 6:
        store.update("c", rename, everything, return_result=True)
    elif step % 10 == 7:
        store.write("c")
    elif step % 10 == 8:
        store.clear_cache()
        try:
            store.insert("c", failing)
        except BaseException:
            pass
    else:
        store.find("c", everything)
    if i % (operations // samples) == 0:
        memory.append(rss())
del store
counts = [sys.getrefcount(passed[k]) - counts[k] for k in range(len(passed))]
print(json.dumps({"memory": memory, "counts": counts}), file=sys.stderr)
"""


def test_mixed_operations_keep_memory_flat_and_references_balanced(tmp_path):
    done = subprocess.run([sys.executable, "-c", SOAK, str(OPERATIONS), str(SAMPLES)], cwd=tmp_path,
                          stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, timeout=3600)
    assert done.returncode == 0, done.stderr.decode()
    report = json.loads(done.stderr.decode().splitlines()[-1])
    assert set(report["counts"]) == {0}
    after_warm_up = report["memory"][SAMPLES // 4:]
    assert max(after_warm_up) - after_warm_up[0] <= GROWTH_LIMIT, report["memory"]
