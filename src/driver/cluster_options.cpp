#include "driver/cluster_options.h"

#include <cstdio>
#include <string_view>

#include "driver/line_reader.h"
#include "driver/stop.h"

namespace {

// Reads "I/N" with 1 <= I <= N; false when the text is anything else.
bool parse_chunk(std::string_view text, int& index, int& count) {
  const std::size_t slash = text.find('/');
  if (slash == std::string_view::npos) return false;
  const std::string_view index_text = text.substr(0, slash);
  const std::string_view count_text = text.substr(slash + 1);
  // Plain digits only: "+2/4" or "2/ 4" are more likely typing slips than intent.
  for (std::string_view part : {index_text, count_text}) {
    if (part.empty() || part.find_first_not_of("0123456789") != std::string_view::npos)
      return false;
  }
  return parse_int(index_text, index) && parse_int(count_text, count) && index >= 1 &&
         index <= count;
}

}  // namespace

bool read_cluster_option(const std::vector<std::string>& arguments, std::size_t& a,
                         ClusterOptions& options) {
  const std::string& argument = arguments[a];
  const bool has_value = a + 1 < arguments.size();
  if (argument == "--out") {
    if (!has_value) {
      std::printf("\nError: Option '--out' needs a path.\n");
      kill_Quillmark();
    }
    options.out = arguments[++a];
    if (options.out.empty()) {
      std::printf("\nError: Option '--out' needs a path.\n");
      kill_Quillmark();
    }
    std::printf("Results outputed to '%s', in place of RESULT_FILE\n", options.out.c_str());
    return true;
  }
  if (argument == "--chunk") {
    const char* needs = "\nError: Option '--chunk' needs I/N, chunk I of N chunks with 1 <= I <= N";
    if (!has_value) {
      std::printf("%s.\n", needs);
      kill_Quillmark();
    }
    const std::string& value = arguments[++a];
    if (!parse_chunk(value, options.chunk_index, options.chunk_count)) {
      std::printf("%s, not '%s'.\n", needs, value.c_str());
      kill_Quillmark();
    }
    options.chunked = true;
    std::printf("Probes of chunk %d of %d analysed\n", options.chunk_index, options.chunk_count);
    return true;
  }
  if (argument == "--resume") {
    options.resume = true;
    std::printf("Interrupted run resumed\n");
    return true;
  }
  return false;
}

void apply_cluster_options(const ClusterOptions& options, OPTION& option) {
  if (options.out.empty()) return;
  option.result_file = options.out;
  option.result_file_given = 1;
}

ProbeRange chunk_range(long num_probes, int chunk_index, int chunk_count) {
  // The products fit a long long: probes and chunk numbers are each below 2^31.
  const auto boundary = [&](long long index) {
    return static_cast<long>(index * num_probes / chunk_count);
  };
  ProbeRange range;
  range.first = boundary(chunk_index - 1);
  range.count = boundary(chunk_index) - range.first;
  return range;
}
