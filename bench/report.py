"""Terminal tables, raw figures as JSON, and a plot of the ratios against their goals and of the scaling."""
import json
import os


def _figure(value, unit):
    return "%.0f B/doc" % value if unit == "bytes" else "%.2f ms" % (value * 1e3)


def _goal(goal):
    return "-" if goal is None else "<= %.3fx" % goal


def _print_lines(header, lines):
    lines = [header] + lines
    widths = [max(len(line[i]) for line in lines) for i in range(len(header))]
    for n, line in enumerate(lines):
        print("  ".join(cell.ljust(w) for cell, w in zip(line, widths, strict=False)).rstrip())
        if n == 0:
            print("  ".join("-" * w for w in widths))


def print_table(rows, title=None):
    if title:
        print(title)
    _print_lines(("measure", "peer", "zarvel", "peer time", "ratio", "goal", "met"), [
        (r["measure"], r["peer"], _figure(r["zarvel"], r["unit"]), _figure(r["peer_value"], r["unit"]),
         "%.3fx" % r["ratio"], _goal(r["goal"]), {True: "yes", False: "NO", None: "-"}[r["met"]])
        for r in rows])
    for r in rows:
        if r["note"]:
            print("note: %s: %s" % (r["measure"], r["note"]))


def print_scaling(scaling):
    """`scaling` rows carry documents, seconds, per_document and per_document_ratio."""
    print("scaling (linear growth shows as a per-document ratio of ~1)")
    smallest = min(r["documents"] for r in scaling)
    _print_lines(("measure", "documents", "seconds", "per document", "per doc vs %dk" % (smallest // 1000),
                  "repetitions"), [
        (r["measure"], str(r["documents"]), "%.4f s" % r["seconds"], "%.0f ns" % (r["per_document"] * 1e9),
         "%.2fx" % r["per_document_ratio"], str(r["repetitions"]))
        for r in sorted(scaling, key=lambda r: (r["measure"], r["documents"]))])
    print("note: the smallest store may fit in the processor caches; the step between the two larger sizes "
          "shows the growth free of that")


def write_json(path, summary):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "w") as f:
        json.dump(summary, f, indent=2)
        f.write("\n")


def _plot_ratios(ax, rows, real_rows):
    """Bars of zarvel / peer with the goal marked; real-document rows are paler."""
    from matplotlib.colors import to_rgba
    shown = rows + real_rows
    labels = ["%s\nvs %s" % (r["measure"], r["peer"]) for r in shown]
    positions = range(len(shown))
    hue = {True: "tab:green", False: "tab:red", None: "tab:grey"}
    colors = [to_rgba(hue[r["met"]], 1.0 if n < len(rows) else 0.45) for n, r in enumerate(shown)]
    ax.barh(positions, [r["ratio"] for r in shown], color=colors, label="zarvel / peer")
    goals = [(r["goal"], n) for n, r in enumerate(shown) if r["goal"] is not None]
    ax.scatter([g for g, _ in goals], [n for _, n in goals], marker="|", s=400, color="black",
               label="goal (at most)")
    if real_rows:
        ax.axhline(len(rows) - 0.5, color="grey", linewidth=0.8)
    ax.set_yticks(list(positions), labels, fontsize=7)
    ax.invert_yaxis()
    ax.set_xscale("log")
    ax.set_xlabel("ratio, zarvel / peer (lower is better; pale: real documents; grey: no goal)")
    ax.legend(loc="lower right", fontsize=7)


def _plot_scaling(ax, scaling):
    """Per-document cost against the number of documents, relative to the smallest size."""
    for n, name in enumerate(sorted({r["measure"] for r in scaling})):
        points = sorted((r for r in scaling if r["measure"] == name), key=lambda r: r["documents"])
        xs = [r["documents"] for r in points]
        ax.plot(xs, [r["per_document_ratio"] for r in points], marker="o", label=name)
        for r in points:
            ax.annotate("%.0f ns" % (r["per_document"] * 1e9), (r["documents"], r["per_document_ratio"]),
                        textcoords="offset points", xytext=(4, 6 if n % 2 else -12), fontsize=7)
    ax.axhline(1.0, color="grey", linestyle="--", linewidth=1)
    ax.set_xscale("log")
    ax.set_ylim(bottom=0)
    ax.set_xlabel("documents")
    ax.set_ylabel("cost per document / cost at the smallest size")
    ax.set_title("scaling (~1 is linear)", fontsize=9)
    ax.legend(fontsize=7)


def write_plot(path, rows, scaling, real_rows):
    """Draws the plot when matplotlib imports; does nothing otherwise."""
    try:
        import matplotlib
        matplotlib.use("Agg")
        import matplotlib.pyplot as plt
    except ImportError:
        return
    height = 0.6 * (len(rows) + len(real_rows)) + 1.5
    fig, (left, right) = plt.subplots(1, 2, figsize=(14, height), gridspec_kw={"width_ratios": [3, 2]})
    _plot_ratios(left, rows, real_rows)
    _plot_scaling(right, scaling)
    fig.tight_layout()
    fig.savefig(path, dpi=110)
    plt.close(fig)
