// Text files for quillmark-prepare: reading lines from plain or gzip-compressed
// files (gzip and bgzip through htslib's BGZF), writing plain or bgzip-compressed
// files, and the error that names a file and line.
#pragma once

#include <cstddef>
#include <cstdio>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

// An error in the user's input or files; what() is the message after "Error: ".
struct InputError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// Throws InputError "'<path>', line <line>: <what>" (without the line when line <= 0).
[[noreturn]] void input_error(const std::string& path, long line, const std::string& what);

// A text file read line by line; gzip-compressed files are recognised by their first bytes.
class LineInput {
 public:
  LineInput();
  ~LineInput();
  LineInput(LineInput&& other) noexcept;
  LineInput& operator=(LineInput&& other) noexcept;

  // Opens path; false when it cannot be opened. A plain file gets a read buffer of
  // plain_buffer bytes (a compressed file needs about 170 kB whatever this is).
  bool open(const std::string& path, std::size_t plain_buffer = std::size_t{1} << 16);
  // Opens path or throws InputError "'<path>': cannot be opened".
  void open_or_throw(const std::string& path, std::size_t plain_buffer = std::size_t{1} << 16);
  // The next line without its line end ("\n" or "\r\n"); false at the end of the file.
  // The view lasts until the next call. Throws InputError when the file cannot be read.
  bool next(std::string_view& line);
  // The next line that holds more than white space; false at the end of the file.
  bool next_nonblank(std::string_view& line);
  // Number of the line last returned (from 1).
  long line_number() const { return line_number_; }
  const std::string& path() const { return path_; }
  // True when the open file is gzip-compressed.
  bool compressed() const;
  void close();

 private:
  struct State;
  std::unique_ptr<State> state_;
  std::string path_;
  long line_number_ = 0;
};

// An output file, plain or bgzip-compressed, written through a large buffer.
class OutputFile {
 public:
  OutputFile() = default;
  ~OutputFile();
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  // Creates path (bgzip-compressed when bgzip is true); throws InputError on failure.
  void create(const std::string& path, bool bgzip);
  bool is_open() const { return plain_ != nullptr || bgzf_ != nullptr; }
  // Appends text.
  void write(std::string_view text) {
    buffer_.append(text);
    if (buffer_.size() >= FLUSH_AT) flush();
  }
  void put(char c) {
    buffer_.push_back(c);
    if (buffer_.size() >= FLUSH_AT) flush();
  }
  // Writes what is buffered and closes; throws InputError when the file cannot be written.
  void close();
  const std::string& path() const { return path_; }

 private:
  static constexpr std::size_t FLUSH_AT = std::size_t{1} << 20;
  void flush();

  std::string path_;
  std::FILE* plain_ = nullptr;
  void* bgzf_ = nullptr;  // BGZF*
  std::string buffer_;
};

// Splits line at tabs into fields (empty fields kept).
void split_tabs(std::string_view line, std::vector<std::string_view>& fields);
// Splits line at spaces and tabs into tokens (no empty tokens).
void split_blanks(std::string_view line, std::vector<std::string_view>& tokens);
// The last component of a path ("dir/a.txt" -> "a.txt").
std::string_view base_name(std::string_view path);
// Lists up to `shown` names as "a, b, c" and "... and N more" after them.
std::string name_list(const std::vector<std::string>& names, std::size_t shown = 10);
