#include "core/para.h"

void release_probe_arrays(PARA& para) {
  para.cn_class_present.clear();
  para.allele_class_present.clear();
  para.factorial.clear();
  para.free_params.clear();
}

const std::shared_ptr<const RunDesign>& empty_run_design() {
  static const std::shared_ptr<const RunDesign> empty = std::make_shared<const RunDesign>();
  return empty;
}
