#pragma once
// Text input shared by every reader of the run: a forward line reader for lines of
// any length, a white-space tokenizer and exact number parsing.

#include <cstddef>
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

// Reads one text file forward, line by line, through a large buffer. A read error
// (for example a directory given as a file) is a user-input error: it writes
// "\nError: Cannot read '%s'.\n" and stops the run.
class LineReader {
 public:
  // Large enough that a line of a few hundred thousand characters takes few refills.
  static constexpr std::size_t kDefaultBufferSize = std::size_t{1} << 20;
  // `buffer_size` (at least 1) is the size of each read; only tests choose a small one,
  // to make lines span many refills.
  explicit LineReader(std::size_t buffer_size = kDefaultBufferSize)
      : buffer_size_(buffer_size > 0 ? buffer_size : 1) {}

  // Opens `path` for reading; false when it cannot be opened.
  bool open(const std::string& path);
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
    void operator()(std::FILE* file) const { std::fclose(file); }
  };
  bool refill();

  std::unique_ptr<std::FILE, FileCloser> file_;
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
  return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f' || c == '\n';
}

// Moves `pos` past the next token of `line` and returns it in `token`; false when no
// token is left.
bool next_token(std::string_view line, std::size_t& pos, std::string_view& token);
// True when `line` holds at least one token.
bool has_token(std::string_view line);
// All tokens of `line`, in order.
std::vector<std::string_view> split_tokens(std::string_view line);

// Parses the whole token as a decimal integer (an optional leading '+' or '-'); false
// when it is not one or does not fit an int.
bool parse_int(std::string_view token, int& value);
// Parses the whole token as a decimal floating-point number (an optional leading '+'
// or '-'). The missing-value words NA, NaN and nan and the words inf and infinity, in
// any case, give a non-finite value. False when the token is none of these.
bool parse_double(std::string_view token, double& value);
