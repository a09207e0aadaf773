// The measurement terms summed in locals (class after class, or subject after subject into
// sums held apart from U and E) against add_terms straight into U and E in the same order:
// the same doubles, bit for bit, on simulated SNP probes whose classes share R positions
// ('I' arrays) or not ('A'), with one measurement group or one per status.

#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "core/para.h"
#include "fit/class_models.h"
#include "fit/engine.h"
#include "fit/information.h"
#include "fit/measurement_models.h"
#include "numeric/matrix.h"
#include "sim/simulate.h"
#include "snp_fixture.h"

namespace {

// U (size n) and E (n x n) that start from the same random entries, so that a store of
// an entry that was never loaded would show.
struct Accumulators {
  std::vector<double> U;
  Matrix E;
  Accumulators(int n, std::uint64_t seed) : U(static_cast<std::size_t>(n)), E(n, n) {
    std::mt19937 rng(static_cast<std::mt19937::result_type>(seed));
    std::uniform_real_distribution<double> unit(-1.0, 1.0);
    for (double& u : U) u = unit(rng);
    for (int i = 0; i < n; ++i)
      for (int j = 0; j < n; ++j) E(i, j) = unit(rng);
  }
  void expect_equal(const Accumulators& other, int n, const char* what) const {
    for (int u = 0; u < n; ++u) ASSERT_EQ(U[u], other.U[u]) << what << " U " << u;
    for (int i = 0; i < n; ++i)
      for (int j = 0; j < n; ++j) ASSERT_EQ(E(i, j), other.E(i, j)) << what << " E " << i << "," << j;
  }
};

TEST(MeasurementTermSums, EqualAddingStraightIntoTheInformation) {
  for (const ArrayType array_type : {ArrayType::kLrrBaf, ArrayType::kAlleleSpecificR})
    for (const bool differential : {false, true}) {
      SimSettings settings;
      settings.num_subjects = 300;
      settings.freq0 = 0.05;
      settings.freq1 = 0.2;
      settings.differential = differential;
      settings.seed = differential ? 5 : 7;
      const SimSubjects subjects = make_subjects(settings);
      const SimProbe probe = make_probe(settings, subjects, 0);
      const SnpProbeCase pc = make_snp_case(settings, subjects, probe, {0, {}, 1, array_type});
      std::vector<int> included;
      ASSERT_EQ(select_fit_subjects(pc.data, included), Outcome::kOk);
      AlleleClassMeasurement m(pc.data, pc.para, included);
      m.update(pc.start.data());
      const int n = pc.para.num_params;
      const int N = static_cast<int>(included.size());
      const int C = m.num_classes();
      ASSERT_GE(C, 3);

      // Posteriors with some below the floor and some exactly at it.
      std::mt19937 rng(11);
      std::uniform_real_distribution<double> unit(0.0, 1.0);
      Posteriors r;
      r.resize(N, C);
      for (int c = 0; c < C; ++c)
        for (int a = 0; a < N; ++a) {
          const double u = unit(rng);
          r(a, c) = u < 0.2 ? 1e-9 : u < 0.25 ? kPosteriorFloor : u;
        }

      // Class after class.
      Accumulators expected(n, 3), summed(n, 3);
      for (int c = 0; c < C; ++c)
        for (int a = 0; a < N; ++a)
          if (!(r(a, c) < kPosteriorFloor))
            m.add_terms(expected.U.data(), Information(expected.E), a, c, r(a, c));
      for (int c = 0; c < C; ++c)
        m.add_class_terms(summed.U.data(), Information(summed.E), c, r.column(c), kPosteriorFloor);
      summed.expect_equal(expected, n, "class after class");

      // Subject after subject.
      Accumulators expected2(n, 4), summed2(n, 4);
      m.begin_terms(summed2.U.data(), Information(summed2.E));
      for (int a = 0; a < N; ++a)
        for (int c = 0; c < C; ++c) {
          if (r(a, c) < kPosteriorFloor) continue;
          m.add_terms(expected2.U.data(), Information(expected2.E), a, c, r(a, c));
          m.add_subject_terms(summed2.U.data(), Information(summed2.E), a, c, r(a, c));
        }
      m.end_terms(summed2.U.data(), Information(summed2.E));
      summed2.expect_equal(expected2, n, "subject after subject");
    }
}

}  // namespace
