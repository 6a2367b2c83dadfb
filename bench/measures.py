"""The timed measures: one helper times a callable, one table lists what zarvel is held against."""
import heapq
import itertools
import json
import os
import re
import sqlite3
import statistics
import subprocess
import sys
import time
from dataclasses import dataclass
from typing import Callable, Optional

import duckdb
import orjson
import polars as pl
from tinydb import TinyDB, where
from tinydb.storages import MemoryStorage

import zarvel
from data import iter_documents, make_documents

# About 1 % of the documents match; both sides of each comparison ask exactly this.
SELECTIVE_QUERY = {"score": {"$gte": 99.0}}
SELECTIVE_SQL = "SELECT doc FROM docs WHERE json_extract(doc, '$.score') >= 99.0"
SELECTIVE_EXPRESSION = pl.col("score") >= 99.0
SELECTIVE_COLUMNS_SQL = "SELECT * FROM docs WHERE score >= 99.0"
# 100 ids spread over the collection, and a name prefix that about 1 % of the documents have.
IN_QUERY = {"id": {"$in": list(range(0, 100_000, 1000))}}
IN_IDS = set(IN_QUERY["id"]["$in"])
PREFIX_QUERY = {"name": {"$regex": "^user00"}}
PREFIX_PATTERN = re.compile("^user00")
# The same 100 documents at every size, so a cached answer costs the same to convert.
FIXED_QUERY = {"id": {"$lt": 100}}
CACHED_CALLS = 100
# Shared by the collection rows and the real-document rows.
OPEN_GOAL = 0.12
WRITE_GOAL = 0.7
DURABLE_WRITE = "orjson.dumps + temp file, fsync, rename"
COLLECTION = "c"
# Documents converted per insert_many call when a corpus does not keep its dicts.
_CHUNK = 10_000


def median_seconds(fn, repetitions, setup=None):
    """Median wall time of `fn()` over `repetitions` runs; `setup()` runs untimed before each.

    The result of `fn` is released only after the clock stops, so freeing it is not counted.
    """
    times = []
    for _ in range(repetitions):
        if setup is not None:
            setup()
        start = time.perf_counter()
        result = fn()
        times.append(time.perf_counter() - start)
        del result
    return statistics.median(times)


def median_pair(measure, repetitions):
    """Medians of (zarvel, peer) for `measure`, the two sides taking turns, so that a busy spell of
    the machine slows both rather than one."""
    zarvel_times, peer_times = [], []
    for _ in range(repetitions):
        zarvel_times.append(median_seconds(measure.zarvel, 1, measure.zarvel_setup))
        peer_times.append(median_seconds(measure.peer, 1, measure.peer_setup))
    return statistics.median(zarvel_times), statistics.median(peer_times)


@dataclass
class Measure:
    name: str
    peer_name: str
    zarvel: Callable[[], object]
    peer: Callable[[], object]
    goal: Optional[float]  # highest acceptable zarvel / peer ratio; None for an informational row
    zarvel_setup: Optional[Callable[[], None]] = None
    peer_setup: Optional[Callable[[], None]] = None
    note: str = ""


class StoredFile:
    """What both sides load and write: zarvel's store on `directory` holding `file`, and the
    peer's copy of `documents` in `peer_file`."""

    def open_store(self):
        return zarvel.Zarvel(self.directory)

    def load_peer_file(self):
        with open(self.file, "rb") as f:
            return orjson.loads(f.read())

    def write_peer_file(self):
        """The durable steps zarvel's write takes: a temporary file beside the target, synced,
        renamed over it, and the directory synced so that the rename survives a crash."""
        temporary = self.peer_file + ".tmp"
        with open(temporary, "wb") as f:
            f.write(orjson.dumps(self.documents))
            f.flush()
            os.fsync(f.fileno())
        os.rename(temporary, self.peer_file)
        directory = os.open(os.path.dirname(self.peer_file), os.O_RDONLY | os.O_DIRECTORY)
        try:
            os.fsync(directory)
        finally:
            os.close(directory)


class Corpus(StoredFile):
    """One size of data set, held by zarvel and by every peer, inside `workdir`."""

    def __init__(self, workdir, count, keep_documents=True):
        """Without `keep_documents` only the store and its file remain: the dicts are built and
        inserted a chunk at a time, so a large corpus never holds its data twice."""
        self.count = count
        self.directory = os.path.join(workdir, "store%d" % count)
        self.store = zarvel.Zarvel(self.directory)
        if keep_documents:
            self.documents = make_documents(count)
            self.blob = orjson.dumps(self.documents)
            self.store.insert_many(COLLECTION, self.documents)
        else:
            self.documents = None
            documents = iter_documents(count)
            while chunk := list(itertools.islice(documents, _CHUNK)):
                self.store.insert_many(COLLECTION, chunk)
        self.store.write(COLLECTION)
        self.file = os.path.join(self.directory, COLLECTION + ".json")
        self.peer_file = os.path.join(workdir, "peer%d.json" % count)
        self._fresh = None
        self._sqlite = None
        self._tinydb = None
        self._polars = None
        self._duckdb = None

    def sqlite(self):
        if self._sqlite is None:
            self._sqlite = sqlite3.connect(":memory:")
            self._sqlite.execute("CREATE TABLE docs (doc TEXT)")
            self._sqlite.executemany("INSERT INTO docs VALUES (?)", ((json.dumps(d),) for d in self.documents))
        return self._sqlite

    def tinydb(self):
        if self._tinydb is None:
            self._tinydb = TinyDB(storage=MemoryStorage)
            self._tinydb.insert_multiple(self.documents)
        return self._tinydb

    def polars(self):
        if self._polars is None:
            if self.documents is not None:
                self._polars = pl.from_dicts(self.documents)
            else:
                # The same documents a chunk of dicts at a time, as the store was filled.
                documents = iter_documents(self.count)
                chunks = iter(lambda: list(itertools.islice(documents, _CHUNK)), [])
                self._polars = pl.concat([pl.from_dicts(chunk) for chunk in chunks], rechunk=True)
        return self._polars

    def polars_find(self):
        return self.polars().filter(SELECTIVE_EXPRESSION).to_dicts()

    def polars_update(self):
        self._polars = self.polars().with_columns(pl.col("visits") + 1)

    def duckdb(self):
        if self._duckdb is None:
            # From the collection file, as a user holding JSON would; from the polars frame it
            # would need pyarrow besides.
            self._duckdb = duckdb.connect()
            self._duckdb.execute("CREATE TABLE docs AS SELECT * FROM read_json(?)", [self.file])
        return self._duckdb

    def duckdb_find(self):
        cursor = self.duckdb().execute(SELECTIVE_COLUMNS_SQL)
        names = [column[0] for column in cursor.description]
        return [dict(zip(names, values, strict=True)) for values in cursor.fetchall()]

    def fresh_store(self):
        """Drops the previous fresh store (untimed) and opens an empty one."""
        self._fresh = None
        self._fresh = zarvel.Zarvel(self.directory + "-fresh%d" % time.perf_counter_ns())

    def insert_into_fresh(self):
        self._fresh.insert_many(COLLECTION, self.documents)

    def filled_fresh_store(self):
        """A fresh store holding the documents, for a measure that changes them."""
        self.fresh_store()
        self.insert_into_fresh()

    def delete_from_fresh(self):
        return self._fresh.delete(COLLECTION, SELECTIVE_QUERY)

    def update_store(self, update=None):
        # The update trace goes to file descriptor 1 itself; keep it out of the table.
        sys.stdout.flush()
        saved = os.dup(1)
        devnull = os.open(os.devnull, os.O_WRONLY)
        try:
            os.dup2(devnull, 1)
            self.store.update(COLLECTION, update or {"visits": {"$inc": 1}})
        finally:
            os.dup2(saved, 1)
            os.close(saved)
            os.close(devnull)

    def update_dicts(self):
        for d in self.documents:
            d["visits"] += 1

    def rename_store(self):
        """A $set that changes every document's size, so that each is rebuilt elsewhere."""
        self._renames = getattr(self, "_renames", 0) + 1
        self.update_store({"name": "renamed%d" % self._renames})

    def rename_dicts(self):
        self._renames = getattr(self, "_renames", 0) + 1
        for d in self.documents:
            d["name"] = "renamed%d" % self._renames

    def cached_find(self):
        for _ in range(CACHED_CALLS):
            self.store.find(COLLECTION, FIXED_QUERY)


def table(small, large):
    """The measures, `small` and `large` being the 10k and 100k (or 1M) corpora; the cached find,
    which needs the 1M corpus, is `cached_find_measure`."""
    big = "%dk" % (large.count // 1000)
    little = "%dk" % (small.count // 1000)
    return [
        Measure("insert_many " + big, "orjson.dumps", large.insert_into_fresh,
                lambda: orjson.dumps(large.documents), 0.8, zarvel_setup=large.fresh_store),
        Measure("find() all " + big, "orjson.loads", lambda: large.store.find(COLLECTION),
                lambda: orjson.loads(large.blob), 0.5),
        Measure("find 1% uncached " + big, "list comprehension",
                lambda: large.store.find(COLLECTION, SELECTIVE_QUERY),
                lambda: [d for d in large.documents if d["score"] >= 99.0], 1 / 4,
                zarvel_setup=large.store.clear_cache),
        *peer_database_measures(large),
        Measure("find 1% uncached " + big, "sqlite3 json_extract",
                lambda: large.store.find(COLLECTION, SELECTIVE_QUERY),
                lambda: [json.loads(r[0]) for r in large.sqlite().execute(SELECTIVE_SQL)], 1 / 20,
                zarvel_setup=large.store.clear_cache, peer_setup=large.sqlite),
        Measure("find 1% uncached " + little, "TinyDB search",
                lambda: small.store.find(COLLECTION, SELECTIVE_QUERY),
                lambda: small.tinydb().search(where("score") >= 99.0), 1 / 200,
                zarvel_setup=small.store.clear_cache, peer_setup=lambda: small.tinydb().clear_cache()),
        Measure("find $in 100 ids " + big, "list comprehension",
                lambda: large.store.find(COLLECTION, IN_QUERY),
                lambda: [d for d in large.documents if d["id"] in IN_IDS], 1 / 2,
                zarvel_setup=large.store.clear_cache),
        Measure("find $regex prefix " + big, "list comprehension",
                lambda: large.store.find(COLLECTION, PREFIX_QUERY),
                lambda: [d for d in large.documents if PREFIX_PATTERN.search(d["name"])], 1 / 2,
                zarvel_setup=large.store.clear_cache),
        open_measure(large),
        Measure("write " + big, DURABLE_WRITE, lambda: large.store.write(COLLECTION), large.write_peer_file,
                WRITE_GOAL),
        Measure("update $inc " + big, "Python loop", large.update_store, large.update_dicts, 1 / 6),
        Measure("update $set resizing " + big, "Python loop", large.rename_store, large.rename_dicts, None,
                note="a new size for every document: each is rebuilt in a new chunk"),
        Measure("update $inc " + big, "polars with_columns", large.update_store, large.polars_update, 1.5,
                peer_setup=large.polars),
        Measure("count 1% uncached " + big, "len(list comprehension)",
                lambda: large.store.count(COLLECTION, SELECTIVE_QUERY),
                lambda: len([d for d in large.documents if d["score"] >= 99.0]), 1 / 3,
                zarvel_setup=large.store.clear_cache),
        Measure("find sort limit=10 " + big, "heapq.nsmallest",
                lambda: large.store.find(COLLECTION, sort="score", limit=10),
                lambda: heapq.nsmallest(10, large.documents, key=lambda d: d["score"]), 1 / 3),
        Measure("delete 1% " + big, "list comprehension keeping the rest", large.delete_from_fresh,
                lambda: [d for d in large.documents if not d["score"] >= 99.0], 1 / 3,
                zarvel_setup=large.filled_fresh_store),
    ]


def peer_database_measures(corpus):
    """The selective query against the column stores, which hold the same documents."""
    size = "%dk" % (corpus.count // 1000)
    return [
        Measure("find 1% uncached " + size, "polars filter+to_dicts",
                lambda: corpus.store.find(COLLECTION, SELECTIVE_QUERY), corpus.polars_find, 1.0,
                zarvel_setup=corpus.store.clear_cache, peer_setup=corpus.polars),
        # Informational: no goal is set against DuckDB; the row shows where zarvel stands.
        Measure("find 1% uncached " + size, "DuckDB query as dicts",
                lambda: corpus.store.find(COLLECTION, SELECTIVE_QUERY), corpus.duckdb_find, None,
                zarvel_setup=corpus.store.clear_cache, peer_setup=corpus.duckdb),
    ]


def open_measure(corpus):
    return Measure("open store %dk" % (corpus.count // 1000), "orjson.loads of file", corpus.open_store,
                   corpus.load_peer_file, OPEN_GOAL,
                   note="collection file of %.1f MB" % (os.path.getsize(corpus.file) / 1e6))


def huge_table(huge):
    """The rows whose goals hold at 1M documents too, for a run whose main table is at 100k."""
    return [open_measure(huge), *peer_database_measures(huge)]


def cached_find_measure(small, huge):
    """Repeated finds on the 1M corpus against the same finds on the 10k one."""
    return Measure("cached find x%d %dk" % (CACHED_CALLS, huge.count // 1000),
                   "zarvel at %dk" % (small.count // 1000), huge.cached_find, small.cached_find, 1.5,
                   zarvel_setup=huge.cached_find, peer_setup=small.cached_find,
                   note="same 100 matches at both sizes; ~1 means independent of size")


def scaling_measures(corpus):
    """(name, callable, setup) of the figures that should grow linearly with the corpus."""
    return [("find 1% uncached", lambda: corpus.store.find(COLLECTION, SELECTIVE_QUERY),
             corpus.store.clear_cache),
            ("open store", corpus.open_store, None)]


class RealDocument(StoredFile):
    """One JSON file of the caller's, held as a one-document collection in its own store."""

    def __init__(self, workdir, path):
        self.name = os.path.splitext(os.path.basename(path))[0]
        with open(path, "rb") as f:
            self.document = orjson.loads(f.read())
        self.directory = os.path.join(workdir, "real-" + self.name)
        self.store = zarvel.Zarvel(self.directory)
        self.store.insert(COLLECTION, self.document)
        self.store.write(COLLECTION)
        self.file = os.path.join(self.directory, COLLECTION + ".json")
        self.peer_file = os.path.join(workdir, "peer-%s.json" % self.name)

    @property
    def documents(self):
        return [self.document]


def real_document_table(doc):
    """Load and write of one real document; the goals are those of the collection rows."""
    size = "collection file of %.2f MB" % (os.path.getsize(doc.file) / 1e6)
    return [
        Measure("open store " + doc.name, "orjson.loads of file", doc.open_store, doc.load_peer_file,
                OPEN_GOAL, note=size),
        Measure("write " + doc.name, DURABLE_WRITE, lambda: doc.store.write(COLLECTION), doc.write_peer_file,
                WRITE_GOAL),
    ]


def rss_bytes_per_document(kind, count):
    """Resident growth per document of `kind` ("zarvel", "dicts" or "polars"), measured in a fresh
    process."""
    probe = os.path.join(os.path.dirname(os.path.abspath(__file__)), "rss_probe.py")
    out = subprocess.run([sys.executable, probe, kind, str(count)], check=True,
                         capture_output=True, text=True).stdout
    return int(out.split()[-1]) / count
