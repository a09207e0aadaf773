#include "driver/line_reader.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <system_error>

#include "driver/stop.h"

namespace {
bool equals_ignoring_case(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    char x = a[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (x != b[i]) return false;
  }
  return true;
}

// std::from_chars takes neither a leading '+' nor white space; a sign after '+' is
// not a number.
std::string_view without_plus(std::string_view token) {
  if (token.size() >= 2 && token[0] == '+' && token[1] != '+' && token[1] != '-') {
    token.remove_prefix(1);
  }
  return token;
}
}  // namespace

bool LineReader::open(const std::string& path, int threads) {
  path_ = path;
  file_.reset(bgzf_open(path.c_str(), "r"));
  if (!file_) {
    // A path that exists but is no readable stream (a directory) is a read error, as
    // with any other file that cannot be read.
    std::FILE* probe = std::fopen(path.c_str(), "r");
    if (probe == nullptr) return false;
    std::fclose(probe);
    std::printf("\nError: Cannot read '%s'.\n", path_.c_str());
    kill_Quillmark();
  }
  compressed_ = bgzf_compression(file_.get()) != 0;
  // Only bgzip's independent blocks can be decompressed in parallel; htslib reads plain
  // gzip on one thread whatever it is asked.
  if (threads > 1 && bgzf_compression(file_.get()) == 2) bgzf_mt(file_.get(), threads, 64);
  buffer_.assign(buffer_size_, '\0');
  begin_ = end_ = 0;
  at_eof_ = false;
  carry_.clear();
  line_number_ = 0;
  return true;
}

bool LineReader::refill() {
  if (at_eof_ || !file_) return false;
  const ssize_t got = bgzf_read(file_.get(), buffer_.data(), buffer_.size());
  begin_ = 0;
  if (got < 0) {
    if (compressed_)
      std::printf("\nError: Cannot read '%s': the compressed data end early or are corrupt.\n",
                  path_.c_str());
    else
      std::printf("\nError: Cannot read '%s'.\n", path_.c_str());
    kill_Quillmark();
  }
  end_ = static_cast<std::size_t>(got);
  if (end_ == 0) at_eof_ = true;
  return end_ > 0;
}

bool LineReader::next_line(std::string_view& line) {
  carry_.clear();
  bool have_text = false;
  for (;;) {
    if (begin_ == end_ && !refill()) {
      if (!have_text) return false;
      ++line_number_;
      line = carry_;
      return true;
    }
    const char* start = buffer_.data() + begin_;
    const auto* newline = static_cast<const char*>(std::memchr(start, '\n', end_ - begin_));
    if (newline != nullptr) {
      const std::size_t length = static_cast<std::size_t>(newline - start);
      begin_ += length + 1;
      ++line_number_;
      if (have_text) {
        carry_.append(start, length);
        line = carry_;
      } else {
        line = std::string_view(start, length);
      }
      return true;
    }
    carry_.append(start, end_ - begin_);
    begin_ = end_;
    have_text = true;
  }
}

bool LineReader::next_nonblank_line(std::string_view& line) {
  while (next_line(line)) {
    if (has_token(line)) return true;
  }
  return false;
}

bool next_token(std::string_view line, std::size_t& pos, std::string_view& token) {
  while (pos < line.size() && is_blank_char(line[pos])) ++pos;
  if (pos >= line.size()) return false;
  const std::size_t start = pos;
  while (pos < line.size() && !is_blank_char(line[pos])) ++pos;
  token = line.substr(start, pos - start);
  return true;
}

bool has_token(std::string_view line) {
  for (char c : line) {
    if (!is_blank_char(c)) return true;
  }
  return false;
}

std::vector<std::string_view> split_tokens(std::string_view line) {
  std::vector<std::string_view> tokens;
  std::size_t pos = 0;
  std::string_view token;
  while (next_token(line, pos, token)) tokens.push_back(token);
  return tokens;
}

NumbersRead read_numbers(std::string_view line, std::size_t& pos, std::span<double> values) {
  const char* const begin = line.data();
  const char* const end = begin + line.size();
  const char* p = begin + pos;
  NumbersRead read;
  std::size_t i = 0;
  for (; i < values.size(); ++i) {
    while (p != end && is_blank_char(*p)) ++p;
    if (p == end) {
      read.stop = NumberToken::kNone;
      break;
    }
    const char* stop = parse_plain_decimal(p, end, values[i]);
    if (stop == nullptr) [[unlikely]] {
      std::size_t at = static_cast<std::size_t>(p - begin);
      std::string_view token;
      next_token(line, at, token);
      if (!parse_double(token, values[i])) {
        read.stop = NumberToken::kNotNumber;
        read.token = token;
        break;
      }
      stop = begin + at;
    }
    p = stop;
  }
  read.count = i;
  pos = static_cast<std::size_t>(p - begin);
  return read;
}

bool parse_int(std::string_view token, int& value) {
  token = without_plus(token);
  const char* end = token.data() + token.size();
  const auto [ptr, ec] = std::from_chars(token.data(), end, value);
  return ec == std::errc() && ptr == end && !token.empty();
}

bool parse_double(std::string_view token, double& value) {
  const char* const token_end = token.data() + token.size();
  if (!token.empty() &&
      parse_plain_decimal(token.data(), token_end, value) == token_end)
    return true;
  if (equals_ignoring_case(token, "na")) {
    value = std::numeric_limits<double>::quiet_NaN();
    return true;
  }
  token = without_plus(token);
  const char* end = token.data() + token.size();
  const auto [ptr, ec] = std::from_chars(token.data(), end, value, std::chars_format::general);
  if (ptr != end || token.empty()) return false;
  if (ec == std::errc::result_out_of_range) {
    // Overflow is not a value the run can use; underflow is taken as the nearest double.
    const std::string copy(token);
    const double rounded = std::strtod(copy.c_str(), nullptr);
    if (std::isinf(rounded)) return false;
    value = rounded;
    return true;
  }
  return ec == std::errc();
}
