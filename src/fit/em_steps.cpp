#include "fit/em_steps.h"

#include "fit/helpers.h"

std::vector<int> present_cn_classes(const PARA& para) {
  std::vector<int> classes;
  for (int k = 0; k < para.num_cn_classes; ++k)
    if (para.cn_class_present[k] != 0) classes.push_back(k);
  return classes;
}

bool reference_cn_class_missing(const PARA& para) {
  return !present_cn_classes(para).empty() && para.cn_class_present[para.ref_cn_class] == 0;
}

int newton_step(double* theta, double* delta, const double* U, const DMatrix& E, const DMatrix& V,
                const PARA& para) {
  const int P = para.num_params;
  mirror_upper(E, P);
  if (invert_E(V, E, para) == 1) return 1;
  for (int u = 0; u < P; ++u) {
    double d = 0.0;
    for (int v = 0; v < P; ++v) d += V[u + 1][v + 1] * U[v];
    // An undefined step would leave undefined estimates that no later test rejects.
    if (!std::isfinite(d)) return 1;
    delta[u] = d;
  }
  for (int u = 0; u < P; ++u) theta[u] += delta[u];
  return 0;
}

int invert_observed_information(const DMatrix& E, const DMatrix& V, const PARA& para) {
  mirror_upper(E, para.num_params);
  if (invert_E(V, E, para) == 1) return 1;
  return inproper_std(V, para.num_params);
}

void hand_over_covariance(double* std_errors, int n, const DMatrix& cov, const DMatrix& V,
                          const PARA& para) {
  for (int u = 0; u < n; ++u) std_errors[u] = std::sqrt(V[u + 1][u + 1]);
  const int D = para.num_disease_coefs;
  for (int u = 1; u <= D; ++u)
    for (int v = 1; v <= D; ++v) cov[u][v] = V[u][v];
}

void record_finish(FitReport* report, const DMatrix& E, const DMatrix& V, const PARA& para) {
  if (report == nullptr) return;
  const int n = para.num_params;
  report->size = n;
  report->information = dmatrix(1, n, 1, n);
  report->covariance = dmatrix(1, n, 1, n);
  for (int u = 1; u <= n; ++u)
    for (int v = 1; v <= n; ++v) {
      report->information[u][v] = E[u][v];
      report->covariance[u][v] = V[u][v];
    }
  report->free_positions.assign(para.free_params.data(),
                                para.free_params.data() + para.num_free_params);
}

int finish_retrospective(double& loglik, double ell, double* theta, double* std_errors,
                         const DMatrix& cov, const DMatrix& E, const DMatrix& V, const PARA& para,
                         FitReport* report) {
  if (invert_observed_information(E, V, para) == 1) return 1;
  record_finish(report, E, V, para);
  hand_over_covariance(std_errors, para.num_params, cov, V, para);
  std::vector<int> slots;
  for (const int k : present_cn_classes(para))
    if (k != para.ref_cn_class) slots.push_back(frequency_slot(para, k));
  back_transform_frequencies(theta, std_errors, V, slots.data(), static_cast<int>(slots.size()));
  loglik = ell;
  return 0;
}

bool included_subjects(const DATA& data, std::vector<int>& subjects) {
  subjects.clear();
  for (int i = 0; i < data.num_subjects; ++i) {
    if (data.excluded[i] == 1) continue;
    if (data.disease_status[i] != 0 && data.disease_status[i] != 1) return false;
    subjects.push_back(i);
  }
  return true;
}

std::vector<double> cn_design_table(const DATA& data, const PARA& para,
                                    const std::vector<int>& subjects,
                                    const std::vector<int>& classes) {
  const int D = para.num_disease_coefs;
  std::vector<double> a(static_cast<std::size_t>(data.num_subjects) * 3 * D);
  for (const int i : subjects)
    for (const int k : classes)
      Avec(&a[(static_cast<std::size_t>(i) * 3 + k) * D], k, 0, data.covariates[i].data(), para);
  return a;
}
