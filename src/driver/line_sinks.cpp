#include "driver/line_sinks.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "driver/stop.h"

namespace {

// What one file holds: the byte offset of the end of its header and of each whole probe
// line after it, or nothing when its header is cut short.
struct SinkContent {
  bool header_whole = false;
  std::vector<std::uintmax_t> line_ends;  // [0] ends the header, [k] the k-th probe line
};

[[noreturn]] void cannot_resume(const std::string& path, const std::string& why) {
  std::printf("\nError: Cannot resume '%s': %s.\n", path.c_str(), why.c_str());
  kill_Quillmark();
}

SinkContent read_sink(const LineSinkLayout& sink, const std::string& info_path,
                      const ProbeRange& range) {
  std::error_code unknown;
  if (!std::filesystem::exists(sink.path, unknown))
    cannot_resume(sink.path, "the file does not exist");
  std::ifstream in(sink.path, std::ios::binary);
  if (!in || std::filesystem::is_directory(sink.path, unknown))
    cannot_resume(sink.path, "the file cannot be read");

  SinkContent content;
  std::uintmax_t offset = 0;
  long line_number = 0;
  std::string line;
  for (const std::string& header : sink.header) {
    if (!std::getline(in, line)) return content;
    ++line_number;
    const bool whole = !in.eof();
    if (whole ? line != header : header.compare(0, line.size(), line) != 0) {
      cannot_resume(sink.path, "line " + std::to_string(line_number) +
                                   " is not the header line of this file");
    }
    if (!whole) return content;
    offset += line.size() + 1;
  }
  content.header_whole = true;
  content.line_ends.push_back(offset);

  LineReader info_file;
  if (!info_file.open(info_path)) cannot_resume(info_path, "the file does not exist");
  std::string_view skipped;
  for (long p = 0; p < range.first; ++p) info_file.next_nonblank_line(skipped);
  ProbeInfo info;
  while (std::getline(in, line) && !in.eof()) {
    ++line_number;
    const long probe = static_cast<long>(content.line_ends.size()) - 1;
    if (probe >= range.count || !next_probe_info(info_file, info)) {
      cannot_resume(sink.path, "line " + std::to_string(line_number) + " is beyond the " +
                                   std::to_string(range.count) + " probes of this run");
    }
    if (line.rfind(sink.line_start(info), 0) != 0) {
      cannot_resume(sink.path, "line " + std::to_string(line_number) +
                                   " is not the line of probe '" + info.name + "', probe " +
                                   std::to_string(range.first + probe + 1) + " of '" +
                                   info_path + "'");
    }
    offset += line.size() + 1;
    content.line_ends.push_back(offset);
  }
  return content;
}

// Writes the header of `sink` into a file emptied first.
void write_header(const LineSinkLayout& sink) {
  std::FILE* file = std::fopen(sink.path.c_str(), "w");
  bool ok = file != nullptr;
  for (const std::string& header : sink.header)
    ok = ok && std::fprintf(file, "%s\n", header.c_str()) >= 0;
  if (file != nullptr) ok = std::fclose(file) == 0 && ok;
  if (!ok) cannot_resume(sink.path, "the file cannot be written");
}

}  // namespace

long prepare_resume(const std::vector<LineSinkLayout>& sinks, const std::string& info_path,
                    const ProbeRange& range) {
  std::vector<SinkContent> contents;
  long done = range.count;
  for (const LineSinkLayout& sink : sinks) {
    contents.push_back(read_sink(sink, info_path, range));
    const long lines =
        contents.back().header_whole ? static_cast<long>(contents.back().line_ends.size()) - 1 : 0;
    done = std::min(done, lines);
  }
  for (std::size_t s = 0; s < sinks.size(); ++s) {
    if (!contents[s].header_whole) {
      write_header(sinks[s]);
      continue;
    }
    std::error_code failed;
    std::filesystem::resize_file(sinks[s].path,
                                 contents[s].line_ends[static_cast<std::size_t>(done)], failed);
    if (failed) cannot_resume(sinks[s].path, "the file cannot be written");
  }
  return done;
}
