"""Terminal table, raw figures as JSON, and a plot of the ratios against their goals."""
import json
import os


def _figure(value, unit):
    return "%.0f B/doc" % value if unit == "bytes" else "%.2f ms" % (value * 1e3)


def print_table(rows):
    header = ("measure", "peer", "zarvel", "peer time", "ratio", "goal", "met")
    lines = [header] + [
        (r["measure"], r["peer"], _figure(r["zarvel"], r["unit"]), _figure(r["peer_value"], r["unit"]),
         "%.3fx" % r["ratio"], "<= %.3fx" % r["goal"], "yes" if r["met"] else "NO")
        for r in rows]
    widths = [max(len(line[i]) for line in lines) for i in range(len(header))]
    for n, line in enumerate(lines):
        print("  ".join(cell.ljust(w) for cell, w in zip(line, widths)).rstrip())
        if n == 0:
            print("  ".join("-" * w for w in widths))
    for r in rows:
        if r["note"]:
            print("note: %s: %s" % (r["measure"], r["note"]))


def write_json(path, summary):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "w") as f:
        json.dump(summary, f, indent=2)
        f.write("\n")


def write_plot(path, rows):
    """Draws the plot when matplotlib imports; does nothing otherwise."""
    try:
        import matplotlib
        matplotlib.use("Agg")
        import matplotlib.pyplot as plt
    except ImportError:
        return
    labels = ["%s\nvs %s" % (r["measure"], r["peer"]) for r in rows]
    positions = range(len(rows))
    fig, ax = plt.subplots(figsize=(9, 0.6 * len(rows) + 1.5))
    ax.barh(positions, [r["ratio"] for r in rows],
            color=["tab:green" if r["met"] else "tab:red" for r in rows], label="zarvel / peer")
    ax.scatter([r["goal"] for r in rows], positions, marker="|", s=400, color="black", label="goal (at most)")
    ax.set_yticks(list(positions), labels, fontsize=7)
    ax.invert_yaxis()
    ax.set_xscale("log")
    ax.set_xlabel("ratio, zarvel / peer (lower is better)")
    ax.legend(loc="lower right", fontsize=7)
    fig.tight_layout()
    fig.savefig(path, dpi=110)
    plt.close(fig)
