#pragma once
// Tests build or change the run's design of a PARA through a copy of their own.

#include <memory>

#include "core/para.h"

// A fresh copy of para's design, now para's own, to change.
inline RunDesign& edit_design(PARA& para) {
  auto copy = std::make_shared<RunDesign>(para.design());
  para.run_design = copy;
  return *copy;
}
