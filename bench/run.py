"""Benchmarks zarvel against its peers in one run and reports the ratios against their goals.

Usage: run.py [--large] [--repetitions N] [--scaling-repetitions N] [--output DIR] [--only TEXT].
Absolute times are printed, but only ratios count.
"""
import argparse
import gc
import os
import platform
import sys
import tempfile
import time

import index_measures
import measures
import report
from data import SEED

BENCH = os.path.dirname(os.path.abspath(__file__))
RESULTS = os.path.join(BENCH, "results")
REAL_DATA = os.path.join(BENCH, "..", "tests", "data", "nativejson-benchmark", "data")
REAL_FILES = ["twitter.json", "citm_catalog.json", "canada.json"]
SMALL, MEDIUM, HUGE = 10_000, 100_000, 1_000_000


def row(name, peer, goal, zarvel_value, peer_value, unit="seconds", note=""):
    """`goal` None makes an informational row: its `met` is None too."""
    ratio = zarvel_value / peer_value
    return {"measure": name, "peer": peer, "unit": unit, "zarvel": zarvel_value, "peer_value": peer_value,
            "ratio": ratio, "goal": goal, "met": None if goal is None else ratio <= goal, "note": note}


def measure_rows(table, repetitions):
    rows = []
    for m in table:
        print("measuring %s vs %s..." % (m.name, m.peer_name), flush=True)
        z, p = measures.median_pair(m, repetitions)
        rows.append(row(m.name, m.peer_name, m.goal, z, p, note=m.note))
    return rows


def scaling_rows(corpus, repetitions):
    """Seconds of each linear figure at the size of `corpus`; the per-document ratio comes later."""
    print("measuring the scaling at %d documents (%d repetitions)..." % (corpus.count, repetitions),
          flush=True)
    return [{"measure": name, "documents": corpus.count, "repetitions": repetitions,
             "seconds": measures.median_seconds(fn, repetitions, setup)}
            for name, fn, setup in measures.scaling_measures(corpus)]


def add_per_document(scaling):
    """Adds the cost per document and its ratio to the smallest size of the same measure."""
    for r in scaling:
        r["per_document"] = r["seconds"] / r["documents"]
    for r in scaling:
        base = min((s for s in scaling if s["measure"] == r["measure"]), key=lambda s: s["documents"])
        r["per_document_ratio"] = r["per_document"] / base["per_document"]


def real_document_rows(workdir, repetitions):
    rows = []
    for name in REAL_FILES:
        path = os.path.join(REAL_DATA, name)
        if not os.path.exists(path):
            print("note: %s is missing, its rows are skipped" % os.path.normpath(path))
            continue
        rows += measure_rows(measures.real_document_table(measures.RealDocument(workdir, path)), repetitions)
    return rows


def measure_only(text, large, repetitions):
    """The rows of the main table named by `text`, printed only: a quick look at a few figures."""
    home = os.getcwd()
    with tempfile.TemporaryDirectory() as workdir:
        os.chdir(workdir)
        small = measures.Corpus(workdir, SMALL)
        big = measures.Corpus(workdir, HUGE if large else MEDIUM)
        table = measures.table(small, big) + index_measures.index_table(big)
        chosen = [m for m in table if text in m.name]
        report.print_table(measure_rows(chosen, repetitions))
        os.chdir(home)


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--large", action="store_true", help="use 1M documents instead of 100k")
    parser.add_argument("--repetitions", type=int, default=5)
    parser.add_argument("--scaling-repetitions", type=int, default=3, help="repetitions at 1M documents")
    parser.add_argument("--output", default=RESULTS, help="directory for latest.json and latest.png")
    parser.add_argument("--only", metavar="TEXT",
                        help="measure only the rows of the main table whose name holds TEXT; prints them, writes nothing")
    args = parser.parse_args()
    if args.only:
        measure_only(args.only, args.large, args.repetitions)
        return
    output = os.path.abspath(args.output)
    large_count = HUGE if args.large else MEDIUM
    started = time.perf_counter()
    home = os.getcwd()

    with tempfile.TemporaryDirectory() as workdir:
        # write() puts its temporary file in the current directory: keep it beside the store.
        os.chdir(workdir)
        print("building %d and %d documents..." % (SMALL, large_count), flush=True)
        small = measures.Corpus(workdir, SMALL)
        large = measures.Corpus(workdir, large_count)
        rows = measure_rows(measures.table(small, large) + index_measures.index_table(large), args.repetitions)
        real_rows = real_document_rows(workdir, 3 * args.repetitions)
        # The smaller sizes are cheap: more repetitions steady their short times.
        scaling = scaling_rows(small, 3 * args.repetitions)
        if large.count == HUGE:
            medium = measures.Corpus(workdir, MEDIUM, keep_documents=False)
            scaling += scaling_rows(medium, 3 * args.repetitions)
            medium = None
            huge = large
        else:
            scaling += scaling_rows(large, 3 * args.repetitions)
            # Only the store of the 1M corpus is kept; free the 100k dicts and peers before building it.
            large = None
            gc.collect()
            print("building %d documents..." % HUGE, flush=True)
            huge = measures.Corpus(workdir, HUGE, keep_documents=False)
        scaling += scaling_rows(huge, args.scaling_repetitions)
        at_huge = [] if huge is large else measures.huge_table(huge)
        rows += measure_rows(at_huge + [measures.cached_find_measure(small, huge)], args.repetitions)
        if huge is not large:
            # The index rows need the peers' dicts, which the 1M store above does without.
            huge = small = None
            gc.collect()
            print("building %d documents with their dicts..." % HUGE, flush=True)
            rows += measure_rows(index_measures.index_table(measures.Corpus(workdir, HUGE)), args.repetitions)
        huge = large = small = None
        gc.collect()
        os.chdir(home)
    add_per_document(scaling)
    print("measuring resident memory in fresh processes...", flush=True)
    zarvel_bytes = measures.rss_bytes_per_document("zarvel", large_count)
    memory = "resident memory %dk" % (large_count // 1000)
    note = "growth of /proc/self/statm resident size, each side in a fresh process"
    rows.append(row(memory, "Python dicts", 0.25, zarvel_bytes,
                    measures.rss_bytes_per_document("dicts", large_count), unit="bytes", note=note))
    rows.append(row(memory, "polars DataFrame", 1.0, zarvel_bytes,
                    measures.rss_bytes_per_document("polars", large_count), unit="bytes",
                    note="as above; counts the allocator's slack, which polars' estimated_size() leaves out"))
    for kind in ("hash-index", "ordered-index"):
        for count in sorted({large_count, HUGE}):
            rows.append(row("%s memory %dk" % (kind, count // 1000), "budget of 24 B/doc", 1.0,
                            measures.rss_bytes_per_document(kind, count), 24, unit="bytes",
                            note="resident growth from building one index, in a fresh process"))

    print("\nmedian of %d repetitions per figure, zarvel and peer taking turns (1M scaling: %d); "
          "only the ratios count" % (args.repetitions, args.scaling_repetitions))
    report.print_table(rows)
    print()
    report.print_scaling(scaling)
    if real_rows:
        print()
        report.print_table(real_rows, title="real documents, one-document collections (informational: "
                           "the goals are those of the collection rows)")
    summary = {
        "machine": {"cpus": os.cpu_count(), "platform": platform.platform(), "python": sys.version.split()[0]},
        "seed": SEED, "documents": sorted({SMALL, large_count, HUGE}), "repetitions": args.repetitions,
        "scaling_repetitions_at_1m": args.scaling_repetitions,
        "seconds": round(time.perf_counter() - started, 1), "measures": rows, "scaling": scaling,
        "real_documents": real_rows,
    }
    os.makedirs(output, exist_ok=True)
    report.write_json(os.path.join(output, "latest.json"), summary)
    report.write_plot(os.path.join(output, "latest.png"), rows, scaling, real_rows)
    print("\nraw figures in %s" % os.path.join(output, "latest.json"))


if __name__ == "__main__":
    main()
