#pragma once
// Plausibility limits on zero-copy intensity and within-class spread.

// Highest admissible mean log R ratio of the zero-copy class.
constexpr double THRESH_CN0 = -1.3;
// Highest admissible standard deviation of the log R ratio within a class.
constexpr double WIN_R = 0.4;
// Highest admissible standard deviation of the B-allele frequency within a class.
constexpr double WIN_B = 0.25;
