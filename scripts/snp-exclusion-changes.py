#!/usr/bin/env python3
"""SNP probes of an input set whose isolated-subject exclusion depends on the scan's rule.

    scripts/snp-exclusion-changes.py DIR

DIR holds an input set as quillmark-sim writes it (phenotype.dat, CN.info, CN.dat, raw.info,
raw.dat; raw.dat has an LRR line and a BAF line per probe, in the order of CN.info). For every
probe the script repeats, by its own route, the first two steps of the SNP cleaning: a subject
is retained when both intensities are finite and it is called at most two copies; a retained
subject is then excluded as isolated when no other retained subject lies within squared
distance 0.3, the distance being (dr)^2 + 16 (db)^2 in LRR r and BAF b. The neighbours are
looked for among the subjects of the same disease status (the rule before the mend) and
among all subjects (the rule after it). Whether a subject is isolated does not depend on the
order in which subjects are judged, so the script tests each subject against all the others.

Writes one line per probe whose exclusion differs: the probe name and the number of subjects
whose exclusion differs; then, on standard error, the number of such probes out of all.
"""

import math
import sys

RADIUS = 0.3
WEIGHT = 16.0
# Cells a little wider than the radius along each axis: a pair within the radius lies in
# the same or an adjacent cell.
CELL_R = 0.56
CELL_B = 0.56 / 4.0


def distance(ri, bi, rj, bj):
    dr = ri - rj
    db = bi - bj
    return dr * dr + WEIGHT * db * db


def isolated(r, b, retained, group):
    """Per subject: True when retained and without a retained neighbour of its group."""
    cells = {}
    for i, keep in enumerate(retained):
        if keep:
            key = (group[i], math.floor(r[i] / CELL_R), math.floor(b[i] / CELL_B))
            cells.setdefault(key, []).append(i)
    out = [False] * len(r)
    for i, keep in enumerate(retained):
        if not keep:
            continue
        g, cr, cb = group[i], math.floor(r[i] / CELL_R), math.floor(b[i] / CELL_B)
        found = False
        for dr in (0, -1, 1):
            for db in (0, -1, 1):
                for j in cells.get((g, cr + dr, cb + db), ()):
                    if j != i and distance(r[i], b[i], r[j], b[j]) <= RADIUS:
                        found = True
                        break
                if found:
                    break
            if found:
                break
        out[i] = not found
    return out


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    d = sys.argv[1]
    with open(f"{d}/phenotype.dat") as f:
        f.readline()
        status = [int(line.split()[0]) for line in f if line.strip()]
    n = len(status)
    pooled = [0] * n
    with open(f"{d}/CN.info") as f:
        names = [line.split()[0] for line in f if line.strip()]
    changed = 0
    with open(f"{d}/CN.dat") as calls, open(f"{d}/raw.dat") as raw, open(f"{d}/raw.info") as info:
        for name in names:
            for kind in ("LRR", "BAF"):
                fields = info.readline().split()
                if fields[:1] != [name]:
                    sys.exit(f"Error: {d}/raw.info: expected a row of probe {name} ({kind})")
            cn = [int(x) for x in calls.readline().split()[:n]]
            r = [float(x) for x in raw.readline().split()[:n]]
            b = [float(x) for x in raw.readline().split()[:n]]
            retained = [math.isfinite(r[i]) and math.isfinite(b[i]) and cn[i] <= 2
                        for i in range(n)]
            by_status = isolated(r, b, retained, status)
            together = isolated(r, b, retained, pooled)
            differ = sum(1 for i in range(n) if by_status[i] != together[i])
            if differ:
                changed += 1
                print(name, differ)
    print(f"{changed} of {len(names)} probes have a subject whose exclusion changed",
          file=sys.stderr)


if __name__ == "__main__":
    main()
