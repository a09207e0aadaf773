#include "driver/console.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>

namespace {

// The run's console, one per process: the log descriptor and what was printed before
// the log was opened.
struct ConsoleState {
  bool installed = false;
  int log_fd = -1;
  bool holding = true;  // keep output in `held` until the log is opened
  std::string held;
};

ConsoleState& console() {
  static ConsoleState state;
  return state;
}

// Held output before the log opens is small (the banner and the settings); a run that
// never opens its log must not grow it without bound.
constexpr std::size_t kMaxHeld = 1 << 20;

bool write_all(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t written = ::write(fd, data, size);
    if (written < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data += written;
    size -= static_cast<std::size_t>(written);
  }
  return true;
}

void to_log(const char* data, std::size_t size) {
  ConsoleState& state = console();
  if (state.log_fd >= 0) {
    write_all(state.log_fd, data, size);
  } else if (state.holding && state.held.size() + size <= kMaxHeld) {
    state.held.append(data, size);
  }
}

// The write function of a teeing stream; its cookie is the descriptor it stands for.
ssize_t tee_write(void* cookie, const char* data, std::size_t size) {
  const int fd = static_cast<int>(reinterpret_cast<std::intptr_t>(cookie));
  to_log(data, size);
  if (!write_all(fd, data, size)) return -1;
  return static_cast<ssize_t>(size);
}

std::FILE* teeing_stream(int fd, int buffering) {
  cookie_io_functions_t functions{};
  functions.write = tee_write;
  std::FILE* stream =
      fopencookie(reinterpret_cast<void*>(static_cast<std::intptr_t>(fd)), "w", functions);
  if (stream != nullptr) std::setvbuf(stream, nullptr, buffering, buffering == _IONBF ? 0 : BUFSIZ);
  return stream;
}

}  // namespace

void install_console_tee() {
  ConsoleState& state = console();
  if (state.installed) return;
  std::fflush(stdout);
  std::fflush(stderr);
  std::FILE* out = teeing_stream(STDOUT_FILENO, _IOLBF);
  std::FILE* err = teeing_stream(STDERR_FILENO, _IONBF);
  if (out == nullptr || err == nullptr) return;
  // glibc declares stdout and stderr as assignable variables.
  stdout = out;
  stderr = err;
  state.installed = true;
}

bool open_console_log(const std::string& path, const std::string& header, bool append) {
  ConsoleState& state = console();
  std::fflush(stdout);
  close_console_log();
  const int fd =
      ::open(path.c_str(), O_WRONLY | O_CREAT | (append ? O_APPEND : O_TRUNC) | O_CLOEXEC, 0666);
  if (fd < 0) {
    state.holding = false;
    state.held.clear();
    return false;
  }
  write_all(fd, header.data(), header.size());
  write_all(fd, state.held.data(), state.held.size());
  state.held.clear();
  state.holding = false;
  state.log_fd = fd;
  return true;
}

void close_console_log() {
  ConsoleState& state = console();
  std::fflush(stdout);
  std::fflush(stderr);
  if (state.log_fd >= 0) ::close(state.log_fd);
  state.log_fd = -1;
}

void log_only(const std::string& text) {
  if (console().log_fd >= 0) write_all(console().log_fd, text.data(), text.size());
}

bool console_tee_installed() { return console().installed; }
