"""Prints the resident-memory growth, in bytes, of holding N documents as zarvel, dicts or polars,
or of one index over N documents held by zarvel.

Usage: rss_probe.py zarvel|dicts|polars|hash-index|ordered-index N. Run in a fresh process so that
nothing else is resident.
"""
import gc
import itertools
import os
import sys
import tempfile

import polars as pl

import zarvel
from data import iter_documents

_CHUNK = 1000
# Two queries on a path build its index.
_INDEX_QUERIES = {"hash-index": [{"id": -1}, {"id": -2}],
                  "ordered-index": [{"age": {"$gt": 1000}}, {"age": {"$gt": 1001}}]}


def resident_bytes():
    with open("/proc/self/statm") as f:
        return int(f.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")


def fill(store, documents):
    """Inserts in small chunks: the dicts of one chunk are freed before the next is built."""
    while chunk := list(itertools.islice(documents, _CHUNK)):
        store.insert_many("c", chunk)


def main():
    kind, count = sys.argv[1], int(sys.argv[2])
    with tempfile.TemporaryDirectory() as parent:
        store = zarvel.Zarvel(os.path.join(parent, "db"))
        documents = iter_documents(count)
        if kind == "polars":
            # polars' thread pool and allocator start on first use; like zarvel's empty store, they
            # are not the documents' cost.
            pl.from_dicts(list(iter_documents(_CHUNK, seed=0)))
        gc.collect()
        before = resident_bytes()
        if kind in _INDEX_QUERIES:
            fill(store, documents)
            gc.collect()
            before = resident_bytes()
            for query in _INDEX_QUERIES[kind]:
                store.find("c", query)
            assert len(store._indexes("c")) == 1
            held = store
        elif kind == "zarvel":
            fill(store, documents)
            held = store
        elif kind == "polars":
            # As a user builds it: from the whole list, which is then dropped. Built a chunk at a
            # time and concatenated, the allocator keeps the chunks' pages too (about 380 B/doc
            # against 220).
            whole = list(documents)
            held = pl.from_dicts(whole)
            del whole
        else:
            held = list(documents)
        gc.collect()
        print(resident_bytes() - before)
        del held


if __name__ == "__main__":
    main()
