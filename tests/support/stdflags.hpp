// Translations between the classic stream values and the standard
// library's, for tests that compare the classic streams with std streams.
#pragma once

#include "ios.hpp"

#include <cmath>
#include <cstdio>
#include <ios>
#include <string>
#include <type_traits>

// The standard format flags with the same meaning as the classic `flags`.
// fixed and scientific together, the general format in the classic streams
// (hexadecimal in the standard ones since 2011), become neither.
std::ios_base::fmtflags toStdFlags(long flags);
// The classic state bits with the same meaning as the standard `state`.
int fromStdState(std::ios_base::iostate state);
// "hex|showbase|left" and the like, for failure messages.
std::string describeFlags(long flags);
std::string describeState(int state);
// The text with control characters escaped, quoted.
std::string quoted(const std::string& text);

// Whether two extracted values agree: NaNs match, and so must the sign of a zero.
template <class T> bool sameValue(const T& a, const T& b) {
  if constexpr (std::is_floating_point_v<T>)
    return (std::isnan(a) && std::isnan(b)) || (a == b && std::signbit(a) == std::signbit(b));
  else
    return a == b;
}

// What a classic stream leaves in a number that the standard stream stored
// as `stored` from `initial`, ending with `state`: the standard stores 0 or a
// limit with failbit, the classic streams leave the variable as it was.
template <class T> T classicNumber(const T& stored, const T& initial, std::ios_base::iostate state) {
  if constexpr (std::is_arithmetic_v<T> && !std::is_same_v<T, char> && !std::is_same_v<T, signed char> &&
                !std::is_same_v<T, unsigned char>)
    return (state & std::ios_base::failbit) ? initial : stored;
  else
    return stored;
}

// A value as a failure message shows it: floating point with every digit.
template <class T> std::string show(const T& v) {
  if constexpr (std::is_floating_point_v<T>) {
    char text[64];
    std::snprintf(text, sizeof text, "%.21Lg", static_cast<long double>(v));
    return text;
  } else if constexpr (std::is_same_v<T, std::string>) {
    return quoted(v);
  } else {
    return std::to_string(v);
  }
}
