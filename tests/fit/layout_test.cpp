// The parameter layout's named positions against the vectors that the starting values lay
// out: every intensity position is named exactly once, in the documented order, and the
// measurement indicator picks exactly the named positions of its class.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/layout.h"
#include "fit/class_models.h"
#include "fit/cn_fit_harness.h"
#include "snp_fixture.h"

namespace {

// The intensity positions by name, in the order the layout documents: R means, R
// log-variances, then (SNP) B means and B log-variances, each by group, then class.
std::vector<int> named_intensity_positions(const PARA& para) {
  const ParamLayout layout(para);
  const int G = para.differential_measurement_errors + 1;
  std::vector<int> positions;
  for (int g = 0; g < G; ++g)
    for (int s = 0; s < layout.r_classes(); ++s) positions.push_back(layout.r_mean(g, s));
  for (int g = 0; g < G; ++g)
    for (int s = 0; s < layout.r_classes(); ++s) positions.push_back(layout.r_logvar(g, s));
  for (int g = 0; g < G && para.num_allele_classes > 0; ++g)
    for (int c = 0; c < para.num_allele_classes; ++c) positions.push_back(layout.b_mean(g, c));
  for (int g = 0; g < G && para.num_allele_classes > 0; ++g)
    for (int c = 0; c < para.num_allele_classes; ++c) positions.push_back(layout.b_logvar(g, c));
  return positions;
}

void expect_layout_covers_vector(const PARA& para, const std::string& name) {
  const ParamLayout layout(para);
  std::vector<int> expected;
  for (int u = layout.head(); u < para.num_params; ++u) expected.push_back(u);
  EXPECT_EQ(named_intensity_positions(para), expected) << name;
  // The frequency slots sit between the disease block and the intensities.
  if (para.design().model_family != ModelFamily::kProspectiveSieve)
    for (int k = 0; k < para.num_cn_classes; ++k)
      if (k != para.ref_cn_class) {
        EXPECT_GE(layout.frequency(k), para.design().num_disease_coefs) << name;
        EXPECT_LT(layout.frequency(k), layout.head()) << name;
      }
  // The measurement indicator of each status and class picks its named positions.
  std::vector<double> v(static_cast<std::size_t>(para.num_params), 0.0);
  const bool snp = para.num_allele_classes > 0;
  for (int y = 0; y < 2; ++y)
    for (int k = 0; k < para.num_cn_classes; ++k)
      for (int l = 0; l <= (snp ? k : 0); ++l) {
        measurement_indicator(v.data(), y, k, l, nullptr, para);
        const int g = layout.group(y);
        std::vector<int> picked, named = {layout.r_mean(g, layout.r_class(k, l)),
                                          layout.r_logvar(g, layout.r_class(k, l))};
        if (snp) {
          const int c = para.allele_class_index[k][l];
          named.push_back(layout.b_mean(g, c));
          named.push_back(layout.b_logvar(g, c));
        }
        for (int u = layout.head(); u < para.num_params; ++u)
          if (v[u] == 1.0) picked.push_back(u);
        EXPECT_EQ(picked, named) << name << " y " << y << " class " << k << "," << l;
      }
}

TEST(ParamLayout, NamesEveryPositionOfTheStartedVector) {
  for (const int model_type : {0, 2})
    for (const int dme : {0, 1}) {
      const SimSettings settings = cn_settings(300, model_type, 1.0, 70 + dme);
      const SimSubjects subjects = make_subjects(settings);
      FitRun run;
      run.para = para_for_model(model_type);
      run.data = data_from_subjects(subjects, design_columns(model_type));
      load_probe(run.data, make_probe(settings, subjects, 0));
      ASSERT_EQ(get_CN_initial(run.start.data(), run.para, run.data, 2.0, 'I', dme), 0);
      expect_layout_covers_vector(run.para, "CN model " + std::to_string(model_type) + " dme " +
                                                std::to_string(dme));
    }
  for (const char array_type : {'I', 'A'})
    for (const bool differential : {false, true}) {
      SimSettings settings;
      settings.num_subjects = 400;
      settings.freq0 = 0.05;
      settings.freq1 = 0.3;
      settings.seed = 80;
      settings.differential = differential;
      const SimSubjects subjects = make_subjects(settings);
      SnpFixtureOptions options;
      options.array_type = array_type;
      const SnpProbeCase pc = make_snp_case(settings, subjects, make_probe(settings, subjects, 0), options);
      expect_layout_covers_vector(pc.para, std::string("SNP ") + array_type +
                                               (differential ? " two groups" : " one group"));
    }
}

}  // namespace
