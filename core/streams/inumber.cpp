// The numeric extractors of istream. The characters accepted and the state
// bits are those of the standard's num_get in the C locale; the digits are
// converted by <charconv>, straight from the get area when a number lies
// inside it. As in the classic streams, a number that cannot be read or does
// not fit leaves the variable as it was (the standard stores 0 or a limit).
#include "istream.hpp"

#include "icursor.hpp"

#include <charconv>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <locale.h>
#include <string>
#include <type_traits>

namespace {

// More significant digits than any 64-bit value has in base 8.
constexpr std::size_t kMaxDigits = 64;

// An integer as read: its magnitude and sign, and how the reading ended.
struct IDigits {
  unsigned long long fMagnitude = 0;
  bool fNegative = false;
  bool fValid = false;    // a digit, or a lone leading zero, was seen
  bool fOverflow = false; // the magnitude exceeds 64 bits
  bool fEof = false;      // the input ended while reading
};

int digitValue(int c) {
  if (c >= '0' && c <= '9')
    return c - '0';
  if (c >= 'a' && c <= 'f')
    return c - 'a' + 10;
  if (c >= 'A' && c <= 'F')
    return c - 'A' + 10;
  return 99;
}

// Most numbers are decimal, at most 19 digits (which cannot overflow 64
// bits) and end inside the get area: read them here in one tight loop. False,
// with the cursor where it was, for any other number.
template <class Cursor> bool scanShortDecimal(Cursor& in, IDigits& d) {
  constexpr std::ptrdiff_t kSafeDigits = 19;
  const char* p = in.fNext;
  const char* end = in.fEnd;
  const char* last = end - p > kSafeDigits ? p + kSafeDigits : end;
  std::uint64_t v = 0;
  for (; p < last; ++p) {
    unsigned digit = static_cast<unsigned char>(*p) - static_cast<unsigned>('0');
    if (digit > 9)
      break;
    v = v * 10 + digit;
  }
  if (p == end || static_cast<unsigned>(static_cast<unsigned char>(*p) - '0') <= 9)
    return false;
  in.fNext = p;
  d.fMagnitude = v;
  d.fValid = true;
  return true;
}

// Sign, base prefix and digits. With no base flag the prefix decides, as
// in a C integer literal: 0x hexadecimal, 0 octal, else decimal; with hex
// set a 0x prefix is skipped.
template <class Cursor> IDigits scanInteger(Cursor& in, long basefield) {
  IDigits d;
  int base = basefield == ios::oct ? 8 : basefield == ios::hex ? 16 : 10;
  int c = in.peek();
  if (c == '-' || c == '+') {
    d.fNegative = c == '-';
    in.bump();
    c = in.peek();
  }
  if (c >= '1' && c <= '9' && basefield != ios::oct && basefield != ios::hex && scanShortDecimal(in, d))
    return d;
  bool foundZero = false;
  if (c == '0') {
    foundZero = true;
    if (basefield == 0)
      base = 8;
    in.bump();
    c = in.peek();
    if (base == 10) {
      while (c == '0') {
        in.bump();
        c = in.peek();
      }
    } else if ((c == 'x' || c == 'X') && (basefield == 0 || base == 16)) {
      base = 16;
      foundZero = false; // "0x" alone is no number
      in.bump();
      c = in.peek();
    }
  }
  if (c == EOF) {
    d.fEof = true;
    d.fValid = foundZero;
    return d;
  }

  // Most numbers end inside the get area: convert them where they lie.
  std::from_chars_result r = std::from_chars(in.fNext, in.fEnd, d.fMagnitude, base);
  if (r.ptr < in.fEnd) {
    d.fValid = foundZero || r.ptr != in.fNext;
    d.fOverflow = r.ec == std::errc::result_out_of_range;
    in.fNext = r.ptr;
    return d;
  }

  // The digits run to the end of the area: gather the significant ones
  // across refills.
  d.fMagnitude = 0;
  char digits[kMaxDigits];
  std::size_t n = 0;
  bool any = false;
  for (;;) {
    c = in.peek();
    if (c == EOF) {
      d.fEof = true;
      break;
    }
    if (digitValue(c) >= base)
      break;
    any = true;
    if (n > 0 || c != '0') {
      if (n < kMaxDigits)
        digits[n++] = static_cast<char>(c);
      else
        d.fOverflow = true;
    }
    in.bump();
  }
  if (n > 0 && std::from_chars(digits, digits + n, d.fMagnitude, base).ec == std::errc::result_out_of_range)
    d.fOverflow = true;
  d.fValid = foundZero || any;
  return d;
}

// Stores the value, negated in the type's own arithmetic when a minus sign
// came first; failbit, and the variable left alone, when no number was read
// or it does not fit. True when stored.
template <class T> bool storeInteger(const IDigits& d, T& value, int& state) {
  using U = std::make_unsigned_t<T>;
  constexpr bool isSigned = std::is_signed_v<T>;
  const unsigned long long limit = d.fNegative && isSigned
                                       ? static_cast<unsigned long long>(std::numeric_limits<T>::max()) + 1
                                       : static_cast<unsigned long long>(std::numeric_limits<T>::max());
  if (d.fEof)
    state |= ios::eofbit;
  if (!d.fValid || d.fOverflow || d.fMagnitude > limit) {
    state |= ios::failbit;
    return false;
  }
  if (d.fNegative)
    value = static_cast<T>(static_cast<U>(static_cast<U>(0) - static_cast<U>(d.fMagnitude)));
  else
    value = static_cast<T>(d.fMagnitude);
  return true;
}

// The characters of a floating-point number, kept on the stack unless the
// number is very long.
class INumberText {
public:
  void add(char c) {
    if (fLength < sizeof fSmall - 1) {
      fSmall[fLength++] = c;
      return;
    }
    if (fLarge.empty())
      fLarge.assign(fSmall, fLength);
    fLarge.push_back(c);
    ++fLength;
  }
  // Null-terminated.
  const char* data() {
    if (fLarge.empty()) {
      fSmall[fLength] = '\0';
      return fSmall;
    }
    return fLarge.c_str();
  }
  std::size_t size() const { return fLength; }

private:
  char fSmall[64];
  std::size_t fLength = 0;
  std::string fLarge;
};

// Collects what num_get collects: [sign] digits [. digits] [e [sign]
// digits], where an exponent needs a digit in front of it. True when the
// input ended.
template <class Cursor> bool scanFloating(Cursor& in, INumberText& text) {
  int c = in.peek();
  if (c == '+' || c == '-') {
    text.add(static_cast<char>(c));
    in.bump();
    c = in.peek();
  }
  bool foundMantissa = false;
  while (c == '0') {
    if (!foundMantissa) {
      text.add('0');
      foundMantissa = true;
    }
    in.bump();
    c = in.peek();
  }
  bool foundPoint = false;
  bool foundExponent = false;
  while (c != EOF) {
    if (c >= '0' && c <= '9') {
      text.add(static_cast<char>(c));
      foundMantissa = true;
    } else if (c == '.' && !foundPoint && !foundExponent) {
      text.add('.');
      foundPoint = true;
    } else if ((c == 'e' || c == 'E') && !foundExponent && foundMantissa) {
      text.add('e');
      foundExponent = true;
      in.bump();
      c = in.peek();
      if (c != '+' && c != '-')
        continue;
      text.add(static_cast<char>(c));
    } else {
      break;
    }
    in.bump();
    c = in.peek();
  }
  return c == EOF;
}

// The C locale, for the rare conversions that <charconv> leaves to strtod.
class ICLocale {
public:
  ICLocale() : fLocale(newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr))) {}
  ~ICLocale() {
    if (fLocale)
      freelocale(fLocale);
  }
  ICLocale(const ICLocale&) = delete;
  ICLocale& operator=(const ICLocale&) = delete;
  locale_t get() const { return fLocale; }

private:
  locale_t fLocale;
};

locale_t cLocale() {
  static const ICLocale locale;
  return locale.get();
}

template <class T> T cConvert(const char* s) {
  locale_t c = cLocale();
  if constexpr (std::is_same_v<T, float>)
    return c ? strtof_l(s, nullptr, c) : std::strtof(s, nullptr);
  else if constexpr (std::is_same_v<T, double>)
    return c ? strtod_l(s, nullptr, c) : std::strtod(s, nullptr);
  else
    return c ? strtold_l(s, nullptr, c) : std::strtold(s, nullptr);
}

// Stores the value, the nearest one (maybe 0 or subnormal) on underflow;
// failbit, and the variable left alone, for a malformed number and on
// overflow.
template <class T> void storeFloating(INumberText& text, T& value, int& state) {
  const char* first = text.data();
  const char* last = first + text.size();
  const char* digits = first < last && *first == '+' ? first + 1 : first;
  T v{};
  std::from_chars_result r = std::from_chars(digits, last, v);
  if (r.ptr != last || (r.ec != std::errc() && r.ec != std::errc::result_out_of_range)) {
    state |= ios::failbit;
    return;
  }
  if (r.ec == std::errc::result_out_of_range) {
    // <charconv> refuses results beyond the range, on both sides; strtod
    // gives the value the standard stream stores.
    v = cConvert<T>(first);
    if (v == std::numeric_limits<T>::infinity() || v == -std::numeric_limits<T>::infinity()) {
      state |= ios::failbit;
      return;
    }
  }
  value = v;
}

} // namespace

template <class T> istream& istream::extractInteger(T& value) {
  ICursor in;
  if (beginField(in)) {
    IDigits d = scanInteger(in, flags() & ios::basefield);
    in.commit();
    int state = 0;
    storeInteger(d, value, state);
    if (state)
      setstate(state);
  }
  return *this;
}

// short and int are read as long and then narrowed, as the standard does.
template <class T> istream& istream::extractNarrow(T& value) {
  ICursor in;
  if (beginField(in)) {
    IDigits d = scanInteger(in, flags() & ios::basefield);
    in.commit();
    int state = 0;
    long wide = 0;
    if (storeInteger(d, wide, state)) {
      if (wide < std::numeric_limits<T>::min() || wide > std::numeric_limits<T>::max())
        state |= ios::failbit;
      else
        value = static_cast<T>(wide);
    }
    if (state)
      setstate(state);
  }
  return *this;
}

template <class T> istream& istream::extractFloating(T& value) {
  ICursor in;
  if (beginField(in)) {
    INumberText text;
    bool ended = scanFloating(in, text);
    in.commit();
    int state = 0;
    storeFloating(text, value, state);
    if (ended)
      state |= ios::eofbit;
    if (state)
      setstate(state);
  }
  return *this;
}

istream& istream::operator>>(short& n) { return extractNarrow(n); }

istream& istream::operator>>(unsigned short& n) { return extractInteger(n); }

istream& istream::operator>>(int& n) { return extractNarrow(n); }

istream& istream::operator>>(unsigned int& n) { return extractInteger(n); }

istream& istream::operator>>(long& n) { return extractInteger(n); }

istream& istream::operator>>(unsigned long& n) { return extractInteger(n); }

istream& istream::operator>>(long long& n) { return extractInteger(n); }

istream& istream::operator>>(unsigned long long& n) { return extractInteger(n); }

istream& istream::operator>>(bool& b) {
  ICursor in;
  if (beginField(in)) {
    IDigits d = scanInteger(in, flags() & ios::basefield);
    in.commit();
    int state = 0;
    long wide = 0;
    if (storeInteger(d, wide, state)) {
      if (wide == 0 || wide == 1)
        b = wide == 1;
      else
        state |= ios::failbit;
    }
    if (state)
      setstate(state);
  }
  return *this;
}

istream& istream::operator>>(float& f) { return extractFloating(f); }

istream& istream::operator>>(double& d) { return extractFloating(d); }

istream& istream::operator>>(long double& d) { return extractFloating(d); }
