#pragma once
// Exact conversion of the plain decimals of array exports ("0.1234", "-12.5", "7") to
// double, without allocation, for the hot loop of the readers. Every value it returns is
// the correctly rounded double, the same one std::from_chars gives; forms it does not
// take (exponents, long mantissas, words) are left to the general parser.

#include <bit>
#include <cstdint>
#include <cstring>

namespace plain_decimal_detail {

// Exact powers of ten: every one up to 1e22 is a double without rounding.
inline constexpr double kExactPowersOfTen[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                               1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                               1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

// True for the white space that ends a token: blank, tab, line feed, vertical tab, form
// feed and carriage return.
constexpr bool ends_token(char c) { return c == ' ' || static_cast<unsigned char>(c - '\t') < 5; }

// Characters turned into digit values by one exclusive or: '0'..'9' become 0..9.
inline constexpr std::uint64_t kZeros = 0x3030303030303030;

// The bytes of `values` (characters after `^ kZeros`) that are not digit values 0..9,
// each as its top bit. Exact for every byte up to and including the first such byte: a
// byte's carry reaches only the bytes after it.
constexpr std::uint64_t non_digit_bytes(std::uint64_t values) {
  return ((values + 0x7676767676767676) | values) & 0x8080808080808080;
}

// The value of eight decimal digit values (0..9), one per byte, the most significant in
// the lowest byte (the order of the characters in memory on a little-endian machine).
constexpr std::uint32_t eight_digits_value(std::uint64_t digits) {
  // Pairs: each byte becomes 10 * itself + the next byte; the odd bytes then hold the
  // four two-digit values.
  digits = digits * 10 + (digits >> 8);
  // Two-digit values at bytes 0, 2, 4, 6 are combined as 10^6, 10^4, 10^2 and 1 in the
  // upper half of one multiply-add.
  constexpr std::uint64_t kPairs = 0x000000FF000000FF;
  constexpr std::uint64_t kOuter = 100 + (std::uint64_t{1000000} << 32);
  constexpr std::uint64_t kInner = 1 + (std::uint64_t{10000} << 32);
  return static_cast<std::uint32_t>(
      (((digits & kPairs) * kOuter) + (((digits >> 16) & kPairs) * kInner)) >> 32);
}

// The general loop over the characters of [sign] digits [. digits]: at most 15
// significant digits form an integer m < 2^53 and at most 22 decimals a power 10^f, both
// exact doubles, so one division gives the correctly rounded value (Clinger's fast path).
#if defined(__GNUC__)
[[gnu::noinline]]
#endif
inline const char* parse_digit_by_digit(const char* p, const char* end, double& value) {
  bool negative = false;
  if (p != end && (*p == '-' || *p == '+')) negative = *p++ == '-';
  std::uint64_t mantissa = 0;
  int digits = 0;
  int fraction = 0;
  bool any = false;
  while (p != end && static_cast<unsigned>(*p - '0') < 10) {
    mantissa = mantissa * 10 + static_cast<unsigned>(*p++ - '0');
    digits += mantissa != 0;
    any = true;
  }
  if (p != end && *p == '.') {
    ++p;
    while (p != end && static_cast<unsigned>(*p - '0') < 10) {
      mantissa = mantissa * 10 + static_cast<unsigned>(*p++ - '0');
      digits += mantissa != 0;
      ++fraction;
      any = true;
    }
  }
  if ((p != end && !ends_token(*p)) || !any || digits > 15 || fraction > 22) return nullptr;
  const double magnitude = static_cast<double>(mantissa) / kExactPowersOfTen[fraction];
  value = negative ? -magnitude : magnitude;
  return p;
}

}  // namespace plain_decimal_detail

// Reads the token at `p` of the form [sign] digits [. digits] (at least one digit), which
// ends at a white-space character or at `end`, into `value`. Returns the end of the token,
// or nullptr for every other form (left to the general parser); `value` is then unchanged.
// A token of at most 8 characters after its sign, followed by at least one more
// character, is read eight bytes at a time; the rest digit by digit.
#if defined(__GNUC__)
[[gnu::always_inline]]
#endif
inline const char* parse_plain_decimal(const char* p, const char* end, double& value) {
  using namespace plain_decimal_detail;
  if constexpr (std::endian::native == std::endian::little) {
    if (end - p >= 9) {
      std::uint64_t head;
      std::uint64_t tail;
      std::memcpy(&head, p, sizeof head);
      std::memcpy(&tail, p + 1, sizeof tail);
      // The token ends at the first byte below '!' after its first character: found
      // from the bytes alone, so that the next token's position waits on nothing else.
      // Borrows run only upward, past that byte.
      const std::uint64_t below = (tail - 0x2121212121212121) & ~tail & 0x8080808080808080;
      if (below == 0) return parse_digit_by_digit(p, end, value);
      const char* const stop = p + 1 + (std::countr_zero(below) >> 3);
      if (!ends_token(*stop)) return nullptr;
      // Signs are as likely as not in intensities: taken without a branch.
      const bool negative = *p == '-';
      const bool sign = negative | (*p == '+');
      // A select by mask, which compilers keep free of branches.
      const std::uint64_t word = head ^ ((head ^ tail) & (std::uint64_t{0} - sign));
      const int length = static_cast<int>(stop - p) - sign;  // 0..8 characters
      if (length == 0) return nullptr;
      // The token's digit values in the top bytes, its last character in the top byte;
      // the empty low bytes are leading zeros.
      std::uint64_t digit_values = (word ^ kZeros) << (8 * (8 - length));
      const std::uint64_t others = non_digit_bytes(digit_values);
      int fraction = 0;
      if (others != 0) {
        // One point ('.' ^ '0' is 0x1E) and nothing else that is not a digit, and a
        // digit besides it.
        const int top_bit = std::countr_zero(others);  // of the point's byte
        if ((others & (others - 1)) != 0 || ((digit_values >> (top_bit - 7)) & 0xFF) != 0x1E ||
            length == 1)
          return nullptr;
        fraction = (63 - top_bit) >> 3;
        // The digits before the point move up one byte, over it (the point's own top bit
        // is 0 either way).
        const std::uint64_t after_point = ~std::uint64_t{0} << top_bit;
        digit_values = (digit_values & after_point) | ((digit_values << 8) & ~after_point);
      }
      const double magnitude =
          static_cast<double>(eight_digits_value(digit_values)) / kExactPowersOfTen[fraction];
      value = std::bit_cast<double>(std::bit_cast<std::uint64_t>(magnitude) |
                                    (std::uint64_t{negative} << 63));
      return stop;
    }
  }
  return parse_digit_by_digit(p, end, value);
}
