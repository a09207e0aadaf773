#!/usr/bin/env python3
"""Tables of the robustness benchmark (scripts/measure-robustness.sh).

Reads a manifest (one simulated and analysed set per line: directory, probe type, model,
measurement groups, calling-error profile, one-copy frequency), each directory holding
truth.txt, results.out.tsv, CN.dat and phenotype.dat, and prints Markdown tables:
one row per probe type and profile (pooled over the rest, for null calibration), one row per
probe type, profile and one-copy frequency (pooled over models and groups), and one row per cell.
With --null (the null calibration run, every probe null) it prints the calibration tables
instead: lambda, the shares of p < 0.05 and p < 0.01 and the mean chi-square, each with two
standard deviations of its sampling error, per probe type and profile, per probe type,
profile and model, and per probe type, model and measurement groups.

Standard library only, so it runs with any python3.
"""

import math
import statistics
import sys
from collections import Counter, defaultdict

CHI2_MEDIAN_1DF = 0.4549364231195724
# One standard deviation of lambda from n null probes is LAMBDA_SD_FACTOR / sqrt(n): that of
# the median of n chi-square(1) values, 1 / (2 f(m) sqrt(n)) with f(m) = 0.47114 the
# density at the median m, over m.
LAMBDA_SD_FACTOR = 1.0 / (2.0 * 0.4711363 * CHI2_MEDIAN_1DF)
Z975 = 1.959963984540054


def read_truth(path):
    probes = {}
    header = None
    with open(path) as f:
        for line in f:
            if line.startswith("#"):
                continue
            fields = line.split()
            if header is None:
                header = fields
                continue
            row = dict(zip(header, fields))
            probes[row["name"]] = (row["effect"] == "associated", float(row["log_or"]))
    return probes


def read_table(path):
    rows = []
    with open(path) as f:
        header = f.readline().rstrip("\n").split("\t")
        for line in f:
            rows.append(dict(zip(header, line.rstrip("\n").split("\t"))))
    return rows


def logistic_chi2(x, y):
    """Wald chi-square of the slope of a logistic regression of y on x (Newton)."""
    b0, b1 = 0.0, 0.0
    for _ in range(25):
        g0 = g1 = h00 = h01 = h11 = 0.0
        for xi, yi in zip(x, y):
            eta = b0 + b1 * xi
            p = 1.0 / (1.0 + math.exp(-eta)) if eta > -700 else 0.0
            w = p * (1.0 - p)
            g0 += yi - p
            g1 += (yi - p) * xi
            h00 += w
            h01 += w * xi
            h11 += w * xi * xi
        det = h00 * h11 - h01 * h01
        if det <= 0:
            return 0.0
        d0 = (h11 * g0 - h01 * g1) / det
        d1 = (h00 * g1 - h01 * g0) / det
        b0 += d0
        b1 += d1
        if abs(d0) < 1e-10 and abs(d1) < 1e-10:
            break
    var1 = h00 / det
    return b1 * b1 / var1 if var1 > 0 else 0.0


def calls_only_chi2(directory, wanted):
    """Calls-only test of each associated probe: status on the called copy number."""
    with open(f"{directory}/phenotype.dat") as f:
        f.readline()
        status = [int(line.split()[0]) for line in f if line.strip()]
    names = []
    with open(f"{directory}/CN.info") as f:
        names = [line.split()[0] for line in f if line.strip()]
    out = {}
    with open(f"{directory}/CN.dat") as f:
        for name, line in zip(names, f):
            if name not in wanted:
                continue
            calls = [min(int(v), 2) for v in line.split()]
            out[name] = logistic_chi2(calls, status)
    return out


class Tally:
    def __init__(self):
        self.probes = 0
        self.na = Counter()
        self.rescue_na = Counter()
        self.rescued = 0
        self.continued = 0
        self.null_chi2 = []
        self.null_small_p = 0
        self.null_reported = 0
        self.assoc = 0
        self.assoc_small_p = 0
        self.assoc_chi2_sum = 0.0
        self.calls_chi2_sum = 0.0
        self.calls_probes = 0
        self.covered = 0
        self.reported = 0

    def add(self, truth, table, calls_chi2):
        for row in table:
            name = row["ID"]
            associated, log_or = truth[name]
            self.probes += 1
            ok = row["OUTCOME"] == "OK"
            if not ok:
                self.na[row["OUTCOME"]] += 1
                rescue = row.get("RESCUE_OUTCOME", "NA")  # tables of older binaries lack it
                if rescue != "NA":
                    self.rescue_na[rescue] += 1
            elif row["PATH"] == "rescued":
                self.rescued += 1
            elif row["PATH"] == "continued":
                self.continued += 1
            chi2 = float(row["CHISQ"]) if ok else 0.0
            p = float(row["P"]) if ok else 1.0
            if ok:
                self.reported += 1
                beta, se = float(row["BETA"]), float(row["SE"])
                if beta - Z975 * se <= log_or <= beta + Z975 * se:
                    self.covered += 1
            if associated:
                self.assoc += 1
                self.assoc_chi2_sum += chi2
                self.assoc_small_p += p < 0.05
                if name in calls_chi2:
                    self.calls_chi2_sum += calls_chi2[name]
                    self.calls_probes += 1
            elif ok:
                self.null_reported += 1
                self.null_chi2.append(chi2)
                self.null_small_p += p < 0.05

    def cells(self):
        na = sum(self.na.values())
        tallies = ", ".join(f"{n} {code}" for code, n in self.na.most_common(3))
        rescue_tallies = ", ".join(f"{n} {code}" for code, n in self.rescue_na.most_common(3))
        lam = (statistics.median(self.null_chi2) / CHI2_MEDIAN_1DF) if self.null_chi2 else float("nan")
        m = self.null_reported
        small = self.null_small_p / m if m else float("nan")
        sd = math.sqrt(0.05 * 0.95 / m) if m else float("nan")
        power = self.assoc_small_p / self.assoc if self.assoc else float("nan")
        cover = self.covered / self.reported if self.reported else float("nan")
        mean_chi2 = self.assoc_chi2_sum / self.assoc if self.assoc else float("nan")
        ratio = "" if not self.calls_probes else f"{mean_chi2 / (self.calls_chi2_sum / self.calls_probes):.2f}"
        # Every rescued probe was turned down by the stated path, which alone leaves NA + rescued.
        stated_na = 100.0 * (na + self.rescued) / self.probes
        return [str(self.probes), f"{100.0 * na / self.probes:.1f}", f"{stated_na:.1f}", tallies or "-",
                rescue_tallies or "-", str(self.rescued), str(self.continued),
                f"{m}", f"{lam:.3f}", f"{100 * small:.1f} ± {200 * sd:.1f}", f"{100 * power:.1f}",
                f"{100 * cover:.1f}", f"{mean_chi2:.2f}", ratio]


HEADER = ["probes", "NA %", "NA % stated path alone", "NA outcomes (most frequent)",
          "their rescue turned down by", "rescued",
          "continued by the certificate", "null probes", "null λ",
          "null p<0.05 % (± 2 sd)", "power %", "95% CI covers OR %", "mean χ² assoc. (NA = 0)",
          "χ² / calls-only"]


class NullTally:
    """Calibration of the reported null probes of a run where every probe is null."""

    def __init__(self):
        self.probes = 0
        self.na = Counter()
        self.chi2 = []
        self.p = []

    def add(self, table):
        for row in table:
            self.probes += 1
            if row["OUTCOME"] != "OK":
                self.na[row["OUTCOME"]] += 1
                continue
            self.chi2.append(float(row["CHISQ"]))
            self.p.append(float(row["P"]))

    def cells(self):
        n = len(self.chi2)
        na = sum(self.na.values())
        tallies = ", ".join(f"{k} {code}" for code, k in self.na.most_common(3))
        if n == 0:
            return [str(self.probes), f"{100.0 * na / self.probes:.1f}", tallies or "-", "0"] + ["-"] * 4

        def share(level):
            observed = sum(1 for p in self.p if p < level) / n
            sd = math.sqrt(level * (1.0 - level) / n)
            return f"{100 * observed:.2f} ± {200 * sd:.2f}"

        lam = statistics.median(self.chi2) / CHI2_MEDIAN_1DF
        mean = sum(self.chi2) / n
        return [str(self.probes), f"{100.0 * na / self.probes:.1f}", tallies or "-", str(n),
                f"{lam:.3f} ± {2 * LAMBDA_SD_FACTOR / math.sqrt(n):.3f}", share(0.05), share(0.01),
                f"{mean:.3f} ± {2 * math.sqrt(2.0 / n):.3f}"]


NULL_HEADER = ["probes", "NA %", "NA outcomes (most frequent)", "reported", "λ (± 2 sd)",
               "p<0.05 % (± 2 sd)", "p<0.01 % (± 2 sd)", "mean χ² (± 2 sd)"]


def markdown(title_columns, rows, header=HEADER):
    lines = ["| " + " | ".join(title_columns + header) + " |",
             "|" + "---|" * (len(title_columns) + len(header))]
    for key, tally in rows:
        lines.append("| " + " | ".join(list(key) + tally.cells()) + " |")
    return "\n".join(lines)


def null_main(manifest):
    by_profile = defaultdict(NullTally)
    by_model = defaultdict(NullTally)
    by_design = defaultdict(NullTally)
    with open(manifest) as f:
        for line in f:
            directory, probe_type, model, groups, profile, _ = line.split()
            table = read_table(f"{directory}/results.out.tsv")
            by_profile[(probe_type, profile)].add(table)
            by_model[(probe_type, profile, model)].add(table)
            by_design[(probe_type, model, groups)].add(table)
    print("Null calibration, pooled over models, measurement groups and one-copy frequencies:\n")
    print(markdown(["probe", "calls"], list(by_profile.items()), NULL_HEADER))
    print("\nPer model, pooled over measurement groups and one-copy frequencies:\n")
    print(markdown(["probe", "calls", "model"], list(by_model.items()), NULL_HEADER))
    print("\nPer model and measurement groups, pooled over calling-error profiles and one-copy "
          "frequencies:\n")
    print(markdown(["probe", "model", "groups"], sorted(by_design.items()), NULL_HEADER))


def main():
    if len(sys.argv) == 3 and sys.argv[1] == "--null":
        null_main(sys.argv[2])
        return
    if len(sys.argv) != 2:
        sys.exit("usage: robustness_table.py [--null] MANIFEST")
    by_profile = defaultdict(Tally)
    by_row = defaultdict(Tally)
    by_cell = defaultdict(Tally)
    order = []
    with open(sys.argv[1]) as f:
        for line in f:
            directory, probe_type, model, groups, profile, freq1 = line.split()
            truth = read_truth(f"{directory}/truth.txt")
            table = read_table(f"{directory}/results.out.tsv")
            calls = {}
            if probe_type == "CN":
                wanted = {name for name, (assoc, _) in truth.items() if assoc}
                calls = calls_only_chi2(directory, wanted)
            row_key = (probe_type, profile, freq1)
            cell_key = (probe_type, profile, freq1, model, groups)
            if row_key not in by_row:
                order.append(row_key)
            by_profile[(probe_type, profile)].add(truth, table, calls)
            by_row[row_key].add(truth, table, calls)
            by_cell[cell_key].add(truth, table, calls)
    print("Pooled over models, measurement groups and one-copy frequencies (null calibration):\n")
    print(markdown(["probe", "calls"], list(by_profile.items())))
    print("\nPooled over models and measurement groups:\n")
    print(markdown(["probe", "calls", "one-copy freq."], [(k, by_row[k]) for k in order]))
    print("\nPer cell:\n")
    print(markdown(["probe", "calls", "one-copy freq.", "model", "groups"],
                   [(k, by_cell[k]) for k in by_cell]))


if __name__ == "__main__":
    main()
