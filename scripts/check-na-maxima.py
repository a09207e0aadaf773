#!/usr/bin/python3
# (The Debian interpreter, which python3-numpy serves, whatever python3 comes first in PATH.)
"""Are the probes the acceptance tests leave NA the intensities' own maxima?

    scripts/check-na-maxima.py MANIFEST [--per-set N]

Reads the manifest of a kept robustness run (scripts/measure-robustness.sh --keep DIR: one
set per line, directory, probe type, model, measurement groups, profile, one-copy
frequency; the sets written with quillmark-sim --true-classes). For every probe left NA because
its maximum lies where the tests reject it (the code of its last attempt, RESCUE_OUTCOME, or
its OUTCOME where no rescue was tried, is an acceptance test's, ACCEPT_*, or the guarded
iteration's FIT_NOT_MAXIMUM: no maximum inside the region the cluster check accepts), it
fits, independently of Quillmark, the mixture of the intensities alone: per measurement group
(cases and controls apart with differential measurement errors, else everybody), one normal
cluster of log R ratio per copy number and, on SNP probes, one normal cluster of B allele
frequency per allele class, with free class weights and no disease model. The EM starts from
the clusters of the subjects' true classes (a start no calling error can drag) and climbs to
the nearest maximum. The B allele frequency clusters stay where the true classes put them:
the arrays clip it to [0, 1], so half of a homozygous class sits at exactly 0 or 1, and a
free cluster would collapse onto that spike; held, they still tell the classes apart. The script then applies Quillmark's acceptance tests to that maximum,
against the same true-class clusters:
  moved      the one-copy log R ratio mean moved by more than one fitted standard deviation;
  cluster    copy-number order and, CN probes, the lower two-standard-deviation limits in
             order; SNP probes: the zero-copy log R ratio mean above -1.3, a one- or
             two-copy log R ratio spread above 0.4, or one-copy and two-copy clusters that
             clear each other by less than one standard deviation on each side;
  case shift (differential) the case-minus-control shift of the one- and two-copy log R
             ratio means differs by more than 0.25.
The class weights are free, so neither the disease model nor the covariates play a part: a
probe whose own mixture maximum fails a test has its clusters put there by its intensities
alone, and no maximum the tests accept near its true clusters. Its NA is the right report.

It prints one row per cell and a total: those NA probes, checked (at most N per set, all by
default), those whose own maximum fails the test that turned the probe down (for an
ACCEPT_* code), those whose own maximum fails any test, and the median log-likelihood the
maximum gains over the true-class clusters.
"""

import copy
import math
import statistics
import sys
from collections import defaultdict

import numpy as np

ACCEPTANCE_CODES = {"ACCEPT_MEAN_MOVED": "moved", "ACCEPT_CLUSTER": "cluster",
                    "ACCEPT_AB_BAF": "het B", "ACCEPT_CASE_SHIFT": "case shift"}
# (The heterozygous B test cannot fail here: the B clusters are held.)
SD_FLOOR = 1e-3
ZERO_COPY_HIGHEST_MEAN = -1.3  # Quillmark's THRESH_CN0
WIDEST_R_SD = 0.4              # Quillmark's WIN_R
MIN_CLASS_SUBJECTS = 3


def read_lines(path):
    with open(path) as f:
        return f.read().splitlines()


def read_table(path):
    lines = read_lines(path)
    header = lines[0].split("\t")
    return [dict(zip(header, line.split("\t"))) for line in lines[1:]]


def normal_density(x, mean, sd):
    return np.exp(-0.5 * ((x - mean) / sd) ** 2) / (sd * math.sqrt(2.0 * math.pi))


class Mixture:
    """Normal clusters of log R ratio by copy number k and of B allele frequency by allele
    class (k, l), with free weights per allele class."""

    def __init__(self, classes, snp):
        self.classes = classes  # list of (k, l)
        self.snp = snp
        self.w = {}
        self.r = {}  # k -> (mean, sd)
        self.b = {}  # (k, l) -> (mean, sd)

    @staticmethod
    def _moments(x, weights):
        total = weights.sum()
        mean = float((weights * x).sum() / total)
        sd = math.sqrt(float((weights * (x - mean) ** 2).sum() / total))
        return mean, max(sd, SD_FLOOR)

    def m_step(self, r, b, posterior, move_b=True):
        n = len(r)
        for j, c in enumerate(self.classes):
            self.w[c] = float(posterior[j].sum()) / n
        for k in sorted({c[0] for c in self.classes}):
            weights = sum(posterior[j] for j, c in enumerate(self.classes) if c[0] == k)
            self.r[k] = self._moments(r, weights)
        if self.snp and move_b:
            for j, c in enumerate(self.classes):
                self.b[c] = self._moments(b, posterior[j])

    def joint(self, r, b):
        rows = []
        for c in self.classes:
            d = self.w[c] * normal_density(r, *self.r[c[0]])
            if self.snp:
                d = d * normal_density(b, *self.b[c])
            rows.append(d)
        return np.array(rows)

    def loglik(self, r, b):
        return float(np.log(self.joint(r, b).sum(axis=0)).sum())

    def fit(self, r, b, iterations=5000, tolerance=1e-9):
        previous = -math.inf
        for _ in range(iterations):
            joint = self.joint(r, b)
            total = joint.sum(axis=0)
            ell = float(np.log(total).sum())
            if ell - previous < tolerance:
                break
            previous = ell
            self.m_step(r, b, joint / total, move_b=False)
        return self.loglik(r, b)


def true_class_mixture(r, b, classes_of, snp):
    classes = sorted(c for c in set(classes_of)
                     if sum(1 for x in classes_of if x == c) >= MIN_CLASS_SUBJECTS)
    mixture = Mixture(classes, snp)
    posterior = np.array([[1.0 if x == c else 0.0 for x in classes_of] for c in classes])
    keep = posterior.sum(axis=0) > 0  # subjects of a class too small to fit are left out
    mixture.m_step(r[keep], b[keep], posterior[:, keep])
    return mixture, keep


def failed_tests(fits, references, snp, differential):
    """The acceptance tests the fitted mixtures (one per group) fail against the references."""
    failed = set()
    for fit, ref in zip(fits, references):
        if 1 in fit.r and 1 in ref.r:
            if abs(fit.r[1][0] - ref.r[1][0]) > fit.r[1][1]:
                failed.add("moved")
        ks = sorted(fit.r)
        for lower, upper in zip(ks, ks[1:]):
            (m0, s0), (m1, s1) = fit.r[lower], fit.r[upper]
            if m0 > m1 or (not snp and m0 - 2.0 * s0 > m1 - 2.0 * s1):
                failed.add("cluster")
        if snp and 0 in fit.r and fit.r[0][0] > ZERO_COPY_HIGHEST_MEAN:
            failed.add("cluster")
        if snp and any(fit.r[k][1] > WIDEST_R_SD for k in (1, 2) if k in fit.r):
            failed.add("cluster")
        if snp and 1 in fit.r and 2 in fit.r:
            (m1, s1), (m2, s2) = fit.r[1], fit.r[2]
            if m2 - s2 < m1 + s1:
                failed.add("cluster")
    if differential and len(fits) == 2 and all(1 in f.r and 2 in f.r for f in fits):
        shift1 = fits[1].r[1][0] - fits[0].r[1][0]
        shift2 = fits[1].r[2][0] - fits[0].r[2][0]
        if abs(shift1 - shift2) > 0.25:
            failed.add("case shift")
    return failed


def check_probe(r, b, classes, groups, snp, differential):
    fits, references, gain = [], [], 0.0
    for g in sorted(set(groups)):
        members = [i for i, x in enumerate(groups) if x == g]
        reference, keep = true_class_mixture(r[members], b[members],
                                             [classes[i] for i in members], snp)
        fit = copy.deepcopy(reference)
        rk, bk = r[members][keep], b[members][keep]
        start = reference.loglik(rk, bk)
        gain += fit.fit(rk, bk) - start
        fits.append(fit)
        references.append(reference)
    return failed_tests(fits, references, snp, differential), gain


def check_set(directory, probe_type, groups_count, per_set):
    snp = probe_type == "SNP"
    differential = groups_count == "2"
    table = read_table(f"{directory}/results.out.tsv")
    wanted = {}
    for index, row in enumerate(table):
        if row["OUTCOME"] == "OK":
            continue
        final = row.get("RESCUE_OUTCOME", "NA")
        if final == "NA":
            final = row["OUTCOME"]
        if final in ACCEPTANCE_CODES:
            wanted[index] = ACCEPTANCE_CODES[final]
        elif final == "FIT_NOT_MAXIMUM" and row.get("RESCUE_OUTCOME", "NA") != "NA":
            wanted[index] = "no maximum inside"
    checked = sorted(wanted)[:per_set] if per_set else sorted(wanted)
    if not checked:
        return len(wanted), []
    status = [int(line.split()[0]) for line in read_lines(f"{directory}/phenotype.dat")[1:] if line]
    groups = status if differential else [0] * len(status)
    raw = read_lines(f"{directory}/raw.dat")
    true_classes = read_lines(f"{directory}/true_classes.dat")
    results = []
    lines_per_probe = 2 if snp else 1
    for index in checked:
        r = np.array(raw[lines_per_probe * index].split(), dtype=float)
        b = np.array(raw[lines_per_probe * index + 1].split(), dtype=float) if snp else r
        classes = [(int(t[0]), int(t[1]) if snp else 0) for t in true_classes[index].split()]
        failed, gain = check_probe(r, b, classes, groups, snp, differential)
        results.append((wanted[index], failed, gain))
    return len(wanted), results


def main():
    args = sys.argv[1:]
    per_set = 0
    if "--per-set" in args:
        at = args.index("--per-set")
        per_set = int(args[at + 1])
        del args[at:at + 2]
    if len(args) != 1:
        sys.exit("usage: check-na-maxima.py MANIFEST [--per-set N]")
    cells = defaultdict(lambda: [0, 0, 0, 0, []])
    order = []
    for line in read_lines(args[0]):
        directory, probe_type, model, groups_count, profile, freq1 = line.split()
        key = (probe_type, profile, freq1, model, groups_count)
        if key not in cells:
            order.append(key)
        na, results = check_set(directory, probe_type, groups_count, per_set)
        cell = cells[key]
        cell[0] += na
        cell[1] += len(results)
        cell[2] += sum(1 for code, failed, _ in results if code in failed)
        cell[3] += sum(1 for _, failed, _ in results if failed)
        cell[4] += [gain for _, _, gain in results]
    header = ["probe", "calls", "one-copy freq.", "model", "groups", "NA by the tests",
              "checked", "own maximum fails the same test", "own maximum fails a test",
              "median log-lik. gained over the true clusters"]
    print("| " + " | ".join(header) + " |")
    print("|" + "---|" * len(header))
    totals = [0, 0, 0, 0, []]
    for key in order:
        cell = cells[key]
        if cell[0] == 0:
            continue
        gains = f"{statistics.median(cell[4]):.2f}" if cell[4] else "-"
        print("| " + " | ".join(list(key) + [str(v) for v in cell[:4]] + [gains]) + " |")
        for i in range(4):
            totals[i] += cell[i]
        totals[4] += cell[4]
    gains = f"{statistics.median(totals[4]):.2f}" if totals[4] else "-"
    print("| all | | | | | " + " | ".join(str(v) for v in totals[:4]) + f" | {gains} |")


if __name__ == "__main__":
    main()
