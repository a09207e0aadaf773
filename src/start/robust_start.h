#pragma once
// Starting values that survive calling errors, for a probe whose stated start was
// rejected or whose fit from it failed or was not accepted.
//
// Segment callers miss carriers and, more rarely, call deletions that are not there,
// independently of the probe's intensity. Such subjects pad a start cluster with
// intensities of its neighbour: its mean is dragged and its spread inflated, so the
// stated start fails the cluster check or the fit wanders off it. Here each subject is
// reassigned, in both directions, to the total class its intensity fits, judged against
// per-class centres (median) and spreads (median absolute deviation) that a minority of
// wrong calls cannot drag; the stated start is then built from these calls, and a CN
// start is refined by a few EM steps of the intensity mixture with the disease effect
// at 0. The caller's called copy numbers are left as they were.

#include <vector>

#include "core/array_type.h"
#include "core/data.h"
#include "core/para.h"
#include "start/probe_selection.h"

constexpr int kRobustClasses = 3;  // total copy number 0, 1, 2 (two or more for CN probes)

// Robust centre and spread of each total class, by disease status.
struct RobustCentres {
  double centre[2][kRobustClasses] = {};  // median R of the subjects assigned to the class
  double spread[2][kRobustClasses] = {};  // 1.4826 x median absolute deviation (floored)
  int count[2][kRobustClasses] = {};      // subjects assigned to the class
  double pooled[kRobustClasses] = {};     // median R over both statuses
};

// The calls that agree with the intensities, and the centres they were judged by.
struct IntensityCalls {
  std::vector<int> calls;  // per subject: the reassigned total class, or the call itself
                           // for a subject that cannot be judged (non-finite intensity,
                           // call outside 0..2 for SNP probes)
  RobustCentres centres;   // of the called classes, the smaller ones without the subjects
                           // inside the core of the largest, which the calls are judged by
  int moved = 0;           // subjects whose class differs from their call (capped at 2)
};

// Median of `values` (reordered); NaN when empty.
double median_of(std::vector<double>& values);

// Moves each judged subject whose call its R intensity contradicts (a 50-fold prior-weighted
// normal density ratio under per-status robust centres of the called classes) to the class
// it fits best.
// SNP probes: a subject whose B allele frequency looks heterozygous (0.25 < B <= 0.75)
// is never put in the one-copy class; calls above two copies are left as they are. CN
// probes judge calls above two copies as class 2.
IntensityCalls intensity_consistent_calls(const DATA& data, bool snp_probe);

// The robust start of a probe: the stated start (get_CN_initial or
// get_SNP_initial_Illumina) from the intensity-consistent calls, then, for CN probes, a
// few EM steps of the intensity mixture with the disease effect at 0. Fills `start` and
// `reference`: the start with each R mean replaced by its robust centre, against which
// the acceptance tests judge the fit, and `selection`. Rewrites the per-probe fields of
// `para`; the data are only read. Returns the start status (0 usable) in the codes of the
// stated start.
int get_robust_initial(double* start, double* reference, PARA& para, const DATA& data, double pfb,
                       bool snp_probe, ArrayType array_type, int differential_measurement_errors,
                       ProbeSelection& selection);
