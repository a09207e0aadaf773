// One libFuzzer target; the build names its entry point (see entry_points.h) through
// QUILLMARK_FUZZ_ENTRY. A broken property is reported and ends the process like a crash,
// so libFuzzer keeps the input.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "entry_points.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string broken = QUILLMARK_FUZZ_ENTRY(data, size);
  if (!broken.empty()) {
    std::fprintf(stderr, "Broken property: %s\n", broken.c_str());
    std::abort();
  }
  return 0;
}
