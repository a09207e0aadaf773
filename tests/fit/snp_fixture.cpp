#include "snp_fixture.h"

#include "design_edit.h"

#include <cmath>

namespace {
int cls(int k, int l) { return k * (k + 1) / 2 + l; }
bool homozygous(int k, int l) { return k > 0 && (l == 0 || l == k); }
}  // namespace

SnpProbeCase make_snp_case(const SimSettings& settings, const SimSubjects& subjects,
                           const SimProbe& probe, const SnpFixtureOptions& options) {
  SnpProbeCase pc;
  PARA& para = pc.para;
  DATA& data = pc.data;
  const int n = static_cast<int>(subjects.status.size());
  const int J = options.model_type == 0 ? 0 : static_cast<int>(subjects.covariates[0].size());
  const int d = settings.differential ? 1 : 0;

  RunDesign& design = edit_design(para);
  design.model_family = family_of_setting(options.model_type);
  clear_effects(design, J);
  design.num_dependent_columns = options.model_type == 2 ? options.dependent_columns : 0;
  design.num_dependent_covariates = design.num_dependent_columns;
  design.genetic_effects(0, 0) = EffectFlag::kTested;
  design.num_genetic_variables = 1;
  if (settings.effect_L) {
    design.genetic_effects(1, 1) = EffectFlag::kTested;
    design.num_genetic_variables = 2;
  }
  for (int j = 0; j < J; ++j) design.covariate_effects(j, j) = EffectFlag::kModelled;
  list_disease_coefficients(design);

  const bool by_allele = options.array_type == 'A';
  const int SR = by_allele ? 6 : 3;  // R parameters per group
  para.array_type = options.array_type;
  para.differential_measurement_errors = d;
  para.ref_cn_class = 2;
  para.ref_allele_class = 4;
  para.num_cn_classes = 3;
  para.num_allele_classes = 6;
  para.num_r_means = para.num_r_logvars = (d + 1) * SR;
  para.num_b_means = para.num_b_logvars = (d + 1) * 6;
  para.freq_start = para.design().num_disease_coefs;
  para.r_mean_start = para.freq_start + (options.model_type == 2 ? 0 : 3);
  para.r_logvar_start = para.r_mean_start + para.num_r_means;
  para.b_mean_start = para.r_logvar_start + para.num_r_logvars;
  para.b_logvar_start = para.b_mean_start + para.num_b_means;
  para.b_logvar_end = para.b_logvar_start + para.num_b_logvars;
  para.num_params = para.b_logvar_end;
  para.factorial = {1, 1, 2};
  for (int k = 0; k < 3; ++k)
    for (int l = 0; l <= k; ++l) para.allele_class_index[k][l] = cls(k, l);

  // Classes present: at least 3 controls and 3 cases of the true class, not dropped.
  int count[2][6] = {};
  for (int i = 0; i < n; ++i) ++count[subjects.status[i]][cls(probe.true_k[i], probe.true_l[i])];
  para.allele_class_present.assign(6, 0);
  for (int c = 0; c < 6; ++c) para.allele_class_present[c] = count[0][c] >= 3 && count[1][c] >= 3;
  for (const int c : options.dropped) para.allele_class_present[c] = 0;
  para.cn_class_present.assign(3, 0);
  for (int k = 0; k < 3; ++k)
    for (int l = 0; l <= k; ++l)
      if (para.allele_class_present[cls(k, l)]) para.cn_class_present[k] = 1;

  data.num_subjects = n;
  data.excluded.assign(n, 0);
  data.called_cn = probe.true_k;
  data.disease_status = subjects.status;
  data.intensity_r = probe.r;
  data.intensity_b = probe.b;
  if (J > 0) {
    data.covariates = Matrix(n, J);
    for (int i = 0; i < n; ++i)
      for (int j = 0; j < J; ++j) data.covariates(i, j) = subjects.covariates[i][j];
  }
  for (int i = 0; i < n; ++i)
    if (!para.allele_class_present[cls(probe.true_k[i], probe.true_l[i])]) data.excluded[i] = 1;

  // Free parameters, in the order of the SNP layout.
  para.free_params.clear();
  const auto add = [&para](int position) { para.free_params.push_back(position); };
  for (int u = 0; u < para.design().num_disease_coefs; ++u) add(u);
  if (options.model_type != 2) {
    for (int k = 0; k < 2; ++k)
      if (para.cn_class_present[k]) add(para.freq_start + k);
    add(para.freq_start + 2);
  }
  for (int g = 0; g <= d && !by_allele; ++g)
    for (int k = 0; k < 3; ++k)
      if (para.cn_class_present[k]) add(para.r_mean_start + 3 * g + k);
  for (int g = 0; g <= d && !by_allele; ++g)
    for (int k = 0; k < 3; ++k)
      if (para.cn_class_present[k]) add(para.r_logvar_start + 3 * g + k);
  for (int g = 0; g <= d && !by_allele; ++g)
    for (int k = 0; k < 3; ++k)
      for (int l = 0; l <= k; ++l)
        if (para.allele_class_present[cls(k, l)] && (k == 0 || (0 < l && l < k)))
          add(para.b_mean_start + 6 * g + cls(k, l));
  for (int g = 0; g <= d && !by_allele; ++g)
    for (int c = 0; c < 6; ++c)
      if (para.allele_class_present[c]) add(para.b_logvar_start + 6 * g + c);

  // Start vector from the truth.
  pc.start.assign(kMaxParams, 0.0);
  double level[3] = {0, 0, 0};
  double rs[2][6][3] = {};  // [g][k, or c on 'A' arrays]: count, sum, sum of squares
  double bs[2][6][3] = {};
  const double centre[6] = {0.0, 0.0, 1.0, 0.0, 0.0, 1.0};
  for (int i = 0; i < n; ++i) {
    if (data.excluded[i]) continue;
    const int k = probe.true_k[i];
    const int c = cls(k, probe.true_l[i]);
    const int g = subjects.status[i] * d;
    level[k] += 1;
    const int s = by_allele ? c : k;
    rs[g][s][0] += 1;
    rs[g][s][1] += probe.r[i];
    rs[g][s][2] += probe.r[i] * probe.r[i];
    const double e = probe.b[i] - centre[c];
    bs[g][c][0] += 1;
    bs[g][c][1] += e;
    bs[g][c][2] += e * e;
  }
  if (options.model_type != 2) {
    for (int k = 0; k < 2; ++k)
      if (para.cn_class_present[k]) pc.start[para.freq_start + k] = std::log(level[k] / level[2]);
    pc.start[para.freq_start + 2] = std::log(probe.pfb / (1.0 - probe.pfb));
  }
  for (int g = 0; g <= d; ++g) {
    for (int s = 0; s < SR; ++s) {
      if (!(by_allele ? para.allele_class_present[s] : para.cn_class_present[s])) continue;
      const double m = rs[g][s][1] / rs[g][s][0];
      pc.start[para.r_mean_start + SR * g + s] = m;
      pc.start[para.r_logvar_start + SR * g + s] = std::log(rs[g][s][2] / rs[g][s][0] - m * m);
    }
    for (int k = 0; k < 3; ++k)
      for (int l = 0; l <= k; ++l) {
        const int c = cls(k, l);
        if (!para.allele_class_present[c]) continue;
        const double m = homozygous(k, l) ? 0.0 : bs[g][c][1] / bs[g][c][0];
        pc.start[para.b_mean_start + 6 * g + c] = centre[c] + m;
        pc.start[para.b_logvar_start + 6 * g + c] = std::log(bs[g][c][2] / bs[g][c][0] - m * m);
      }
  }
  return pc;
}

std::vector<int> reference_strata(const SnpProbeCase& pc, int& num_strata) {
  const DATA& data = pc.data;
  std::vector<int> stratum(data.num_subjects, -1);
  std::vector<double> values;
  for (int i = 0; i < data.num_subjects; ++i) {
    if (data.excluded[i]) continue;
    const double z = data.covariates(i, 0);
    std::size_t s = 0;
    while (s < values.size() && values[s] != z) ++s;
    if (s == values.size()) values.push_back(z);
    stratum[i] = static_cast<int>(s);
  }
  num_strata = static_cast<int>(values.size());
  return stratum;
}

std::array<double, 6> reference_terms(const SnpProbeCase& pc, const std::vector<double>& theta, int i) {
  const PARA& para = pc.para;
  const DATA& data = pc.data;
  const int d = para.differential_measurement_errors;
  const int J = para.design().num_covariate_columns;
  const double p_B = para.design().model_family == ModelFamily::kProspectiveSieve ? 0.0 : 1.0 / (1.0 + std::exp(-theta[para.freq_start + 2]));
  auto phi = [](double v, double mu, double s2) {
    return std::exp(-(v - mu) * (v - mu) / (2.0 * s2)) / std::sqrt(s2);
  };
  const int y = data.disease_status[i];
  const int g = y * d;
  const double x = data.intensity_r[i];
  const double b = data.intensity_b[i];
  std::array<double, 6> term{};
  double norm = 0.0;
  for (int k = 0; k < 3; ++k)
    for (int l = 0; l <= k; ++l) {
      const int c = cls(k, l);
      if (!para.cn_class_present[k] || !para.allele_class_present[c]) continue;
      // Linear predictor: K, then L, then the covariates, then the intercept.
      double eta = 0.0;
      int u = 0;
      eta += theta[u++] * k;
      if (in_model(para.design().genetic_effects(1, 1))) eta += theta[u++] * (k - 2 * l);
      for (int j = 0; j < J; ++j) eta += theta[u++] * data.covariates(i, j);
      if (J > 0) eta += theta[u++];
      const int sr = para.array_type == 'A' ? 6 * g + c : 3 * g + k;
      const double fR = phi(x, theta[para.r_mean_start + sr], std::exp(theta[para.r_logvar_start + sr]));
      double fB = 0.0;
      const bool inside = 1e-10 < b && b < 0.9999999999;
      if (inside || !homozygous(k, l) || para.array_type == 'A')
        fB = phi(b, theta[para.b_mean_start + 6 * g + c], std::exp(theta[para.b_logvar_start + 6 * g + c]));
      else if ((b < 1e-10 && l == 0) || (b > 0.9999999999 && l == k))
        fB = 0.5;
      if (para.design().model_family == ModelFamily::kProspectiveSieve) {
        const double p = 1.0 / (1.0 + std::exp(-eta));
        term[c] = fR * fB * (y == 1 ? p : 1.0 - p);
        continue;
      }
      const double e_k = k == 2 ? 1.0 : std::exp(theta[para.freq_start + k]);
      const double binom = (k == 2 && l == 1 ? 2.0 : 1.0) * std::pow(p_B, l) * std::pow(1.0 - p_B, k - l);
      const double w0 = e_k * binom;
      const double w1 = w0 * std::exp(eta);
      term[c] = fR * fB * (y == 1 ? w1 : w0);
      // Without covariates one normaliser per status; with them one over both statuses.
      norm += para.design().model_family == ModelFamily::kRetrospective ? (y == 1 ? w1 : w0) : w0 + w1;
    }
  if (para.design().model_family != ModelFamily::kProspectiveSieve)
    for (double& t : term) t /= norm;
  return term;
}

double reference_loglik(const SnpProbeCase& pc, const std::vector<double>& theta,
                        const std::vector<std::vector<double>>& q) {
  int num_strata = 0;
  const std::vector<int> stratum =
      pc.para.design().model_family == ModelFamily::kProspectiveSieve ? reference_strata(pc, num_strata) : std::vector<int>();
  double total = 0.0;
  for (int i = 0; i < pc.data.num_subjects; ++i) {
    if (pc.data.excluded[i]) continue;
    const std::array<double, 6> term = reference_terms(pc, theta, i);
    double sum = 0.0;
    for (int c = 0; c < 6; ++c) sum += term[c] * (pc.para.design().model_family == ModelFamily::kProspectiveSieve ? q[stratum[i]][c] : 1.0);
    total += std::log(sum);
  }
  return total;
}
