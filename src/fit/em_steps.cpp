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
