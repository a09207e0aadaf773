// Isolated subjects of a SNP probe: a retained subject is kept only when another retained
// subject, of either disease status, lies within squared distance 0.3, where the distance
// is (dr)^2 + 16 (db)^2 in LRR r and BAF b. Subjects are judged in index order; one found
// isolated no longer serves as a neighbour for later subjects, while later subjects serve
// as long as step 1 kept them. The scan never looks at the disease status: a selection
// that depended on it would make the exclusion differ between cases and controls by chance
// and inflate the test statistics of null probes.
//
// Only subjects within the radius can keep each other, so the grid version buckets the
// subjects by cells of the two intensities and compares a subject only with the subjects
// of nearby cells. Its result is that of the plain scan over all pairs, which
// is kept as the reference.

#include <algorithm>
#include <cmath>
#include <utility>
#include <vector>

#include "start/snp_cleaning.h"

namespace {
constexpr double kNeighbourWeight = 16.0;
constexpr double kNeighbourRadius = 0.3;
constexpr double kInitialNearest = 100.0;

// Cell sides: kCellR in LRR and kCellR / 4 in BAF (4 = sqrt of the BAF weight). With
// 2 kCellR^2 just below the radius, two subjects of one cell always keep each other, so a
// subject with a retained cell mate is settled at once. A pair within the radius differs
// by at most sqrt(0.3) / kCellR = 1.416 cell sides along either axis, so it lies at most
// kReach cells apart.
constexpr double kCellR = 0.3869;
constexpr double kCellB = kCellR / 4.0;
constexpr long long kReach = 2;
// Intensities are clamped to +-kClamp before they are cut into cells. Clamping keeps every
// cell number in range and never separates a close pair (it shrinks distances), and below
// it the rounding of x / side stays far below the slack of a cell.
constexpr double kClamp = 1.0e6;
constexpr long long kCellSpan = 2 * 10400000LL + 2 * kReach + 1;  // > 2 kClamp / kCellB

bool retained(const std::vector<int>& excluded, int i) { return excluded[i] != 1; }

long long cell_of(double x, double side) {
  const double clamped = std::min(std::max(x, -kClamp), kClamp);
  return static_cast<long long>(std::floor(clamped / side)) + kCellSpan / 2;
}

long long cell_key(long long cr, long long cb) { return cr * kCellSpan + cb; }

struct CellEntry {
  long long key;
  int subject;
};
}  // namespace

double neighbour_distance(const DATA& data, int i, int j) {
  const double dr = data.intensity_r[i] - data.intensity_r[j];
  const double db = data.intensity_b[i] - data.intensity_b[j];
  return dr * dr + kNeighbourWeight * db * db;
}

void flag_isolated_subjects_plain(const DATA& data, std::vector<int>& excluded) {
  const int n = data.num_subjects;
  for (int i = 0; i < n; ++i) {
    if (!retained(excluded, i)) continue;
    double nearest = kInitialNearest;
    for (int j = 0; j < n; ++j) {
      if (j == i || !retained(excluded, j)) continue;
      const double d = neighbour_distance(data, i, j);
      if (d < nearest) nearest = d;
    }
    excluded[i] = nearest <= kNeighbourRadius ? 0 : 1;
  }
}

void flag_isolated_subjects(const DATA& data, std::vector<int>& excluded) {
  const int n = data.num_subjects;
  std::vector<long long> cell_r(static_cast<std::size_t>(n), 0);
  std::vector<long long> cell_b(static_cast<std::size_t>(n), 0);
  long long r_low = 0, r_high = -1, b_low = 0, b_high = -1;
  int retained_count = 0;
  for (int i = 0; i < n; ++i) {
    if (!retained(excluded, i)) continue;
    cell_r[i] = cell_of(data.intensity_r[i], kCellR);
    cell_b[i] = cell_of(data.intensity_b[i], kCellB);
    if (retained_count++ == 0) {
      r_low = r_high = cell_r[i];
      b_low = b_high = cell_b[i];
    }
    r_low = std::min(r_low, cell_r[i]);
    r_high = std::max(r_high, cell_r[i]);
    b_low = std::min(b_low, cell_b[i]);
    b_high = std::max(b_high, cell_b[i]);
  }

  // The retained subjects ordered by cell and, within a cell, by index, and where each
  // cell's run of them lies. Where the occupied cells, widened by the reach, span a table
  // of a few entries per subject (intensities without wild outliers), a counting sort over
  // that table; else a comparison sort, with the runs found by binary search.
  std::vector<int> ordered;
  ordered.reserve(static_cast<std::size_t>(retained_count));
  const long long rows = r_high - r_low + 1 + 2 * kReach;
  const long long row_width = b_high - b_low + 1 + 2 * kReach;
  const long long table_size = rows * row_width;
  const bool counting = retained_count > 0 && table_size <= std::max(4096LL, 16LL * n);
  std::vector<int> run_start;  // counting: the first place of each table cell, and the end
  std::vector<long long> ordered_key;  // comparison: the cell key of each place
  const auto table_cell = [&](long long cr, long long cb) {
    return (cr - r_low + kReach) * row_width + (cb - b_low + kReach);
  };
  if (counting) {
    run_start.assign(static_cast<std::size_t>(table_size) + 1, 0);
    for (int i = 0; i < n; ++i)
      if (retained(excluded, i)) ++run_start[table_cell(cell_r[i], cell_b[i]) + 1];
    for (long long t = 0; t < table_size; ++t) run_start[t + 1] += run_start[t];
    std::vector<int> next(run_start.begin(), run_start.end() - 1);
    ordered.resize(static_cast<std::size_t>(retained_count));
    for (int i = 0; i < n; ++i)
      if (retained(excluded, i)) ordered[next[table_cell(cell_r[i], cell_b[i])]++] = i;
  } else {
    std::vector<CellEntry> grid;
    grid.reserve(static_cast<std::size_t>(retained_count));
    for (int i = 0; i < n; ++i)
      if (retained(excluded, i)) grid.push_back({cell_key(cell_r[i], cell_b[i]), i});
    std::sort(grid.begin(), grid.end(), [](const CellEntry& a, const CellEntry& b) {
      return a.key != b.key ? a.key < b.key : a.subject < b.subject;
    });
    for (const CellEntry& e : grid) {
      ordered.push_back(e.subject);
      ordered_key.push_back(e.key);
    }
  }
  // The places [first, last) in `ordered` of the subjects of cell (cr, cb).
  const auto run_of = [&](long long cr, long long cb) -> std::pair<std::size_t, std::size_t> {
    if (counting) {
      const long long t = table_cell(cr, cb);
      return {static_cast<std::size_t>(run_start[t]), static_cast<std::size_t>(run_start[t + 1])};
    }
    const long long key = cell_key(cr, cb);
    const auto range = std::equal_range(ordered_key.begin(), ordered_key.end(), key);
    return {static_cast<std::size_t>(range.first - ordered_key.begin()),
            static_cast<std::size_t>(range.second - ordered_key.begin())};
  };

  // Whether a retained subject of cell (cr, cb) other than i lies within the radius. The
  // nearest distance is at most the radius exactly when some distance is, so the first
  // such subject settles it.
  const auto has_neighbour_in = [&](int i, long long cr, long long cb) {
    const auto [first, last] = run_of(cr, cb);
    for (std::size_t place = first; place < last; ++place) {
      const int j = ordered[place];
      if (j != i && retained(excluded, j) && neighbour_distance(data, i, j) <= kNeighbourRadius)
        return true;
    }
    return false;
  };

  for (int i = 0; i < n; ++i) {
    if (!retained(excluded, i)) continue;
    bool kept = has_neighbour_in(i, cell_r[i], cell_b[i]);
    for (long long dr = -kReach; dr <= kReach && !kept; ++dr)
      for (long long db = -kReach; db <= kReach && !kept; ++db)
        if (dr != 0 || db != 0) kept = has_neighbour_in(i, cell_r[i] + dr, cell_b[i] + db);
    excluded[i] = kept ? 0 : 1;
  }
}
