#pragma once
// The guard of a fit's steps. Disengaged (the stated iteration) it admits every step;
// engaged (the guarded iteration of a probe's last attempt, and its safeguarded steps) it
// admits a step only where the cluster check accepts the clusters: the copy-number order
// and, on SNP probes, the zero-copy location, the one- and two-copy spreads, the B order
// and the separation of one and two copies. A guarded fit then ends only at a maximum
// inside that region (to within the certificate's tolerance) or fails its certificate; it
// never ends where the edge stopped a likelihood that still rises.

#include "checks/cluster_checks.h"
#include "core/para.h"

class ClusterGuard {
 public:
  explicit ClusterGuard(bool snp_probe) : snp_probe_(snp_probe) {}
  void engage() { engaged_ = true; }
  bool admits(const double* theta, const PARA& para) const {
    if (!engaged_) return true;
    return (snp_probe_ ? check_cluster_means_SNP(theta, para) : check_cluster_means_CN(theta, para)) != 1;
  }

 private:
  bool snp_probe_;
  bool engaged_ = false;
};
