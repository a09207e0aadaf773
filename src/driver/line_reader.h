#pragma once
// Text input shared by every reader of the run: a forward line reader for lines of
// any length, a white-space tokenizer and exact number parsing.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include <htslib/bgzf.h>

#include "driver/plain_decimal.h"

// Reads one text file forward, line by line, through a large buffer. The file may be
// plain text or compressed with gzip or bgzip, told apart by its first bytes (htslib's
// BGZF layer reads all three); bgzip files can be decompressed by several threads. A
// read error (for example a directory given as a file, or a compressed file that ends
// early or is corrupt) is a user-input error: it writes "\nError: Cannot read '%s'.\n"
// (with the reason for a compressed file) and stops the run.
class LineReader {
 public:
  // Large enough that a line of a few hundred thousand characters takes few refills.
  static constexpr std::size_t kDefaultBufferSize = std::size_t{1} << 20;
  // `buffer_size` (at least 1) is the size of each read; only tests choose a small one,
  // to make lines span many refills.
  explicit LineReader(std::size_t buffer_size = kDefaultBufferSize)
      : buffer_size_(buffer_size > 0 ? buffer_size : 1) {}

  // Opens `path` for reading; false when it cannot be opened. A bgzip file is
  // decompressed by `threads` threads (1: on the calling thread).
  bool open(const std::string& path, int threads = 1);
  // The next line without its line break; false at the end of the file. The view stays
  // valid until the next call.
  bool next_line(std::string_view& line);
  // The next line that holds at least one token; false at the end of the file.
  bool next_nonblank_line(std::string_view& line);
  // Number of the line last returned, counted from 1 over all lines, blank ones included.
  long line_number() const { return line_number_; }
  const std::string& path() const { return path_; }

 private:
  struct FileCloser {
    void operator()(BGZF* file) const { bgzf_close(file); }
  };
  bool refill();

  std::unique_ptr<BGZF, FileCloser> file_;
  bool compressed_ = false;
  std::string path_;
  std::size_t buffer_size_;
  std::vector<char> buffer_;
  std::size_t begin_ = 0;
  std::size_t end_ = 0;
  bool at_eof_ = false;
  std::string carry_;  // a line that spans buffer refills
  long line_number_ = 0;
};

// True for the white space that separates tokens: blank, tab, carriage return,
// vertical tab and form feed (line breaks never reach the tokenizer).
constexpr bool is_blank_char(char c) {
  return plain_decimal_detail::ends_token(c);
}

// Moves `pos` past the next token of `line` and returns it in `token`; false when no
// token is left.
bool next_token(std::string_view line, std::size_t& pos, std::string_view& token);
// True when `line` holds at least one token.
bool has_token(std::string_view line);
// All tokens of `line`, in order.
std::vector<std::string_view> split_tokens(std::string_view line);

// What next_number found at the position it was given.
enum class NumberToken {
  kNumber,     // a number, in `value`
  kNotNumber,  // a token that is not a number
  kNone,       // no token is left on the line
};

// The next token of `line` from `pos` and its value as parse_double reads it, in one
// pass over the characters for the plain decimals of array exports (the hot loop of the
// readers); `pos` moves past the token, and `token` is the token read (for messages).
inline NumberToken next_number(std::string_view line, std::size_t& pos, std::string_view& token,
                               double& value);

// Where read_numbers stopped.
struct NumbersRead {
  std::size_t count = 0;                     // numbers read, in values[0, count)
  NumberToken stop = NumberToken::kNumber;   // kNumber: every value was read; kNotNumber:
                                             // the next token is not a number; kNone: the
                                             // line ended first
  std::string_view token;                    // the token that is not a number
};

// The tokens of `line` from `pos`, in order, read into `values` as next_number reads
// them, until every value is read, a token is not a number or the line ends; `pos` moves
// past the last number read, or to the token or the line end where it stopped. The
// readers' loop over a line of intensities.
NumbersRead read_numbers(std::string_view line, std::size_t& pos, std::span<double> values);

// Parses the whole token as a decimal integer (an optional leading '+' or '-'); false
// when it is not one or does not fit an int.
bool parse_int(std::string_view token, int& value);
// Parses the whole token as a decimal floating-point number (an optional leading '+'
// or '-'). The missing-value words NA, NaN and nan and the words inf and infinity, in
// any case, give a non-finite value. False when the token is none of these.
bool parse_double(std::string_view token, double& value);

inline NumberToken next_number(std::string_view line, std::size_t& pos, std::string_view& token,
                               double& value) {
  const char* const begin = line.data();
  const char* const end = begin + line.size();
  const char* p = begin + pos;
  while (p != end && is_blank_char(*p)) ++p;
  if (p == end) [[unlikely]] {
    pos = line.size();
    return NumberToken::kNone;
  }
  if (const char* stop = parse_plain_decimal(p, end, value)) {
    token = std::string_view(p, static_cast<std::size_t>(stop - p));
    pos = static_cast<std::size_t>(stop - begin);
    return NumberToken::kNumber;
  }
  pos = static_cast<std::size_t>(p - begin);
  next_token(line, pos, token);
  return parse_double(token, value) ? NumberToken::kNumber : NumberToken::kNotNumber;
}
