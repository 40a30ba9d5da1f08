// The numeric inserters of ostream. Decimal integers are written here, two
// digits at a time; the other digits come from <charconv>. Signs, base
// prefixes, the forced decimal point of showpoint and upper case are added
// here so that the text equals what the standard stream writes.
#include "ostream.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <type_traits>

namespace {

// "00" to "99": decimal digits are written two at a time.
constexpr auto kDigitPairs = [] {
  struct {
    char text[200];
  } pairs{};
  for (int i = 0; i < 100; ++i) {
    pairs.text[2 * i] = static_cast<char>('0' + i / 10);
    pairs.text[2 * i + 1] = static_cast<char>('0' + i % 10);
  }
  return pairs;
}();

inline void putPair(char* p, std::uint32_t v) { std::memcpy(p, kDigitPairs.text + 2 * v, 2); }

// Exactly eight digits of v < 10^8, with leading zeros.
inline void putEight(char* p, std::uint32_t v) {
  const std::uint32_t high = v / 10000;
  const std::uint32_t low = v % 10000;
  putPair(p, high / 100);
  putPair(p + 2, high % 100);
  putPair(p + 4, low / 100);
  putPair(p + 6, low % 100);
}

// The digits of v < 10^8 without leading zeros; returns their end. The
// count comes from comparisons, and only 32-bit arithmetic is used.
inline char* putUpToEight(char* p, std::uint32_t v) {
  if (v < 100) {
    if (v < 10) {
      *p = static_cast<char>('0' + v);
      return p + 1;
    }
    putPair(p, v);
    return p + 2;
  }
  if (v < 10000) {
    if (v < 1000) {
      *p = static_cast<char>('0' + v / 100);
      putPair(p + 1, v % 100);
      return p + 3;
    }
    putPair(p, v / 100);
    putPair(p + 2, v % 100);
    return p + 4;
  }
  const std::uint32_t high = v / 10000; // 1 to 9999
  const std::uint32_t low = v % 10000;
  if (v < 1000000) {
    if (v < 100000) {
      *p++ = static_cast<char>('0' + high);
    } else {
      putPair(p, high);
      p += 2;
    }
  } else if (v < 10000000) {
    *p = static_cast<char>('0' + high / 100);
    putPair(p + 1, high % 100);
    p += 3;
  } else {
    putPair(p, high / 100);
    putPair(p + 2, high % 100);
    p += 4;
  }
  putPair(p, low / 100);
  putPair(p + 2, low % 100);
  return p + 4;
}

// The decimal digits of v, as std::to_chars writes them (at most 20);
// returns their end. Splits v into pieces of eight digits so that the
// digits come from 32-bit arithmetic.
template <class U> inline char* putDigits(char* p, U value) {
  constexpr std::uint32_t kEightDigits = 100000000;
  if (value < kEightDigits)
    return putUpToEight(p, static_cast<std::uint32_t>(value));
  const std::uint64_t v = value;
  if (v < 10000000000000000u) {
    p = putUpToEight(p, static_cast<std::uint32_t>(v / kEightDigits));
    putEight(p, static_cast<std::uint32_t>(v % kEightDigits));
    return p + 8;
  }
  const std::uint64_t high = v / kEightDigits; // below 2^64 / 10^8, so the next split leaves at most 4 digits
  p = putUpToEight(p, static_cast<std::uint32_t>(high / kEightDigits));
  putEight(p, static_cast<std::uint32_t>(high % kEightDigits));
  putEight(p + 8, static_cast<std::uint32_t>(v % kEightDigits));
  return p + 16;
}

// Room for 64 bits in octal (22 digits) and a prefix of up to 3 characters.
constexpr std::size_t kIntegerRoom = 32;
// A sign and the 20 digits of the largest 64-bit value.
constexpr std::ptrdiff_t kMaxDecimal = 21;
// Covers every float conversion except long fixed output and large precisions.
constexpr std::size_t kFloatRoom = 128;
// Characters kept free in front of a float's digits for a sign, and behind
// them for a decimal point that showpoint inserts.
constexpr std::size_t kFloatFront = 1;
constexpr std::size_t kFloatBack = 1;

void upcase(char* p, char* end) {
  for (; p < end; ++p)
    if (*p >= 'a' && *p <= 'z')
      *p = static_cast<char>(*p - 'a' + 'A');
}

// Where internal adjustment puts the padding: after a sign, else after 0x.
std::size_t internalSplit(const char* s, std::size_t n) {
  if (n > 0 && (s[0] == '-' || s[0] == '+'))
    return 1;
  if (n > 1 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X'))
    return 2;
  return 0;
}

// The exponent of a text from chars_format::scientific ("1.5e+07").
int decimalExponent(const char* first, const char* last) {
  const char* e = static_cast<const char*>(std::memchr(first, 'e', static_cast<std::size_t>(last - first)));
  if (!e || e + 2 > last)
    return 0;
  bool negative = e[1] == '-';
  int exponent = 0;
  std::from_chars(e + 2, last, exponent);
  return negative ? -exponent : exponent;
}

// The largest precision that still changes what is written: every digit of
// the exact value of a T lies within this many places after the point, or
// this many significant places (the smallest subnormal needs the most).
template <class T>
constexpr int kMaxPrecision = std::numeric_limits<T>::digits - std::numeric_limits<T>::min_exponent + 2;

// Formats `value` as printf does with the conversion that the flags
// select (%f, %e or %g, with the '+' and '#' flags, %E, %G); both fixed and
// scientific select %g, as they did before hexadecimal floating point.
// Writes into [out, out + room); returns the first character and sets
// `length`, or returns null when the room is too small.
template <class T>
char* formatFloating(char* out, std::size_t room, T value, long format, int precision, std::size_t& length) {
  char* digits = out + kFloatFront;
  char* limit = out + room - kFloatBack;
  long field = format & ios::floatfield;
  bool alternate = (format & ios::showpoint) != 0;
  bool finite = std::isfinite(value);
  if (precision < 0)
    precision = 6;
  else if (precision > kMaxPrecision<T>)
    precision = kMaxPrecision<T>;

  std::to_chars_result r;
  if (field == ios::fixed) {
    r = std::to_chars(digits, limit, value, std::chars_format::fixed, precision);
  } else if (field == ios::scientific) {
    r = std::to_chars(digits, limit, value, std::chars_format::scientific, precision);
  } else if (!alternate) {
    r = std::to_chars(digits, limit, value, std::chars_format::general, precision);
  } else {
    // %#g keeps its trailing zeros, which general formatting drops: choose
    // the style the way printf does and format with the exact precision.
    int p = precision == 0 ? 1 : precision;
    r = std::to_chars(digits, limit, value, std::chars_format::scientific, p - 1);
    if (r.ec == std::errc() && finite) {
      int exponent = decimalExponent(digits, r.ptr);
      if (p > exponent && exponent >= -4)
        r = std::to_chars(digits, limit, value, std::chars_format::fixed, p - 1 - exponent);
    }
  }
  if (r.ec != std::errc())
    return nullptr;

  char* end = r.ptr;
  if (alternate && finite && !std::memchr(digits, '.', static_cast<std::size_t>(end - digits))) {
    char* mark = static_cast<char*>(std::memchr(digits, 'e', static_cast<std::size_t>(end - digits)));
    if (!mark)
      mark = end;
    std::memmove(mark + 1, mark, static_cast<std::size_t>(end - mark));
    *mark = '.';
    ++end;
  }
  char* first = digits;
  // The standard stream converts fixed output with %f even under
  // uppercase, so only inf and nan could differ, and they stay lower case.
  if ((format & ios::uppercase) && field != ios::fixed)
    upcase(first, end);
  if ((format & ios::showpos) && *first != '-')
    *--first = '+';
  length = static_cast<std::size_t>(end - first);
  return first;
}

} // namespace

ostream& ostream::putInteger(unsigned long long magnitude, bool negative, bool isSigned, long format) {
  if (!opfx())
    return *this;
  long basefield = format & ios::basefield;
  char text[kIntegerRoom];
  char* digits = text + 3;
  int base = basefield == ios::oct ? 8 : basefield == ios::hex ? 16 : 10;
  char* end = base == 10 ? putDigits(digits, magnitude) : std::to_chars(digits, text + sizeof text, magnitude, base).ptr;
  char* first = digits;
  if (base == 10) {
    if (negative)
      *--first = '-';
    else if (isSigned && (format & ios::showpos))
      *--first = '+';
  } else {
    if (base == 16 && (format & ios::uppercase))
      upcase(digits, end);
    if ((format & ios::showbase) && magnitude != 0) {
      if (base == 16)
        *--first = (format & ios::uppercase) ? 'X' : 'x';
      *--first = '0';
    }
  }
  std::size_t length = static_cast<std::size_t>(end - first);
  putField(first, length, internalSplit(first, length));
  osfx();
  return *this;
}

// The common case in few instructions: a decimal number, no padding, a good
// untied stream and room in the put area. False when any of that fails.
template <class U> inline bool ostream::putDecimal(U magnitude, bool negative, bool isSigned) {
  ios& s = *this;
  long format = s.flags();
  long basefield = format & ios::basefield;
  streambuf* b = s.rdbuf();
  if (s.rdstate() != 0 || s.tie() || basefield == ios::oct || basefield == ios::hex || s.width() > 0 ||
      (format & ios::unitbuf) || b->pend() - b->pnext() < kMaxDecimal)
    return false;
  char* p = b->pnext();
  if (negative)
    *p++ = '-';
  else if (isSigned && (format & ios::showpos))
    *p++ = '+';
  b->pcommit(putDigits(p, magnitude));
  if (s.width() != 0)
    s.width(0);
  return true;
}

// Signed values in octal and hexadecimal are written as the bit pattern of
// their own width, without a sign, as the standard stream does; short and
// int count as signed long, so showpos applies to them as well.
template <class T> ostream& ostream::insertInteger(T n) {
  using U = std::make_unsigned_t<T>;
  constexpr bool isSigned = std::is_signed_v<T>;
  bool negative = isSigned && n < 0;
  U magnitude = negative ? static_cast<U>(static_cast<U>(0) - static_cast<U>(n)) : static_cast<U>(n);
  if (putDecimal(magnitude, negative, isSigned))
    return *this;
  long format = flags();
  long basefield = format & ios::basefield;
  if (isSigned && (basefield == ios::oct || basefield == ios::hex))
    return putInteger(static_cast<U>(n), false, true, format);
  return putInteger(magnitude, negative, isSigned, format);
}

ostream& ostream::operator<<(short n) { return insertInteger(n); }

ostream& ostream::operator<<(unsigned short n) { return insertInteger(n); }

ostream& ostream::operator<<(int n) { return insertInteger(n); }

ostream& ostream::operator<<(unsigned int n) { return insertInteger(n); }

ostream& ostream::operator<<(long n) { return insertInteger(n); }

ostream& ostream::operator<<(unsigned long n) { return insertInteger(n); }

ostream& ostream::operator<<(long long n) { return insertInteger(n); }

ostream& ostream::operator<<(unsigned long long n) { return insertInteger(n); }

ostream& ostream::operator<<(bool b) { return insertInteger(b ? 1L : 0L); }

ostream& ostream::operator<<(const void* p) {
  long format = (flags() & ~(ios::basefield | ios::uppercase)) | ios::hex | ios::showbase;
  return putInteger(reinterpret_cast<std::uintptr_t>(p), false, false, format);
}

template <class T> ostream& ostream::putFloating(T value) {
  if (!opfx())
    return *this;
  long format = flags();
  int digits = precision();
  std::size_t length = 0;
  char text[kFloatRoom];
  const char* first = formatFloating(text, sizeof text, value, format, digits, length);
  std::unique_ptr<char[]> big;
  if (!first) {
    // Long fixed output or a large precision: room for every digit of the
    // largest exponent, the precision and the decorations.
    int places = digits < 0 ? 6 : std::min(digits, kMaxPrecision<T>);
    std::size_t room = static_cast<std::size_t>(std::numeric_limits<T>::max_exponent10) +
                       static_cast<std::size_t>(places) + 64;
    big = std::make_unique_for_overwrite<char[]>(room);
    first = formatFloating(big.get(), room, value, format, digits, length);
  }
  if (first)
    putField(first, length, internalSplit(first, length));
  osfx();
  return *this;
}

// A float is written as the double it converts to, as the standard does.
ostream& ostream::operator<<(float f) { return putFloating(static_cast<double>(f)); }

ostream& ostream::operator<<(double d) { return putFloating(d); }

ostream& ostream::operator<<(long double d) { return putFloating(d); }
