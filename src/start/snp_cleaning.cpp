// Cleaning of the subjects of one SNP probe and the class tallies.
//
// A subject is retained while its excluded flag != 1. The steps run in a fixed order, each over
// the subjects in index order, and later steps see the flags and copy numbers that earlier
// steps wrote:
//   1  leave out calls above two copies (and subjects without a finite intensity pair);
//   2  leave out subjects far from every other subject (of either disease status);
//   3-5  zero copies: first tally, then a called one or two copies that looks like zero
//        copies becomes zero (or is left out);
//   6-7  cleaned zero-copy tally;
//   8-10 one copy: first tally, then a homozygous-looking two-copy call with a one-copy
//        LRR becomes one copy (or is left out when its LRR is far below one copy);
//   11-14 cleaned one- and two-copy tallies, and the cleaned class of every subject.

#include <cmath>
#include <limits>

#include "checks/plausibility.h"
#include "start/snp_cleaning.h"

namespace {
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
// LRR and BAF mean recorded for a status group without zero-copy subjects.
constexpr double kEmptyZeroCopy = -100.0;
// A BAF sum of squares below this marks a class whose BAFs all sit on one value.
constexpr double kDegenerateSpread = 0.0001;
// One-copy window of a two-copy call: from 2.5 sd below the one-copy mean up to 1 sd above.
constexpr double kOneCopyBelow = 2.5;
constexpr double kOneCopyAbove = 1.0;
// Zero-copy window: LRR below mean + 2 sd and BAF within 2 sd of the zero-copy class.
constexpr double kZeroCopyWindow = 2.0;
// Two-copy BAF boundaries between AA, AB and BB; one-copy boundary between A and B.
constexpr double kTwoCopyLow = 0.25;
constexpr double kTwoCopyHigh = 0.75;
constexpr double kOneCopySplit = 0.5;

// Population spread with divisor N. Rounding can leave the centred sum of squares of
// equal values a hair below zero; that is a spread of 0, not a NaN.
double spread(double sumsq, double mean, int n) {
  const double var = (sumsq - n * mean * mean) / n;
  return std::sqrt(var > 0.0 ? var : 0.0);
}

void add_lrr(SnpGroupTally& t, int k, double r) {
  t.r_count[k] += 1;
  t.r_sum[k] += r;
  t.r_sumsq[k] += r * r;
}

// BAF of allele class c: the sum only where the centre is estimated (0 and 4), the sum
// of squares about the fixed centre elsewhere.
void add_baf(SnpGroupTally& t, int c, double b) {
  t.b_count[c] += 1;
  if (c == 0 || c == 4) {
    t.b_sum[c] += b;
    t.b_sumsq[c] += b * b;
  } else if (c == 2 || c == 5) {
    t.b_sumsq[c] += (b - 1.0) * (b - 1.0);
  } else {
    t.b_sumsq[c] += b * b;
  }
}

int one_copy_class(double b) { return b > kOneCopySplit ? 2 : 1; }

int two_copy_class(double b) {
  if (b <= kTwoCopyLow) return 3;
  return b <= kTwoCopyHigh ? 4 : 5;
}
}  // namespace

LrrStats lrr_stats(const SnpGroupTally& t, int k) {
  const int n = t.r_count[k];
  if (n == 0) return {k == 0 ? kEmptyZeroCopy : kNaN, kNaN};
  const double m = t.r_sum[k] / n;
  return {m, spread(t.r_sumsq[k], m, n)};
}

BafStats baf_stats(const SnpGroupTally& t, int c) {
  const int n = t.b_count[c];
  if (c == 4) {
    if (n == 0) return {kNaN, kNaN, 0};
    const double b = t.b_sum[c] / n;
    return {b, spread(t.b_sumsq[c], b, n), 0};
  }
  if (c == 0) {
    if (n == 0) return {kEmptyZeroCopy, 0.0, 1};
    const double b = t.b_sum[c] / n;
    if (t.b_sumsq[c] < kDegenerateSpread) return {b, 0.0, 1};
    return {b, spread(t.b_sumsq[c], b, n), 0};
  }
  const double centre = (c == 2 || c == 5) ? 1.0 : 0.0;
  // An empty class has a sum of squares of 0 and is flagged without a division.
  if (t.b_sumsq[c] < kDegenerateSpread) return {centre, 0.0, 1};
  return {centre, std::sqrt(t.b_sumsq[c] / n), 0};
}

bool usable_intensities(const DATA& data, int i) {
  return std::isfinite(data.intensity_r[i]) && std::isfinite(data.intensity_b[i]);
}

int exclude_high_calls(const DATA& data, ProbeSelection& selection) {
  int high = 0;
  for (int i = 0; i < data.num_subjects; ++i) {
    if (!usable_intensities(data, i)) {
      selection.excluded[i] = 1;
    } else if (selection.calls[i] > 2) {
      selection.excluded[i] = 1;
      ++high;
    } else {
      selection.excluded[i] = 0;
    }
  }
  return high;
}

SnpCleaning clean_SNP_subjects(const DATA& data, ProbeSelection& selection) {
  const int n = data.num_subjects;
  const std::vector<double>& r = data.intensity_r;
  const std::vector<double>& b = data.intensity_b;
  const std::vector<int>& y = data.disease_status;
  std::vector<int>& cn = selection.calls;
  const auto retained = [&selection](int i) { return selection.retained(i); };
  SnpCleaning out;
  out.cleaned_class.assign(static_cast<std::size_t>(n), -1);

  out.high_calls = exclude_high_calls(data, selection);
  flag_isolated_subjects(data, selection.excluded);

  // Zero copies as called.
  for (int i = 0; i < n; ++i)
    if (retained(i) && cn[i] == 0) {
      add_lrr(out.first.y[y[i]], 0, r[i]);
      add_baf(out.first.y[y[i]], 0, b[i]);
    }
  LrrStats zero_r[2];
  BafStats zero_b[2];
  for (int g = 0; g < 2; ++g) {
    zero_r[g] = lrr_stats(out.first.y[g], 0);
    zero_b[g] = baf_stats(out.first.y[g], 0);
  }
  // A one- or two-copy call that looks like zero copies. Without called zero copies in the
  // group, THRESH_CN0 takes the place of the zero-copy window.
  for (int i = 0; i < n; ++i) {
    if (!retained(i) || cn[i] == 0) continue;
    const int g = y[i];
    if (out.first.y[g].r_count[0] == 0) {
      if (r[i] < THRESH_CN0) selection.excluded[i] = 1;
    } else if (r[i] < zero_r[g].m + kZeroCopyWindow * zero_r[g].s) {
      if (std::fabs(b[i] - zero_b[g].b) > kZeroCopyWindow * zero_b[g].w)
        selection.excluded[i] = 1;
      else
        cn[i] = 0;
    }
  }
  for (int i = 0; i < n; ++i)
    if (retained(i) && cn[i] == 0) {
      add_lrr(out.cleaned.y[y[i]], 0, r[i]);
      add_baf(out.cleaned.y[y[i]], 0, b[i]);
      out.cleaned_class[i] = 0;
    }

  // One copy as called (after the zero-copy reassignment).
  for (int i = 0; i < n; ++i)
    if (retained(i) && cn[i] == 1) {
      add_lrr(out.first.y[y[i]], 1, r[i]);
      out.first.y[y[i]].b_count[one_copy_class(b[i])] += 1;
    }
  LrrStats one_r[2];
  for (int g = 0; g < 2; ++g) one_r[g] = lrr_stats(out.first.y[g], 1);
  // A homozygous-looking two-copy call with a one-copy LRR becomes one copy; one far below
  // the one-copy class is left out. Groups without called one copies are left alone.
  for (int i = 0; i < n; ++i) {
    if (!retained(i) || cn[i] != 2) continue;
    const int g = y[i];
    if (out.first.y[g].r_count[1] == 0) continue;
    if (r[i] < one_r[g].m - kOneCopyBelow * one_r[g].s) {
      selection.excluded[i] = 1;
    } else if (r[i] < one_r[g].m + kOneCopyAbove * one_r[g].s &&
               (b[i] <= kTwoCopyLow || b[i] > kTwoCopyHigh)) {
      cn[i] = 1;
    }
  }
  for (int i = 0; i < n; ++i)
    if (retained(i) && cn[i] == 1) {
      const int c = one_copy_class(b[i]);
      add_lrr(out.cleaned.y[y[i]], 1, r[i]);
      add_baf(out.cleaned.y[y[i]], c, b[i]);
      out.cleaned_class[i] = c;
    }

  // Two copies.
  for (int i = 0; i < n; ++i)
    if (retained(i) && cn[i] >= 2) {
      const int c = two_copy_class(b[i]);
      add_lrr(out.cleaned.y[y[i]], 2, r[i]);
      add_baf(out.cleaned.y[y[i]], c, b[i]);
      out.cleaned_class[i] = c;
    }
  return out;
}
