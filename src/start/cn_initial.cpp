// Starting values of a CN probe: the total-copy-number classes of its model (0, 1, and
// two or more copies merged into 2), the subjects left out, the layout of the parameter
// vector and its start from the called copy numbers and the R intensities.
//
// Subjects whose intensity is not a finite number, or whose call or status lies outside
// the data model, never enter a tally: they are excluded from the probe. Calls below 0
// and statuses other than 0 and 1 also make the probe fail, as does a present class whose
// start mean or log-variance is not finite (all of its intensities equal).

#include <cmath>
#include <vector>

#include "core/layout.h"
#include "start/start.h"

namespace {
constexpr int kClasses = 3;       // total copy number 0, 1, 2 or more
constexpr int kRefClass = 2;      // reference of the class frequencies
constexpr int kMinPerStatus = 3;  // controls and cases a class needs to be modelled
}  // namespace

int get_CN_initial(double* start, PARA& para, const DATA& data, const std::vector<int>& calls,
                   double /*pfb*/, ArrayType array_type, int differential_measurement_errors,
                   ProbeSelection& selection) {
  const int n = data.num_subjects;
  int status = 0;

  // Capping, and the subjects that can enter the tallies.
  selection.begin(calls, n);
  std::vector<int>& capped = selection.calls;
  std::vector<char> usable(static_cast<std::size_t>(n));
  for (int i = 0; i < n; ++i) {
    if (capped[i] > 2) capped[i] = 2;
    const int y = data.disease_status[i];
    const bool in_model = capped[i] >= 0 && (y == 0 || y == 1);
    if (!in_model) status = 1;
    usable[i] = in_model && std::isfinite(data.intensity_r[i]);
  }

  // Cell sums and statistics by status y and class k.
  double N[2][kClasses] = {};
  double S[2][kClasses] = {};
  double Q[2][kClasses] = {};
  for (int i = 0; i < n; ++i) {
    if (!usable[i]) continue;
    const int y = data.disease_status[i];
    const int k = capped[i];
    const double x = data.intensity_r[i];
    N[y][k] += 1.0;
    S[y][k] += x;
    Q[y][k] += x * x;
  }
  double m[2][kClasses] = {};
  double s[2][kClasses] = {};
  for (int y = 0; y < 2; ++y)
    for (int k = 0; k < kClasses; ++k) {
      if (N[y][k] == 0.0) continue;  // an empty cell never reaches the vector
      m[y][k] = S[y][k] / N[y][k];
      s[y][k] = std::sqrt((Q[y][k] - N[y][k] * m[y][k] * m[y][k]) / N[y][k]);  // divisor N
    }

  // Layout.
  para.array_type = array_type;
  para.differential_measurement_errors = differential_measurement_errors;
  para.ref_cn_class = kRefClass;
  para.num_cn_classes = kClasses;
  para.num_r_means = (differential_measurement_errors + 1) * kClasses;
  para.num_r_logvars = para.num_r_means;
  para.freq_start = para.design().num_disease_coefs;
  para.r_mean_start = para.design().model_family == ModelFamily::kProspectiveSieve ? para.freq_start : para.freq_start + kClasses - 1;
  para.r_logvar_start = para.r_mean_start + para.num_r_means;
  para.b_mean_start = para.r_logvar_start + para.num_r_logvars;
  para.num_params = para.b_mean_start;

  para.factorial.assign(kClasses, 1);
  for (int k = 1; k < kClasses; ++k) para.factorial[k] = para.factorial[k - 1] * k;

  // Class selection.
  para.cn_class_present.assign(kClasses, 0);
  for (int k = 0; k < kClasses; ++k)
    para.cn_class_present[k] = N[0][k] >= kMinPerStatus && N[1][k] >= kMinPerStatus ? 1 : 0;
  const auto present = [&](int k) { return para.cn_class_present[k] == 1; };

  // Free parameters, as positions.
  para.free_params.clear();
  const auto append = [&](int position) { para.free_params.push_back(position); };
  const ParamLayout layout(para);
  for (int u = 0; u < para.design().num_disease_coefs; ++u) append(u);
  if (para.design().model_family != ModelFamily::kProspectiveSieve) {
    for (int k = 0; k < kClasses; ++k)
      if (k != kRefClass && present(k)) append(layout.frequency(k));
  }
  for (int g = 0; g <= differential_measurement_errors; ++g)
    for (int k = 0; k < kClasses; ++k)
      if (present(k)) append(layout.r_mean(g, k));
  for (int g = 0; g <= differential_measurement_errors; ++g)
    for (int k = 0; k < kClasses; ++k)
      if (present(k)) append(layout.r_logvar(g, k));

  // Exclusion: every flag is rewritten.
  for (int i = 0; i < n; ++i) selection.excluded[i] = usable[i] && present(capped[i]) ? 0 : 1;

  // Start values; group g is started from the subjects of status g.
  for (int u = 0; u < para.num_params; ++u) start[u] = 0.0;
  if (para.design().model_family != ModelFamily::kProspectiveSieve) {
    const double f2 = (N[0][kRefClass] + N[1][kRefClass]) / n;
    for (int k = 0; k < kClasses; ++k) {
      if (k == kRefClass || !present(k)) continue;
      const double fk = (N[0][k] + N[1][k]) / n;
      start[layout.frequency(k)] = std::log(fk / f2);
    }
  }
  for (int g = 0; g <= differential_measurement_errors; ++g)
    for (int k = 0; k < kClasses; ++k) {
      if (!present(k)) continue;
      const double mean = m[g][k];
      const double logvar = std::log(s[g][k] * s[g][k]);
      start[layout.r_mean(g, k)] = mean;
      start[layout.r_logvar(g, k)] = logvar;
      // Equal intensities give a zero (or slightly negative) variance: no fit can start there.
      if (!std::isfinite(mean) || !std::isfinite(logvar)) status = 1;
    }

  if (status != 0) return 1;
  return check_cluster_means_CN(start, para);
}

int get_CN_initial(double* start, PARA& para, DATA& data, double pfb, ArrayType array_type,
                   int differential_measurement_errors) {
  return with_selection_applied(data.excluded, [&](ProbeSelection& selection) {
    return get_CN_initial(start, para, data, data.called_cn, pfb, array_type,
                          differential_measurement_errors, selection);
  });
}
