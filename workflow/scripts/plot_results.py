#!/usr/bin/env python3
"""Draws a Manhattan plot of a Quillmark results file: -log10 p-value of every probe by
chromosome and position, probes reported NA left out.

    plot_results.py results.out results.out.png
"""

import math
import sys

import matplotlib

matplotlib.use("Agg")  # no display needed
import matplotlib.pyplot as plt  # noqa: E402


def read_results(path):
    """(chromosome, position, p-value) of every probe with a p-value."""
    probes = []
    with open(path) as results:
        for number, line in enumerate(results, start=1):
            tokens = line.split()
            if number <= 2 or len(tokens) < 6 or tokens[5] == "NA":
                continue
            probes.append((int(tokens[0]), int(tokens[1]), float(tokens[5])))
    return probes


def main():
    if len(sys.argv) != 3:
        print("usage: plot_results.py RESULTS_FILE PLOT.png", file=sys.stderr)
        return 1
    source, target = sys.argv[1], sys.argv[2]
    probes = sorted(read_results(source))
    figure, axes = plt.subplots(figsize=(10, 4))
    # Chromosomes side by side in their order, each as wide as its span of positions.
    offset, ticks, labels = 0, [], []
    chromosomes = sorted({chromosome for chromosome, _, _ in probes})
    for n, chromosome in enumerate(chromosomes):
        on = [(position, p) for c, position, p in probes if c == chromosome]
        low, high = on[0][0], on[-1][0]
        x = [offset + position - low for position, _ in on]
        # p is printed with two decimals: 0.00e+00 stands for a p-value below 1e-300.
        y = [-math.log10(max(p, 1e-300)) for _, p in on]
        axes.scatter(x, y, s=6, color="tab:blue" if n % 2 == 0 else "tab:gray")
        ticks.append(offset + (high - low) / 2)
        labels.append(str(chromosome))
        offset += high - low + max(1, (high - low) // 10) + 1
    axes.set_xticks(ticks)
    axes.set_xticklabels(labels, fontsize=7)
    axes.set_xlabel("chromosome")
    axes.set_ylabel("-log10 p-value")
    axes.set_title(f"{source}: {len(probes)} probes with a p-value")
    figure.tight_layout()
    figure.savefig(target, dpi=100)
    return 0


if __name__ == "__main__":
    sys.exit(main())
