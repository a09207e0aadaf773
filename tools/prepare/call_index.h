// The calls of the analysed subjects, indexed for the question asked at every
// probe: which calls cover this position?
#pragma once

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <vector>

// One call of an analysed subject (copy number other than 2).
struct IndexedCall {
  std::int64_t start = 0;
  std::int64_t end = 0;      // inclusive
  std::int32_t subject = 0;  // index among the analysed subjects
  std::int32_t cn = 0;
  std::int32_t file = 0;     // which calls file, for messages
  std::int32_t line = 0;     // line in that file, for messages
};

// Calls are kept per chromosome in length classes: class c holds the calls of
// length in (2^(c-1), 2^c], sorted by start. A call of class c covers position p
// only if it starts in [p - 2^c + 1, p], and every call starting in the upper
// half of that window does cover p; so a query costs a binary search per class
// plus about twice the number of calls found, whatever the order of the queries.
class CallIndex {
 public:
  static constexpr int NUM_CHROMOSOMES = 27;  // codes 0..26
  static constexpr int NUM_CLASSES = 64;

  // Adds a call on chromosome code chr (1..26).
  void add(int chr, const IndexedCall& call) {
    const auto length = static_cast<std::uint64_t>(call.end - call.start);  // length - 1
    classes_[static_cast<std::size_t>(chr)][static_cast<std::size_t>(std::bit_width(length))].push_back(call);
    ++size_;
  }
  // Sorts the calls; call once after the last add and before the first query.
  void finish();
  // Calls f(call) for every call covering position pos of chromosome chr.
  template <typename F>
  void for_each_covering(int chr, std::int64_t pos, F&& f) const {
    if (chr <= 0 || chr >= NUM_CHROMOSOMES) return;
    const auto& by_class = classes_[static_cast<std::size_t>(chr)];
    for (std::size_t c = 0; c < by_class.size(); ++c) {
      const auto& calls = by_class[c];
      if (calls.empty()) continue;
      const std::int64_t lowest_start = pos - (std::int64_t{1} << c) + 1;
      auto it = std::lower_bound(calls.begin(), calls.end(), lowest_start,
                                 [](const IndexedCall& a, std::int64_t s) { return a.start < s; });
      for (; it != calls.end() && it->start <= pos; ++it)
        if (it->end >= pos) f(*it);
    }
  }
  // The first pair of calls of one subject that overlap on one chromosome, if any
  // (found is false when no calls overlap).
  struct Overlap {
    bool found = false;
    IndexedCall first, second;
  };
  Overlap find_overlap() const;
  std::size_t size() const { return size_; }

 private:
  std::array<std::array<std::vector<IndexedCall>, NUM_CLASSES>, NUM_CHROMOSOMES> classes_;
  std::size_t size_ = 0;
};
