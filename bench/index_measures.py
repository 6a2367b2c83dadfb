"""The lookups that automatic indexes answer, against the peers' own lookups.

Every timed call asks for keys that no earlier call of the same side asked for, and zarvel's cache
is emptied before each call, so no answer comes from the result cache. One lookup is too short to
time alone: each call makes a batch of them, the same number on both sides.
"""
import itertools
import json
import time

import polars as pl

import zarvel
from data import CITIES, iter_documents
from measures import COLLECTION, Measure

# Lookups per timed call: few where the peer scans, many where it too reads an index.
SCANNED_BATCH = 5
INDEXED_BATCH = 200
IN_IDS = 100
# The ages of the range: one year of 73, about 1.4 % of the documents.
AGES = range(18, 91)
INSERTED = 10_000


def _batches(values, size):
    """A callable giving the next `size` values of an endless cycle through `values`."""
    cycle = itertools.cycle(values)
    return lambda: list(itertools.islice(cycle, size))


def _spread_ids(count):
    """Every id once before any repeats, in an order that jumps across the collection."""
    step = 7919  # prime, so the walk covers every id
    return [(i * step) % count for i in range(count)]


def _age_query(age):
    return {"age": {"$gte": age, "$lt": age + 1}}


class IndexedCorpus:
    """The lookups of one corpus, each side with its own stream of keys."""

    def __init__(self, corpus):
        self.corpus = corpus
        self.store = corpus.store
        self._sqlite_indexed = False
        ids = _spread_ids(corpus.count)
        # Each side walks the same keys; its own iterator, so neither repeats the other's.
        self.streams = {}
        for side in ("zarvel", "peer"):
            self.streams[side] = {
                "id": _batches(ids, SCANNED_BATCH), "id_many": _batches(ids, INDEXED_BATCH),
                "in": _batches(ids, IN_IDS), "city": _batches(CITIES, SCANNED_BATCH),
                "city_polars": _batches(CITIES, SCANNED_BATCH), "age": _batches(AGES, SCANNED_BATCH),
            }
        self._build_indexes()

    def _build_indexes(self):
        """Two uses of each path build its index; the rows measure lookups, not builds."""
        for query in ({"id": -1}, {"id": -2}, {"address.city": "?"}, {"address.city": "??"},
                      _age_query(0), _age_query(1)):
            self.store.find(COLLECTION, query)

    def keys(self, side, stream):
        return self.streams[side][stream]()

    def sqlite(self):
        connection = self.corpus.sqlite()
        if not self._sqlite_indexed:
            connection.execute("CREATE INDEX docs_id ON docs (json_extract(doc, '$.id'))")
            self._sqlite_indexed = True
        return connection

    def find_each(self, stream, query_of):
        store = self.store
        return [store.find(COLLECTION, query_of(key)) for key in self.keys("zarvel", stream)]

    def scan_each(self, stream, test):
        documents = self.corpus.documents
        return [[d for d in documents if test(d, key)] for key in self.keys("peer", stream)]

    def sqlite_by_id(self):
        connection = self.sqlite()
        sql = "SELECT doc FROM docs WHERE json_extract(doc, '$.id') = ?"
        return [[json.loads(r[0]) for r in connection.execute(sql, (key,))]
                for key in self.keys("peer", "id_many")]

    def sqlite_in(self):
        keys = self.keys("peer", "in")
        sql = "SELECT doc FROM docs WHERE json_extract(doc, '$.id') IN (%s)" % ",".join("?" * len(keys))
        return [json.loads(r[0]) for r in self.sqlite().execute(sql, keys)]

    def polars_city(self):
        frame = self.corpus.polars()
        city = pl.col("address").struct.field("city")
        return [frame.filter(city == key).to_dicts() for key in self.keys("peer", "city_polars")]


class InsertWithIndexes:
    """insert_many of new documents into a filled collection, with or without two indexes."""

    def __init__(self, corpus):
        self.corpus = corpus
        self.new = [dict(d, id=corpus.count + d["id"]) for d in iter_documents(INSERTED, seed=1)]
        self.store = None

    def fill(self, indexed):
        self.store = None
        self.store = zarvel.Zarvel(self.corpus.directory + "-insert%d" % time.perf_counter_ns())
        self.store.insert_many(COLLECTION, self.corpus.documents)
        if indexed:
            for query in ({"id": -1}, {"id": -2}, _age_query(0), _age_query(1)):
                self.store.find(COLLECTION, query)
            assert len(self.store._indexes(COLLECTION)) == 2

    def insert(self):
        self.store.insert_many(COLLECTION, self.new)


def index_table(corpus):
    size = "%dk" % (corpus.count // 1000)
    lookups = IndexedCorpus(corpus)
    clear = corpus.store.clear_cache
    with_indexes, without = InsertWithIndexes(corpus), InsertWithIndexes(corpus)
    return [
        Measure("find by id %s" % size, "list comprehension",
                lambda: lookups.find_each("id", lambda k: {"id": k}),
                lambda: lookups.scan_each("id", lambda d, k: d["id"] == k), 1 / 200, zarvel_setup=clear,
                note="%d ids per timed call on each side" % SCANNED_BATCH),
        Measure("find by id %s" % size, "sqlite3 expression index",
                lambda: lookups.find_each("id_many", lambda k: {"id": k}), lookups.sqlite_by_id, 1.0,
                zarvel_setup=clear, peer_setup=lookups.sqlite,
                note="%d ids per timed call; rows parsed with json.loads" % INDEXED_BATCH),
        Measure("find $in %d ids %s" % (IN_IDS, size), "sqlite3 IN on expression index",
                lambda: corpus.store.find(COLLECTION, {"id": {"$in": lookups.keys("zarvel", "in")}}),
                lookups.sqlite_in, 1.0, zarvel_setup=clear, peer_setup=lookups.sqlite),
        Measure("find address.city 1%% %s" % size, "list comprehension",
                lambda: lookups.find_each("city", lambda k: {"address.city": k}),
                lambda: lookups.scan_each("city", lambda d, k: d["address"]["city"] == k), 1 / 10,
                zarvel_setup=clear),
        Measure("find address.city 1%% %s" % size, "polars filter+to_dicts",
                lambda: lookups.find_each("city_polars", lambda k: {"address.city": k}),
                lookups.polars_city, 1.0, zarvel_setup=clear, peer_setup=corpus.polars),
        Measure("find age range 1%% %s" % size, "list comprehension",
                lambda: lookups.find_each("age", _age_query),
                lambda: lookups.scan_each("age", lambda d, k: k <= d["age"] < k + 1), 1 / 8,
                zarvel_setup=clear),
        Measure("insert_many %dk, two indexes %s" % (INSERTED // 1000, size), "the same without indexes",
                with_indexes.insert, without.insert, 1.2,
                zarvel_setup=lambda: with_indexes.fill(True), peer_setup=lambda: without.fill(False),
                note="into a collection of %s documents; indexes on id (hash) and age (ordered)" % size),
    ]
