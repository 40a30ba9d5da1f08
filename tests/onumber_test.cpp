// Decimal integers against std::ostringstream at every digit count: the
// values around each power of ten, where the number of digits changes, and
// around the splits of a 64-bit value into pieces of eight digits; each
// written alone and in runs that end a put area at every position.
#include "membuf.hpp"
#include "ostream.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

namespace {

// The values of T around 10^k for every k, around 10^k times a digit (every
// leading digit), and both ends of T; their negatives for a signed T.
template <class T> std::vector<T> boundaryValues() {
  using L = std::numeric_limits<T>;
  std::vector<T> values = {T(0), L::max(), T(L::max() - 1), L::min(), T(L::min() + 1)};
  const std::uint64_t top = static_cast<std::uint64_t>(L::max());
  for (std::uint64_t power = 1;; power *= 10) {
    for (std::uint64_t digit = 1; digit <= 9; ++digit) {
      const std::uint64_t v = power * digit;
      for (std::uint64_t near : {v - 1, v, v + 1})
        if (near <= top) {
          values.push_back(static_cast<T>(near));
          if constexpr (L::is_signed)
            values.push_back(static_cast<T>(-static_cast<T>(near)));
        }
    }
    if (power > top / 10)
      break;
  }
  return values;
}

template <class T> std::string standardText(const std::vector<T>& values, std::ios_base::fmtflags flags) {
  std::ostringstream out;
  out.flags(flags);
  for (T v : values)
    out << v << ' ';
  return out.str();
}

template <class T> std::string ourText(const std::vector<T>& values, long flags, std::size_t area) {
  IMemBuf buffer({}, area);
  ostream out(&buffer);
  out.flags(flags);
  for (T v : values)
    out << v << ' ';
  EXPECT_TRUE(out.good());
  return buffer.str();
}

// Every value written alone, then all of them in one run through put areas
// of every size from 1 to 48 (beyond the widest number), so that numbers
// start at every position of an area: whole, split, or at its end.
template <class T> void compareAt(long flags, std::ios_base::fmtflags stdFlags) {
  const std::vector<T> values = boundaryValues<T>();
  for (T v : values)
    ASSERT_EQ(ourText<T>({v}, flags, 4096), standardText<T>({v}, stdFlags)) << "value " << +v;
  const std::string expected = standardText(values, stdFlags);
  for (std::size_t area = 1; area <= 48; ++area)
    EXPECT_EQ(ourText(values, flags, area), expected) << "put area of " << area;
}

template <class T> class OnumberDecimal : public ::testing::Test {};

using IIntegerTypes = ::testing::Types<short, unsigned short, int, unsigned int, long, unsigned long, long long,
                                       unsigned long long>;
TYPED_TEST_SUITE(OnumberDecimal, IIntegerTypes);

TYPED_TEST(OnumberDecimal, EveryDigitCountMatchesTheStandardStream) {
  compareAt<TypeParam>(ios::skipws | ios::dec, std::ios_base::skipws | std::ios_base::dec);
  compareAt<TypeParam>(ios::skipws, std::ios_base::skipws);
  compareAt<TypeParam>(ios::showpos, std::ios_base::showpos | std::ios_base::dec);
}

// Pseudo-random values of every length, as a mix of lengths comes in real output.
TEST(OnumberDecimalMix, RandomValuesOfEveryLengthMatch) {
  std::vector<long long> values;
  std::uint64_t state = 88172645463325252u;
  for (int i = 0; i < 20000; ++i) {
    state ^= state << 13;
    state ^= state >> 7;
    state ^= state << 17;
    const int shift = static_cast<int>(state % 64);
    values.push_back(static_cast<long long>(state >> shift));
    values.push_back(-static_cast<long long>(state >> (shift | 1)));
  }
  EXPECT_EQ(ourText(values, ios::skipws | ios::dec, 4096), standardText(values, std::ios_base::dec));
}

} // namespace
