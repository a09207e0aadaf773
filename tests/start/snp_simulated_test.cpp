// SNP starting values on probes simulated from the model the program fits: every probe
// passes the screening, and the two-copy and heterozygous start values lie near the truth.

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "start/start.h"
#include "sim/simulate.h"
#include "snp_fixture.h"

namespace {

TEST(SnpSimulated, StartNearTheSimulatedClusters) {
  for (ArrayType array_type : {ArrayType::kLrrBaf, ArrayType::kAlleleSpecificR})
    for (int dme : {0, 1}) {
      SCOPED_TRACE(std::string("array ") + letter_of(array_type) + " differential " + std::to_string(dme));
      SimSettings s;
      s.array_type = letter_of(array_type);
      s.differential = dme == 1;
      s.num_probes = 8;
      s.seed = 3;
      const SimSubjects subjects = make_subjects(s);
      // Simulated two-copy LRR: mean 0.0, sd 0.15; cases with differential errors +0.04
      // and sd x 1.15.
      const double mean[2] = {0.0, dme == 1 ? 0.04 : 0.0};
      const double sd[2] = {0.15, dme == 1 ? 0.15 * 1.15 : 0.15};
      for (int p = 0; p < s.num_probes; ++p) {
        const SimProbe probe = make_probe(s, subjects, p);
        DATA data;
        data.num_subjects = s.num_subjects;
        data.excluded.assign(static_cast<std::size_t>(s.num_subjects), 0);
        data.called_cn = probe.called_cn;
        data.disease_status = subjects.status;
        data.intensity_r = probe.r;
        data.intensity_b = probe.b;
        PARA para = snp_fixture::k_only_para();
        std::vector<double> start(kMaxParams);
        ASSERT_EQ(get_SNP_initial_Illumina(start.data(), para, data, probe.pfb, array_type, dme), 0) << p;
        EXPECT_DOUBLE_EQ(start[para.freq_start + 2], std::log(probe.pfb / (1.0 - probe.pfb)));
        ASSERT_EQ(para.allele_class_present[4], 1);
        const int stride = array_type == ArrayType::kAlleleSpecificR ? 6 : 3;
        const int two = array_type == ArrayType::kAlleleSpecificR ? 4 : 2;  // the AB entry on 'A' arrays
        for (int g = 0; g <= dme; ++g) {
          EXPECT_NEAR(start[para.r_mean_start + stride * g + two], mean[g], 0.03);
          EXPECT_NEAR(std::exp(start[para.r_logvar_start + stride * g + two] / 2.0) / sd[g], 1.0, 0.15);
          EXPECT_NEAR(start[para.b_mean_start + 6 * g + 4], 0.5, 0.01);
        }
      }
    }
}

}  // namespace
