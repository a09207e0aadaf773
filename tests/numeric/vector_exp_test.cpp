// The vector exp routes against the C library's exp (the scalar loop, the oracle) over the
// exponents the density loops meet: 0 down to -750, through the subnormal results and the
// underflow to 0, and -inf. A route the build or the processor lacks is skipped.
#include "numeric/vector_exp.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <iostream>
#include <limits>
#include <numbers>
#include <random>
#include <vector>

namespace {

const ExpRoute kVectorRoutes[] = {ExpRoute::kSse2, ExpRoute::kAvx2};

// Distance in units in the last place between two non-negative finite doubles: the
// difference of their bit patterns, which counts the doubles between them (subnormals too).
std::int64_t ulps_apart(double x, double y) {
  const auto a = std::bit_cast<std::int64_t>(x);
  const auto b = std::bit_cast<std::int64_t>(y);
  return a > b ? a - b : b - a;
}

// The exponents of the test: a fine grid and random values from 0 to -750, values next to
// 0, the edges of the normal range (exp(-708.3964) is near the smallest normal double), the
// subnormal range and the last exponents before and after the underflow to 0 (near
// -745.1332), and -inf, the exponent of a kernel at an infinite distance.
std::vector<double> exponents() {
  std::vector<double> x = {0.0, -0.0, -1e-300, -5e-324, -1e-17, -1e-10, -0.5, -1.0,
                           -std::numbers::ln2, -708.3964185322641, -708.39641853226408,
                           -708.4, -709.0, -720.0, -740.0, -745.0, -745.13,
                           -745.1332191019411, -745.13321910194122, -745.1332191019412,
                           -745.14, -746.0, -750.0, -1000.0,
                           -std::numeric_limits<double>::infinity()};
  for (int j = 0; j <= 75000; ++j) x.push_back(-0.01 * j);
  std::mt19937_64 rng(29);
  std::uniform_real_distribution<double> wide(-750.0, 0.0);
  std::uniform_real_distribution<double> edge(-746.0, -700.0);
  for (int j = 0; j < 20000; ++j) x.push_back(wide(rng));
  for (int j = 0; j < 20000; ++j) x.push_back(edge(rng));
  // Walk bit by bit across the underflow edge, where rounding decides between the smallest
  // subnormal and 0.
  double v = -745.1332191019411;
  for (int j = 0; j < 200; ++j) v = std::nextafter(v, 0.0);
  for (int j = 0; j < 400; ++j, v = std::nextafter(v, -1000.0)) x.push_back(v);
  return x;
}

TEST(VectorExp, WithinOneUlpOfTheCLibraryAndUnderflowsWhereItDoes) {
  const std::vector<double> x = exponents();
  std::vector<double> oracle = x;
  exp_array_scalar(oracle.data(), static_cast<int>(oracle.size()));
  for (const ExpRoute route : kVectorRoutes) {
    if (!exp_route_available(route)) {
      std::cout << "route " << exp_route_name(route) << " not in this build or processor\n";
      continue;
    }
    std::vector<double> got = x;
    exp_array(got.data(), static_cast<int>(got.size()), route);
    std::int64_t worst = 0;
    for (std::size_t j = 0; j < x.size(); ++j) {
      // Zero exactly where the C library's exp is zero, and nowhere else.
      ASSERT_EQ(got[j] == 0.0, oracle[j] == 0.0)
          << exp_route_name(route) << " exp(" << x[j] << ") = " << got[j] << ", C library "
          << oracle[j];
      const std::int64_t d = ulps_apart(got[j], oracle[j]);
      ASSERT_LE(d, 1) << exp_route_name(route) << " exp(" << x[j] << ") = " << got[j]
                      << ", C library " << oracle[j];
      worst = std::max(worst, d);
    }
    // exp(0) is 1 exactly: the densities at the mean keep their 1/sd.
    EXPECT_EQ(got[0], 1.0);
    std::cout << "route " << exp_route_name(route) << ": largest distance " << worst
              << " ulp; the density loops take " << exp_route_name(density_exp_route()) << "\n";
  }
}

TEST(VectorExp, ValuesDoNotDependOnLengthOrPosition) {
  // The tail of an array (fewer values than a vector holds) must go through the same
  // vector code as the body, and nothing past n may be written.
  // Longer than two vectors of the widest route and a tail.
  const std::vector<double> x = {-0.3, -1.7,   -12.25, -300.5, -707.9, -744.9, -0.0,
                                 -33.3, -2.0,  -0.125, -9.75,  -50.5,  -1e-12, -4.4,
                                 -720.5, -6.0, -0.875, -15.0,  -99.9};
  for (const ExpRoute route : kVectorRoutes) {
    if (!exp_route_available(route)) continue;
    std::vector<double> whole = x;
    exp_array(whole.data(), static_cast<int>(whole.size()), route);
    for (int start = 0; start < 4; ++start)
      for (int n = 0; start + n <= static_cast<int>(x.size()); ++n) {
        std::vector<double> part = x;
        part.push_back(-5.0);  // past the end of every call
        exp_array(part.data() + start, n, route);
        for (int j = 0; j < static_cast<int>(part.size()); ++j) {
          const bool inside = start <= j && j < start + n;
          const double untouched = j < static_cast<int>(x.size()) ? x[j] : -5.0;
          const double expected = inside ? whole[j] : untouched;
          ASSERT_EQ(part[j], expected) << exp_route_name(route) << " start " << start
                                       << " n " << n << " position " << j;
        }
      }
  }
}

TEST(VectorExp, NanStaysNan) {
  // A kernel with zero variance at its mean gives -0/0 as its exponent.
  for (const ExpRoute route : kVectorRoutes) {
    if (!exp_route_available(route)) continue;
    const double nan = std::numeric_limits<double>::quiet_NaN();
    double v[3] = {nan, -1.0, nan};
    exp_array(v, 3, route);
    EXPECT_TRUE(std::isnan(v[0]) && std::isnan(v[2])) << exp_route_name(route);
    EXPECT_NEAR(v[1], std::exp(-1.0), 1e-16) << exp_route_name(route);
  }
}

}  // namespace
