// The driver's acceptance tests of a fitted CN vector against its start.

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "checks/acceptance.h"
#include "driver/probe.h"

namespace {

PARA cn_layout(int dme, std::vector<int> present) {
  PARA p;
  p.num_cn_classes = 3;
  p.differential_measurement_errors = dme;
  p.cn_class_present = std::move(present);
  p.r_mean_start = 3;
  p.r_logvar_start = 3 + 3 * (dme + 1);
  p.num_params = 3 + 6 * (dme + 1);
  return p;
}

// Start and fit with means -2, -0.5, 0 and standard deviations 0.3, 0.2, 0.15 in every group.
std::vector<double> vector_for(const PARA& p) {
  std::vector<double> v(p.num_params, 0.0);
  const double mean[3] = {-2.0, -0.5, 0.0};
  const double sd[3] = {0.3, 0.2, 0.15};
  for (int g = 0; g <= p.differential_measurement_errors; ++g)
    for (int k = 0; k < 3; ++k) {
      v[p.r_mean_start + 3 * g + k] = mean[k];
      v[p.r_logvar_start + 3 * g + k] = std::log(sd[k] * sd[k]);
    }
  return v;
}

TEST(CnAcceptance, Cases) {
  static constexpr double nan = std::numeric_limits<double>::quiet_NaN();
  struct Case {
    const char* name;
    int dme;
    std::vector<int> present;
    // Changes the fitted vector f (positions as laid out by cn_layout).
    void (*change)(std::vector<double>& f);
    int expected;
  };
  const std::vector<Case> cases = {
      {"unchanged", 1, {1, 1, 1}, [](std::vector<double>&) {}, 0},
      {"one-copy mean moved by 0.19 of sd 0.2",
       1,
       {1, 1, 1},
       [](std::vector<double>& f) {
         f[4] += 0.19;
         f[5] += 0.19;
       },
       0},
      {"one-copy mean of controls moved beyond one sd",
       0,
       {1, 1, 1},
       [](std::vector<double>& f) { f[4] -= 0.21; },
       1},
      {"cases' one-copy mean moved beyond one sd",
       1,
       {1, 1, 1},
       [](std::vector<double>& f) {
         f[7] -= 0.21;
         f[8] -= 0.21;
       },
       1},
      {"one-copy class absent: no movement test",
       1,
       {1, 0, 1},
       [](std::vector<double>& f) {
         f[4] -= 5.0;
         f[7] -= 5.0;
       },
       0},
      {"shifts of one and two copies differ by 0.26",
       1,
       {1, 1, 1},
       [](std::vector<double>& f) {
         f[8] += 0.13;
         f[7] -= 0.13;
       },
       1},
      {"shift test applies with the one-copy class absent",
       1,
       {1, 0, 1},
       [](std::vector<double>& f) { f[7] += 0.3; },
       1},
      {"shift test skipped with one group",
       0,
       {1, 1, 1},
       [](std::vector<double>& f) { f[5] += 0.1; },
       0},
      {"NaN means and variances never fail",
       1,
       {1, 1, 1},
       [](std::vector<double>& f) {
         f[4] = nan;
         f[7] = nan;
         f[10] = nan;
       },
       0},
      {"cluster means out of order", 0, {1, 1, 1}, [](std::vector<double>& f) { f[3] = -0.4; }, 1},
  };
  for (const Case& c : cases) {
    const PARA p = cn_layout(c.dme, c.present);
    const std::vector<double> start = vector_for(p);
    std::vector<double> fitted = start;
    c.change(fitted);
    EXPECT_EQ(accept_fit(fitted.data(), start.data(), p, false) == Outcome::kOk ? 0 : 1, c.expected) << c.name;
  }
}

}  // namespace
