// Text input: exact number parsing and whole-line reading.
#include "driver/line_reader.h"

#include <gtest/gtest.h>

#include <charconv>
#include <cmath>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "run_harness.h"

TEST(LineReader, ParsesWholeTokensOnly) {
  struct Case {
    const char* token;
    bool is_int;
    int int_value;
    bool is_double;
    double double_value;  // NaN and infinities compared by class
  };
  const double nan = std::nan("");
  const double inf = INFINITY;
  const std::vector<Case> cases = {
      {"0", true, 0, true, 0.0},
      {"+2", true, 2, true, 2.0},
      {"-17", true, -17, true, -17.0},
      {"2.0", false, 0, true, 2.0},
      {"1e3", false, 0, true, 1000.0},
      {".5", false, 0, true, 0.5},
      {"-0.25", false, 0, true, -0.25},
      {"1.5abc", false, 0, false, 0.0},
      {"abc", false, 0, false, 0.0},
      {"+-1", false, 0, false, 0.0},
      {"--1", false, 0, false, 0.0},
      {"+", false, 0, false, 0.0},
      {"-", false, 0, false, 0.0},
      {"0x10", false, 0, false, 0.0},
      {"99999999999", false, 0, true, 99999999999.0},
      {"1e999", false, 0, false, 0.0},
      {"1e-999", false, 0, true, 0.0},
      {"NA", false, 0, true, nan},
      {"na", false, 0, true, nan},
      {"NaN", false, 0, true, nan},
      {"nan", false, 0, true, nan},
      {"N/A", false, 0, false, 0.0},
      {"inf", false, 0, true, inf},
      {"-Inf", false, 0, true, -inf},
      {"INFINITY", false, 0, true, inf},
  };
  for (const Case& c : cases) {
    int i = 0;
    double d = 0.0;
    EXPECT_EQ(parse_int(c.token, i), c.is_int) << c.token;
    if (c.is_int) {
      EXPECT_EQ(i, c.int_value) << c.token;
    }
    EXPECT_EQ(parse_double(c.token, d), c.is_double) << c.token;
    if (!c.is_double) continue;
    if (std::isnan(c.double_value)) {
      EXPECT_TRUE(std::isnan(d)) << c.token;
    } else {
      EXPECT_EQ(d, c.double_value) << c.token;
    }
  }
}

TEST(LineReader, ReadsLinesWholeAcrossTheBuffer) {
  FixtureDir dir;
  const std::string long_line(3'000'000, 'x');
  dir.write("text", "a b\r\n\n" + long_line + "\n \t\nlast");
  LineReader reader;
  ASSERT_TRUE(reader.open(dir.path() + "/text"));
  std::string_view line;
  ASSERT_TRUE(reader.next_line(line));
  EXPECT_EQ(split_tokens(line), (std::vector<std::string_view>{"a", "b"}));
  ASSERT_TRUE(reader.next_nonblank_line(line));
  EXPECT_EQ(reader.line_number(), 3);
  EXPECT_EQ(line.size(), long_line.size());
  EXPECT_EQ(line, long_line);
  ASSERT_TRUE(reader.next_nonblank_line(line));
  EXPECT_EQ(line, "last");
  EXPECT_EQ(reader.line_number(), 5);
  EXPECT_FALSE(reader.next_line(line));
  EXPECT_FALSE(reader.open(dir.path() + "/absent"));
}

// The fast path for plain decimals must give exactly the double that the general parser
// gives, for every form it takes and at its limits (15 significant digits, 22 decimals).
TEST(LineReader, PlainDecimalsParseToTheCorrectlyRoundedDouble) {
  const auto general = [](const std::string& text) {
    double value = 0.0;
    std::string_view t = text;
    if (!t.empty() && t[0] == '+') t.remove_prefix(1);
    std::from_chars(t.data(), t.data() + t.size(), value);
    return value;
  };
  std::vector<std::string> tokens = {"0",     "-0",          "1.",   ".5",  "-.25",
                                     "+3.75", "0.1",         "0.3",  "-2.5123",
                                     "123456789012345", "1234567890123456", "0.0000000000000000000001",
                                     "9.999999999999999", "00000000000000000000000.125"};
  std::mt19937_64 random(7);
  for (int i = 0; i < 20000; ++i) {
    const int whole = static_cast<int>(random() % 100);
    const int decimals = 1 + static_cast<int>(random() % 15);
    std::string fraction;
    for (int d = 0; d < decimals; ++d) fraction += static_cast<char>('0' + random() % 10);
    tokens.push_back((random() % 2 ? "-" : "") + std::to_string(whole) + "." + fraction);
  }
  for (const std::string& token : tokens) {
    double value = 0.0;
    ASSERT_TRUE(parse_double(token, value)) << token;
    const double expected = general(token);
    EXPECT_EQ(std::memcmp(&value, &expected, sizeof value), 0) << token;
  }
}
