#pragma once
// The acceptance tests of a fitted vector against its start: the fitted cluster means
// are plausible, the one-copy means did not wander into a neighbouring cluster, the
// heterozygous B mean stays near 0.5, and with separate measurement groups the
// case-minus-control shift agrees between one and two copies.

#include "core/outcome.h"
#include "core/para.h"

// Outcome::kOk when the fitted vector f passes every test against its start s, else the
// first test that rejects it.
Outcome accept_fit(const double* f, const double* s, const PARA& para, bool snp_probe);
