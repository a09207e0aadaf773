#pragma once
// Cluster-mean plausibility of a parameter vector: the order of the class means, their
// overlap, the zero-copy level and the within-class spread, judged against the limits
// of checks/plausibility.h.

#include "checks/plausibility.h"
#include "core/para.h"

// Cluster-mean plausibility of a CN parameter vector: 0 plausible, 1 rejected.
int check_cluster_means_CN(const double* vector, const PARA& para);
// Cluster-mean plausibility of a SNP parameter vector: 0 plausible, 1 rejected.
int check_cluster_means_SNP(const double* vector, const PARA& para);
