// Where simulated CN probes end "NA", through the whole per-probe road (start, fit,
// acceptance, Wald test): every probe reported "NA" carries an outcome other than OK, the
// outcome's stage matches where the probe stopped, and without miscalls most probes of a
// typical simulated set are analysed.

#include <gtest/gtest.h>

#include "core/outcome.h"
#include "driver/option.h"
#include "driver/probe.h"
#include "fit/cn_fit_harness.h"

namespace {

TEST(CnProbeOutcomes, MostSimulatedProbesAreAnalysedAndEachNaSaysWhere) {
  OPTION option;
  set_default_options(option);
  option.probe_type = ProbeType::kCn;
  constexpr int kProbes = 30;
  for (const double miscall : {0.0, 0.02})
    for (const int model_type : {0, 1, 2})
      for (const int dme : {0, 1}) {
        SimSettings settings = cn_settings(600, model_type, 1.0, 500 + model_type);
        settings.null_fraction = 0.5;
        settings.miscall_rate = miscall;
        settings.freq0 = 0.02;
        settings.freq1 = 0.10;
        const SimSubjects subjects = make_subjects(settings);
        option.differential_measurement_errors = dme;
        DATA data = data_from_subjects(subjects, design_columns(model_type));
        ProbeWork work;
        SimProbe probe;
        int na = 0;
        for (int index = 0; index < kProbes; ++index) {
          fill_probe(probe, settings, subjects, index);
          load_probe(data, probe);
          PARA para = para_for_model(model_type);
          const ProbeResult result = analyse_probe(option, para, data, probe.pfb, work);
          const OutcomeStage stage = describe(result.outcome).stage;
          EXPECT_EQ(result.status >= 1, result.outcome != Outcome::kOk) << describe(result.outcome).code;
          EXPECT_EQ(result.test_failed, stage == OutcomeStage::kTest);
          // A probe that reached the fit has counted its iterations; one stopped at the
          // start has none.
          if (stage == OutcomeStage::kStart) {
            EXPECT_EQ(result.iterations, 0);
          } else if (stage == OutcomeStage::kFit || stage == OutcomeStage::kAnalysed) {
            EXPECT_GE(result.iterations, 1) << describe(result.outcome).code;
          }
          if (result.outcome != Outcome::kOk) ++na;
        }
        if (miscall == 0.0) {
          EXPECT_LE(na, kProbes / 10) << "model " << model_type << " dme " << dme;
        }
      }
}

}  // namespace
