#include "prepare/text_io.h"

#include <htslib/bgzf.h>
#include <htslib/kstring.h>

#include <cstdlib>
#include <cstring>

[[noreturn]] void input_error(const std::string& path, long line, const std::string& what) {
  if (line > 0) throw InputError("'" + path + "', line " + std::to_string(line) + ": " + what);
  throw InputError("'" + path + "': " + what);
}

struct LineInput::State {
  std::FILE* plain = nullptr;
  std::unique_ptr<char[]> plain_buffer;
  char* line = nullptr;  // getline's buffer
  std::size_t line_capacity = 0;
  BGZF* bgzf = nullptr;
  kstring_t text = {0, 0, nullptr};

  ~State() {
    if (plain) std::fclose(plain);
    if (bgzf) bgzf_close(bgzf);
    std::free(line);
    std::free(text.s);
  }
};

LineInput::LineInput() = default;
LineInput::~LineInput() = default;
LineInput::LineInput(LineInput&& other) noexcept = default;
LineInput& LineInput::operator=(LineInput&& other) noexcept = default;

bool LineInput::open(const std::string& path, std::size_t plain_buffer) {
  close();
  path_ = path;
  line_number_ = 0;
  auto state = std::make_unique<State>();
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return false;
  unsigned char magic[2] = {0, 0};
  const std::size_t got = std::fread(magic, 1, 2, f);
  if (got == 2 && magic[0] == 0x1f && magic[1] == 0x8b) {
    std::fclose(f);
    state->bgzf = bgzf_open(path.c_str(), "r");
    if (!state->bgzf) return false;
  } else {
    std::rewind(f);
    state->plain = f;
    state->plain_buffer = std::make_unique<char[]>(plain_buffer);
    std::setvbuf(f, state->plain_buffer.get(), _IOFBF, plain_buffer);
  }
  state_ = std::move(state);
  return true;
}

void LineInput::open_or_throw(const std::string& path, std::size_t plain_buffer) {
  if (!open(path, plain_buffer)) input_error(path, 0, "cannot be opened");
}

bool LineInput::compressed() const { return state_ && state_->bgzf; }

bool LineInput::next(std::string_view& line) {
  if (!state_) return false;
  std::size_t length = 0;
  const char* data = nullptr;
  if (state_->plain) {
    const ssize_t n = ::getline(&state_->line, &state_->line_capacity, state_->plain);
    if (n < 0) {
      if (std::ferror(state_->plain)) input_error(path_, line_number_ + 1, "cannot be read");
      return false;
    }
    data = state_->line;
    length = static_cast<std::size_t>(n);
    if (length > 0 && data[length - 1] == '\n') --length;
  } else {
    const int n = bgzf_getline(state_->bgzf, '\n', &state_->text);
    if (n == -1) return false;
    if (n < -1) input_error(path_, line_number_ + 1, "cannot be read (damaged compressed data)");
    data = state_->text.s;
    length = state_->text.l;
  }
  if (length > 0 && data[length - 1] == '\r') --length;
  ++line_number_;
  line = std::string_view(data, length);
  return true;
}

bool LineInput::next_nonblank(std::string_view& line) {
  while (next(line)) {
    if (line.find_first_not_of(" \t") != std::string_view::npos) return true;
  }
  return false;
}

void LineInput::close() { state_.reset(); }

OutputFile::~OutputFile() {
  if (plain_) std::fclose(plain_);
  if (bgzf_) bgzf_close(static_cast<BGZF*>(bgzf_));
}

void OutputFile::create(const std::string& path, bool bgzip) {
  path_ = path;
  if (bgzip) {
    bgzf_ = bgzf_open(path.c_str(), "w");
    if (!bgzf_) input_error(path, 0, "cannot be created");
  } else {
    plain_ = std::fopen(path.c_str(), "wb");
    if (!plain_) input_error(path, 0, "cannot be created");
  }
  buffer_.reserve(FLUSH_AT + (std::size_t{1} << 16));
}

void OutputFile::flush() {
  if (buffer_.empty()) return;
  bool ok = false;
  if (plain_) ok = std::fwrite(buffer_.data(), 1, buffer_.size(), plain_) == buffer_.size();
  else if (bgzf_) ok = bgzf_write(static_cast<BGZF*>(bgzf_), buffer_.data(), buffer_.size()) ==
                       static_cast<ssize_t>(buffer_.size());
  if (!ok) input_error(path_, 0, "cannot be written");
  buffer_.clear();
}

void OutputFile::close() {
  flush();
  bool ok = true;
  if (plain_) ok = std::fclose(plain_) == 0;
  if (bgzf_) ok = bgzf_close(static_cast<BGZF*>(bgzf_)) == 0;
  plain_ = nullptr;
  bgzf_ = nullptr;
  if (!ok) input_error(path_, 0, "cannot be written");
}

void split_tabs(std::string_view line, std::vector<std::string_view>& fields) {
  fields.clear();
  std::size_t start = 0;
  while (true) {
    const std::size_t tab = line.find('\t', start);
    if (tab == std::string_view::npos) {
      fields.push_back(line.substr(start));
      return;
    }
    fields.push_back(line.substr(start, tab - start));
    start = tab + 1;
  }
}

void split_blanks(std::string_view line, std::vector<std::string_view>& tokens) {
  tokens.clear();
  std::size_t pos = 0;
  while (true) {
    pos = line.find_first_not_of(" \t", pos);
    if (pos == std::string_view::npos) return;
    std::size_t end = line.find_first_of(" \t", pos);
    if (end == std::string_view::npos) end = line.size();
    tokens.push_back(line.substr(pos, end - pos));
    pos = end;
  }
}

std::string_view base_name(std::string_view path) {
  const std::size_t slash = path.find_last_of('/');
  return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

std::string name_list(const std::vector<std::string>& names, std::size_t shown) {
  std::string out;
  for (std::size_t i = 0; i < names.size() && i < shown; ++i) {
    if (i > 0) out += ", ";
    out += names[i];
  }
  if (names.size() > shown) out += " ... and " + std::to_string(names.size() - shown) + " more";
  return out;
}
