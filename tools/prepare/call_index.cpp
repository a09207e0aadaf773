#include "prepare/call_index.h"

void CallIndex::finish() {
  for (auto& by_class : classes_)
    for (auto& calls : by_class)
      std::sort(calls.begin(), calls.end(), [](const IndexedCall& a, const IndexedCall& b) {
        return a.start < b.start || (a.start == b.start && a.subject < b.subject);
      });
}

CallIndex::Overlap CallIndex::find_overlap() const {
  Overlap overlap;
  std::vector<IndexedCall> chromosome;
  for (const auto& by_class : classes_) {
    chromosome.clear();
    for (const auto& calls : by_class) chromosome.insert(chromosome.end(), calls.begin(), calls.end());
    std::sort(chromosome.begin(), chromosome.end(), [](const IndexedCall& a, const IndexedCall& b) {
      return a.subject < b.subject || (a.subject == b.subject && a.start < b.start);
    });
    for (std::size_t i = 1; i < chromosome.size(); ++i) {
      const IndexedCall& a = chromosome[i - 1];
      const IndexedCall& b = chromosome[i];
      if (a.subject == b.subject && b.start <= a.end) {
        overlap.found = true;
        overlap.first = a;
        overlap.second = b;
        return overlap;
      }
    }
  }
  return overlap;
}
