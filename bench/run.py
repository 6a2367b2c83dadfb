"""Benchmarks zarvel against its peers in one run and reports the ratios against their goals.

Usage: run.py [--large] [--repetitions N]. Absolute times are printed, but only ratios count.
"""
import argparse
import os
import platform
import sys
import tempfile
import time

import measures
import report
from data import SEED

RESULTS = os.path.join(os.path.dirname(os.path.abspath(__file__)), "results")


def row(name, peer, goal, zarvel_value, peer_value, unit="seconds", note=""):
    ratio = zarvel_value / peer_value
    return {"measure": name, "peer": peer, "unit": unit, "zarvel": zarvel_value, "peer_value": peer_value,
            "ratio": ratio, "goal": goal, "met": ratio <= goal, "note": note}


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--large", action="store_true", help="use 1M documents instead of 100k")
    parser.add_argument("--repetitions", type=int, default=5)
    args = parser.parse_args()
    large_count = 1_000_000 if args.large else 100_000
    started = time.perf_counter()
    home = os.getcwd()

    with tempfile.TemporaryDirectory() as workdir:
        # write() puts its temporary file in the current directory: keep it beside the store.
        os.chdir(workdir)
        print("building %d and %d documents..." % (10_000, large_count), flush=True)
        small = measures.Corpus(workdir, 10_000)
        large = measures.Corpus(workdir, large_count)
        rows = []
        for m in measures.table(small, large):
            print("measuring %s vs %s..." % (m.name, m.peer_name), flush=True)
            z = measures.median_seconds(m.zarvel, args.repetitions, m.zarvel_setup)
            p = measures.median_seconds(m.peer, args.repetitions, m.peer_setup)
            rows.append(row(m.name, m.peer_name, m.goal, z, p, note=m.note))
        os.chdir(home)
    print("measuring resident memory in fresh processes...", flush=True)
    rows.append(row("resident memory %dk" % (large_count // 1000), "Python dicts", 0.5,
                    measures.rss_bytes_per_document("zarvel", large_count),
                    measures.rss_bytes_per_document("dicts", large_count), unit="bytes",
                    note="growth of /proc/self/statm resident size, each side in a fresh process"))

    print()
    report.print_table(rows)
    summary = {
        "machine": {"cpus": os.cpu_count(), "platform": platform.platform(), "python": sys.version.split()[0]},
        "seed": SEED, "documents": [10_000, large_count], "repetitions": args.repetitions,
        "seconds": round(time.perf_counter() - started, 1), "measures": rows,
    }
    os.makedirs(RESULTS, exist_ok=True)
    report.write_json(os.path.join(RESULTS, "latest.json"), summary)
    report.write_plot(os.path.join(RESULTS, "latest.png"), rows)
    print("\nraw figures in bench/results/latest.json")


if __name__ == "__main__":
    main()
