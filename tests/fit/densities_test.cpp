// The class densities that the fits keep by class (the loops over all subjects) against
// the scalar path, one subject and class at a time, on random intensities: every cell
// must be the same double, bit for bit, so that no result of a fit moves. A build whose
// density loops take the vector exp (numeric/vector_exp.h, within 1 ulp of the C
// library's) must agree within a few ulps and be zero exactly where the scalar path is.

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include "core/data.h"
#include "core/para.h"
#include "fit/class_models.h"
#include "fit/measurement_models.h"
#include "numeric/vector_exp.h"

namespace {

// Whether a density of the loops matches the scalar path's: the same double, or with the
// vector exp within 8 ulps (two exps of at most 1 ulp each against the C library's, then
// a product and divisions) and zero where it is zero.
bool same_density(double loops, double scalar) {
  if (density_exp_route() == ExpRoute::kScalar || scalar == 0.0) return loops == scalar;
  const double ulp = std::numeric_limits<double>::epsilon() * std::fabs(scalar);
  return std::fabs(loops - scalar) <= 8 * ulp;
}

// n subjects with random statuses and intensities, some excluded; B intensities on
// both sides of the bounds and exactly at them, where the 'I' arrays' point mass applies.
DATA random_data(int n, std::mt19937& rng) {
  DATA data;
  data.num_subjects = n;
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  std::normal_distribution<double> lrr(-0.3, 0.6);
  const double b_edges[] = {0.0, 1.0, kBLowerBound, kBUpperBound, 5e-11, 0.99999999995};
  for (int i = 0; i < n; ++i) {
    data.excluded.push_back(unit(rng) < 0.1 ? 1 : 0);
    data.disease_status.push_back(unit(rng) < 0.5 ? 1 : 0);
    data.intensity_r.push_back(lrr(rng));
    const double u = unit(rng);
    data.intensity_b.push_back(u < 0.3 ? b_edges[i % 6] : unit(rng));
  }
  return data;
}

std::vector<int> included(const DATA& data) {
  std::vector<int> subjects;
  EXPECT_TRUE(included_subjects(data, subjects));
  return subjects;
}

// The six allele-specific classes (k, l) with positions as a SNP probe lays them out:
// R parameters by total class (shared by the classes of one k) or by class, and one
// group of measurement parameters or one per status.
std::vector<AlleleClass> all_classes(bool r_by_class, bool differential) {
  std::vector<AlleleClass> classes;
  const int r_classes = r_by_class ? 6 : 3;
  for (int k = 0; k < 3; ++k)
    for (int l = 0; l <= k; ++l) {
      AlleleClass cls;
      cls.k = k;
      cls.l = l;
      cls.c = k * (k + 1) / 2 + l;
      cls.homozygous = k > 0 && (l == 0 || l == k);
      const int s = r_by_class ? cls.c : k;
      for (int y = 0; y < 2; ++y) {
        const int g = differential ? y : 0;
        cls.r_mean[y] = r_classes * g + s;
        cls.r_logvar[y] = 2 * r_classes + r_classes * g + s;
        cls.b_mean[y] = 4 * r_classes + 6 * g + cls.c;
        cls.b_logvar[y] = 4 * r_classes + 12 + 6 * g + cls.c;
      }
      classes.push_back(cls);
    }
  return classes;
}

TEST(ClassDensities, EqualTheScalarPathBitForBit) {
  std::mt19937 rng(17);
  std::uniform_real_distribution<double> mean(-1.0, 1.0);
  std::uniform_real_distribution<double> logvar(-6.0, 0.5);
  for (const ArrayType array_type : {ArrayType::kLrrBaf, ArrayType::kAlleleSpecificR})
    for (const bool r_by_class : {false, true})
      for (const bool differential : {false, true}) {
        const DATA data = random_data(301, rng);
        const std::vector<int> subjects = included(data);
        const std::vector<AlleleClass> classes = all_classes(r_by_class, differential);
        std::vector<double> theta(80);
        for (int u = 0; u < 80; ++u) theta[u] = u % 2 == 0 ? mean(rng) : logvar(rng);
        for (const AlleleClass& cls : classes)
          for (int y = 0; y < 2; ++y) {
            theta[cls.r_logvar[y]] = logvar(rng);
            theta[cls.b_logvar[y]] = logvar(rng);
          }
        std::vector<Cluster> cluster[2];
        for (int y = 0; y < 2; ++y)
          for (const AlleleClass& cls : classes) cluster[y].push_back(cluster_of(theta.data(), cls, y));

        const SubjectColumns columns(data, subjects);
        ClassDensities densities(classes, columns);
        densities.update(cluster, classes, columns, array_type);
        for (std::size_t a = 0; a < subjects.size(); ++a)
          for (std::size_t c = 0; c < classes.size(); ++c) {
            const int i = subjects[a];
            const int y = data.disease_status[i];
            const double expected = class_density(data.intensity_r[i], data.intensity_b[i],
                                                  classes[c], cluster[y][c], array_type);
            const double got = densities.at(static_cast<int>(a), static_cast<int>(c));
            ASSERT_TRUE(same_density(got, expected))
                << got << " against " << expected << " " << array_type << " r_by_class "
                << r_by_class << " differential " << differential << " subject " << i
                << " class " << c;
          }
      }
}

TEST(IntensityTables, EqualTheScalarPathBitForBit) {
  std::mt19937 rng(23);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  for (const int differential : {0, 1})
    for (const std::vector<int>& present : {std::vector<int>{1, 1, 1}, std::vector<int>{0, 1, 1}}) {
      PARA para;
      para.num_cn_classes = 3;
      para.cn_class_present = present;
      para.differential_measurement_errors = differential;
      para.r_mean_start = 2;
      para.r_logvar_start = 2 + 3 * (1 + differential);
      para.num_params = para.r_logvar_start + 3 * (1 + differential);
      std::vector<double> theta(static_cast<std::size_t>(para.num_params));
      for (double& t : theta) t = 3.0 * unit(rng) - 2.5;
      const DATA data = random_data(257, rng);
      const std::vector<int> subjects = included(data);
      const std::vector<int> classes = present_cn_classes(para);

      IntensityTables tables;
      tables.update(theta.data(), para, SubjectColumns(data, subjects), classes);
      for (std::size_t a = 0; a < subjects.size(); ++a)
        for (std::size_t c = 0; c < classes.size(); ++c) {
          const int i = subjects[a];
          const RSlot slot = r_slot(para, data.disease_status[i], classes[c]);
          const double expected = intensity_density(data.intensity_r[i], theta[slot.mean],
                                                    std::exp(theta[slot.logvar]));
          const double got = tables.density(static_cast<int>(a), static_cast<int>(c));
          ASSERT_TRUE(same_density(got, expected))
              << got << " against " << expected << " differential " << differential
              << " subject " << i << " class " << c;
        }
    }
}

}  // namespace
