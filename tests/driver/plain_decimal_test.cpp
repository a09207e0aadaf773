// The readers' number parsing within lines: every token next_number reads must be the
// double std::from_chars gives for the same token, bit for bit, whether the token is
// converted eight bytes at a time (text follows it on the line) or digit by digit (it
// ends the line), and every token std::from_chars refuses must be refused.
#include "driver/line_reader.h"

#include <gtest/gtest.h>

#include <charconv>
#include <cmath>
#include <cstring>
#include <random>
#include <string>
#include <string_view>
#include <vector>

namespace {

// The independent route: the whole token through std::from_chars, which takes no leading
// '+'.
bool reference_value(std::string_view token, double& value) {
  if (token.size() >= 2 && token[0] == '+' && token[1] != '-' && token[1] != '+')
    token.remove_prefix(1);
  const char* end = token.data() + token.size();
  const auto [ptr, ec] = std::from_chars(token.data(), end, value);
  return !token.empty() && ptr == end && ec == std::errc();
}

bool same_bits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// Parses the first token of `line` with next_number and checks it against the reference;
// the token is the text up to the first white space.
void expect_first_token_as_reference(const std::string& line) {
  const std::size_t stop = line.find_first_of(" \t\r\n\v\f");
  const std::string_view expected_token =
      std::string_view(line).substr(0, stop == std::string::npos ? line.size() : stop);
  double expected = 0.0;
  const bool is_number = reference_value(expected_token, expected);
  std::size_t pos = 0;
  std::string_view token;
  double value = 0.0;
  const NumberToken found = next_number(line, pos, token, value);
  ASSERT_EQ(found, is_number ? NumberToken::kNumber : NumberToken::kNotNumber) << '"' << line << '"';
  EXPECT_EQ(token, expected_token) << '"' << line << '"';
  EXPECT_EQ(pos, expected_token.size()) << '"' << line << '"';
  if (is_number) {
    EXPECT_TRUE(same_bits(value, expected)) << '"' << line << "\": " << value << " vs " << expected;
  }
  // The line loop reads the same token the same way.
  std::size_t line_pos = 0;
  double one[1] = {0.0};
  const NumbersRead read = read_numbers(line, line_pos, one);
  EXPECT_EQ(read.stop, found) << '"' << line << '"';
  EXPECT_EQ(read.count, is_number ? 1U : 0U) << '"' << line << '"';
  if (is_number) {
    EXPECT_EQ(line_pos, pos) << '"' << line << '"';
    EXPECT_TRUE(same_bits(one[0], value)) << '"' << line << '"';
  } else {
    EXPECT_EQ(read.token, expected_token) << '"' << line << '"';
  }
}

// A token of the decimal forms, with the lengths around the eight-byte word and the
// characters next to the digits in the code table ('/' and ':'), then what follows it.
std::string random_token(std::mt19937_64& random) {
  static const std::vector<std::string> kSigns = {"", "", "-", "+", "--", "+-"};
  static const std::vector<std::string> kEnds = {"",  "",   "",   "",   "e3", "e-2", "/",
                                                 ":", "x",  "\xfa", "..", "n", "E+1", "\x01"};
  std::string token = kSigns[random() % kSigns.size()];
  const auto digits = [&](int count) {
    for (int d = 0; d < count; ++d) {
      // Many zeros, for leading zeros and values such as 0.0000.
      token += random() % 3 == 0 ? '0' : static_cast<char>('0' + random() % 10);
    }
  };
  digits(static_cast<int>(random() % 10));
  if (random() % 4 != 0) {
    token += '.';
    digits(static_cast<int>(random() % 10));
  }
  token += kEnds[random() % kEnds.size()];
  return token;
}

}  // namespace

TEST(PlainDecimal, RandomTokensInLinesMatchFromChars) {
  static const std::vector<std::string> kAfter = {"", " ", "\t", " 1.2345 6.7890 0.1111",
                                                  "\r", "\t-0.5\t1"};
  std::mt19937_64 random(20261210);
  for (int i = 0; i < 400000; ++i) {
    const std::string token = random_token(random);
    if (token.empty()) continue;
    expect_first_token_as_reference(token + kAfter[random() % kAfter.size()]);
    if (HasFatalFailure()) return;
  }
}

TEST(PlainDecimal, EdgeFormsMatchFromChars) {
  const std::vector<std::string> tokens = {
      "0", "-0", "-0.0000", "+0.0", "1.", ".5", ".", "-.", "-", "+", "0.1", "0.3", "9999999",
      "99999999", "999999.9", "9.999999", "1234567.", ".1234567", "12345678.9", "0000000.1",
      "0.00000000000000000000001", "0.0000000000000000000001", "123456789012345",
      "1234567890123456", "9007199254740993", "9.999999999999999", "1.5e3", "7.", "7.e1",
      "1.2.3", "1/2", "1:2", "12:34", "5\xfa", "1e999", "2.5\x01", "\x1f"};
  for (const std::string& token : tokens) {
    for (const char* after : {"", " ", "        ", " 1 2 3 4 5 6 7 8"}) {
      expect_first_token_as_reference(token + after);
      if (HasFatalFailure()) return;
    }
  }
}

// Blank runs before a token, and a whole line of four-decimal values read in order.
TEST(PlainDecimal, ReadsALineOfValuesInOrder) {
  std::mt19937_64 random(5);
  std::string line = " \t";
  std::vector<double> expected;
  for (int i = 0; i < 5000; ++i) {
    const double v = static_cast<double>(static_cast<long>(random() % 4000000) - 2000000) / 1e4;
    char text[32];
    const auto [end, ec] = std::to_chars(text, text + sizeof text, v, std::chars_format::fixed, 4);
    ASSERT_EQ(ec, std::errc());
    line.append(text, end);
    line += i % 7 == 0 ? "  \t" : " ";
    expected.push_back(v);
  }
  std::size_t pos = 0;
  std::string_view token;
  for (const double want : expected) {
    double value = 0.0;
    ASSERT_EQ(next_number(line, pos, token, value), NumberToken::kNumber);
    ASSERT_TRUE(same_bits(value, want)) << token;
  }
  double value = 0.0;
  EXPECT_EQ(next_number(line, pos, token, value), NumberToken::kNone);
}

// Where the line loop stops: all values read, a token that is not a number (named, with
// the numbers before it kept), or the end of the line (with the count read).
TEST(PlainDecimal, LineLoopStopsAtTheRightToken) {
  struct Case {
    std::string line;
    std::size_t wanted;
    std::size_t count;
    NumberToken stop;
    std::string_view token;
    std::size_t pos;  // after the last number read, or at the token or line end that stopped it
  };
  const std::vector<Case> cases = {
      {"0.1000 -2.5000 3", 3, 3, NumberToken::kNumber, "", 16},
      {"0.1000 -2.5000 3 4", 2, 2, NumberToken::kNumber, "", 14},
      {"0.1000 x1.5 2.0000 3.0000", 3, 1, NumberToken::kNotNumber, "x1.5", 7},
      {"0.1000\t1e2  NA 5.0000000000000000001  ", 5, 4, NumberToken::kNone, "", 38},
      {"  ", 1, 0, NumberToken::kNone, "", 2},
      {"1.0000 2.0000 -", 3, 2, NumberToken::kNotNumber, "-", 14},
  };
  for (const Case& c : cases) {
    std::vector<double> values(c.wanted, -7.0);
    std::size_t pos = 0;
    const NumbersRead read = read_numbers(c.line, pos, values);
    EXPECT_EQ(read.count, c.count) << c.line;
    EXPECT_EQ(read.stop, c.stop) << c.line;
    EXPECT_EQ(read.token, c.token) << c.line;
    EXPECT_EQ(pos, c.pos) << c.line;
    // Each number read is the one the token gives on its own.
    std::size_t at = 0;
    std::string_view token;
    for (std::size_t i = 0; i < read.count; ++i) {
      double alone = 0.0;
      ASSERT_TRUE(next_token(c.line, at, token));
      ASSERT_TRUE(parse_double(token, alone));
      if (std::isnan(alone)) {
        EXPECT_TRUE(std::isnan(values[i])) << c.line;
      } else {
        EXPECT_TRUE(same_bits(values[i], alone)) << c.line << " value " << i;
      }
    }
  }
}
