"""Automatic indexes as a caller meets them: built on the second use of a path, kept current by
every change, and never changing an answer or an error."""
import random

import zarvel
from conftest import identical, silently

SEED = 2026
SIZE = 1500


def documents(count, start=0):
    return [{"id": i, "age": 18 + i % 70, "city": "c%d" % (i % 40), "score": i * 0.5} for i in range(start, start + count)]


def indexed_paths(store):
    return sorted((path, kind) for path, kind, _ in store._indexes("c"))


def test_built_on_the_second_use_and_kept_through_changes(store, store_dir):
    store.insert_many("c", documents(SIZE))
    assert store.find("c", {"id": 7}) == documents(1, 7)
    assert indexed_paths(store) == []
    assert store.count("c", {"id": {"$in": [8, 9, 10**6]}, "age": {"$gte": 20, "$lt": 30}}) == 2
    assert indexed_paths(store) == [("id", "hash")]
    assert store.find("c", sort="age", limit=2) == [documents(1, 0)[0], documents(1, 70)[0]]
    assert indexed_paths(store) == [("age", "ordered"), ("id", "hash")]
    for _, _, size in store._indexes("c"):
        assert 0 < size <= 24 * SIZE

    # Inserts, updates and deletes reach the index: each answer is one only it could give wrong.
    store.insert("c", {"id": SIZE, "age": 200})
    assert store.find("c", {"id": SIZE}) == [{"age": 200, "id": SIZE}]
    silently(store.update, "c", {"id": {"$set": -1}}, {"id": 3})
    assert store.find("c", {"id": 3}) == []
    assert store.count("c", {"id": -1}) == 1
    assert store.delete("c", {"id": {"$in": [0, 1, 2]}}) == 3
    assert store.find("c", {"id": 4}) == documents(1, 4)
    assert store.find("c", {"age": {"$gt": 199}}) == [{"age": 200, "id": SIZE}]

    # A string where a range looks: the scan's error, raised for the document a scan reaches.
    store.insert("c", {"id": "x", "age": "old"})
    for _ in range(2):
        try:
            store.find("c", {"age": {"$gt": 199}})
            raise AssertionError("no error")
        except ValueError as error:
            assert str(error) == "Malformed query, non-numeric value found for operator GreaterThan"

    # Reloading from the file starts over; so does a dropped collection.
    store.write("c")
    reopened = zarvel.Zarvel(str(store_dir))
    assert reopened._indexes("c") == []
    store.drop_collection("c")
    store.insert_many("c", documents(SIZE))
    assert indexed_paths(store) == []


def test_small_collections_are_only_scanned(store):
    store.insert_many("c", documents(999))
    for i in range(5):
        assert store.find("c", {"id": i}) == documents(1, i)
    assert store._indexes("c") == []


SCALARS = [0, 1, 1.0, -0.0, 0.0, 2.5, 2**53, 2**53 + 1, float(2**53), "x", None, True]


def random_document(rng, i):
    document = {"id": i if rng.random() < 0.9 else float(i), "n": rng.choice(SCALARS[:8])}
    if rng.random() < 0.9:
        document["k"] = rng.choice(SCALARS)
    if rng.random() < 0.02:
        document["n"] = rng.choice(["s", None])
    return document


def random_query(rng, top):
    return rng.choice([
        lambda: {"id": rng.randrange(top)},
        lambda: {"id": float(rng.randrange(top))},
        lambda: {"id": {"$in": [rng.randrange(top) for _ in range(rng.randrange(1, 20))]}},
        lambda: {"k": rng.choice(SCALARS)},
        lambda: {"n": {"$gte": rng.choice(SCALARS[:8]), "$lt": rng.choice(SCALARS[:8])}},
        lambda: {"k": {"$gt": rng.choice(SCALARS[:8])}, "id": rng.randrange(top)},
    ])()


def test_random_operations_answer_as_without_indexes(tmp_path):
    """The same operations on a store that never indexes: every answer and error alike."""
    stores = [zarvel.Zarvel(str(tmp_path / "indexed")), zarvel.Zarvel(str(tmp_path / "scanning"))]
    stores[1]._automatic_indexes(False)
    rng = random.Random(SEED)

    def both(where, method, *args, **options):
        outcomes = []
        for store in stores:
            call = getattr(store, method)
            try:
                outcomes.append(("ok", silently(call, *args, **options) if method == "update" else call(*args, **options)))
            except (ValueError, zarvel.PanicException) as error:
                outcomes.append((type(error), str(error)))
        assert outcomes[0][0] == outcomes[1][0] and identical(outcomes[0][1], outcomes[1][1]), (where, outcomes)

    top = SIZE
    both("insert", "insert_many", "c", [random_document(rng, i) for i in range(SIZE)])
    for step in range(1500):
        roll = rng.random()
        if roll < 0.5:
            options = {"sort": rng.choice(["n", "id"]), "limit": rng.randrange(1, 5)} if rng.random() < 0.2 else {}
            both(step, "find", "c", random_query(rng, top), **options)
        elif roll < 0.6:
            both(step, "count", "c", random_query(rng, top))
        elif roll < 0.75:
            new = [random_document(rng, top + i) for i in range(rng.randrange(1, 4))]
            top += len(new)
            both(step, "insert_many", "c", new)
        elif roll < 0.85:
            both(step, "delete", "c", {"id": rng.randrange(top)})
        else:
            update = rng.choice([{"n": {"$set": rng.choice(SCALARS)}}, {"id": {"$set": rng.randrange(top)}},
                                 {"k": {"$inc": 1}}])
            both(step, "update", "c", update, random_query(rng, top), True)
    assert stores[0]._indexes("c") and not stores[1]._indexes("c")
