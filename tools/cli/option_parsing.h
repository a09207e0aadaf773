#pragma once
// Command-line helpers of the companion programs (quillmark-sim, quillmark-prepare): the
// usage error and exact number parsing of option values.

#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

// Writes "Error: <message>" and a pointer to `program`'s --help on standard error and
// exits with status 1.
[[noreturn]] inline void fail_usage(std::string_view program, const std::string& message) {
  std::fprintf(stderr, "Error: %s\nTry '%.*s --help'.\n", message.c_str(),
               static_cast<int>(program.size()), program.data());
  std::exit(1);
}

// The whole of `text` as a number of type T; a usage error of `program` naming `option`
// when it is not one.
template <typename T>
T parse_option_number(std::string_view program, std::string_view option, std::string_view text) {
  T value{};
  const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
  if (result.ec != std::errc() || result.ptr != text.data() + text.size())
    fail_usage(program, "option '" + std::string(option) + "' needs a number, got '" +
                            std::string(text) + "'");
  return value;
}
