#pragma once
// Internals of the SNP starting values: the cleaning of subjects, the class tallies and
// their statistics. `get_SNP_initial_Illumina` (initial.h) is the public entry; this
// header exists so that the steps can be tested on their own.
//
// Allele-specific class c of (k copies, l B alleles) is c = k(k+1)/2 + l:
// 0 no copy, 1 A, 2 B, 3 AA, 4 AB, 5 BB.

#include <vector>

#include "core/data.h"
#include "start/probe_selection.h"

// Statuses of a SNP probe; every code from 1 on reports the probe as "NA".
enum SnpStatus {
  SNP_USABLE = 0,
  SNP_BAD_START = 1,        // start vector fails the cluster check, or an infinite frequency entry
  SNP_ZERO_COPY_HIGH = 2,   // zero-copy mean LRR above THRESH_CN0
  SNP_INVALID_INPUT = 3,    // input outside the data model, or a vector longer than the driver's
  SNP_ONE_COPY_HIGH = 4,    // one-copy LRR mean within a two-copy sd of the two-copy mean
  SNP_BAF_SPREAD = 5,       // a modelled one- or two-copy class spreads beyond WIN_B
  SNP_FEW_ONE_COPY = 6,     // fewer than 10 called one-copy subjects
  SNP_CLASS_GREW = 7,       // a class of at most one copy grew tenfold by reassignment
  SNP_NO_ONE_COPY = 8,      // neither one-copy class is modelled
  SNP_MANY_HIGH_CALLS = 9,  // more than 350 subjects called above two copies
};

constexpr int kNumSnpClasses = 6;  // allele-specific classes
constexpr int kNumCnClasses = 3;   // total classes 0, 1, 2

// Running sums of one status group: LRR per total class k, BAF per allele class c.
// For c = 2 and 5 the BAF sum of squares is of (BAF - 1); for c = 1, 2, 3, 5 no BAF sum
// is kept, as their BAF centre is fixed.
struct SnpGroupTally {
  int r_count[kNumCnClasses] = {};
  double r_sum[kNumCnClasses] = {};
  double r_sumsq[kNumCnClasses] = {};
  int b_count[kNumSnpClasses] = {};
  double b_sum[kNumSnpClasses] = {};
  double b_sumsq[kNumSnpClasses] = {};
};

// One tally per disease status.
struct SnpTally {
  SnpGroupTally y[2];
};

// LRR statistics of a total class; NaN for an empty class (except the zero-copy rule below).
struct LrrStats {
  double m;  // mean
  double s;  // standard deviation, divisor N
};

// BAF statistics of an allele class.
struct BafStats {
  double b;        // mean: estimated for c = 0 and 4, fixed otherwise
  double w;        // standard deviation about b; 0 when degenerate
  int degenerate;  // sum of squares below 0.0001: the class cannot be modelled
};

// LRR statistics of total class k in one group. An empty zero-copy class gives m = -100.
LrrStats lrr_stats(const SnpGroupTally& t, int k);
// BAF statistics of allele class c in one group. An empty zero-copy class gives b = -100
// and the degenerate flag.
BafStats baf_stats(const SnpGroupTally& t, int c);

// Result of cleaning the subjects of one SNP probe (steps 1 to 14).
struct SnpCleaning {
  int high_calls = 0;  // subjects with a finite intensity pair called above two copies
  SnpTally first;      // zero and one copy, before the reassignments that can grow a class
  SnpTally cleaned;    // zero, one and two copies, after them
  std::vector<int> cleaned_class;  // per subject; -1 for a subject left out
};

// True when the subject's two intensities are finite; others are left out of the probe.
bool usable_intensities(const DATA& data, int i);

// Step 1: excluded = 1 for subjects called above two copies in `selection.calls` (counted)
// and for subjects with a non-finite intensity (not counted); 0 for the others. Returns
// the count.
int exclude_high_calls(const DATA& data, ProbeSelection& selection);

// Squared neighbour distance of two subjects: (dr)^2 + 16 (db)^2.
double neighbour_distance(const DATA& data, int i, int j);

// Step 2 by a grid of the two intensities: each retained subject (excluded != 1) without
// another retained subject, of either status, within squared distance 0.3 is excluded.
// Subjects are taken in index order and one found isolated no longer serves as a
// neighbour for later ones.
void flag_isolated_subjects(const DATA& data, std::vector<int>& excluded);
// Step 2 by comparing every pair; the reference for the grid version.
void flag_isolated_subjects_plain(const DATA& data, std::vector<int>& excluded);

// Steps 1 to 14 on data whose statuses are 0/1, from the calls in `selection` (at least 0):
// rewrites its `excluded` flags and reassigns its `calls`, and returns the tallies and
// cleaned classes. The data are only read.
SnpCleaning clean_SNP_subjects(const DATA& data, ProbeSelection& selection);
