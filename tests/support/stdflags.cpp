// Translations between the classic stream values and the standard library's.
#include "stdflags.hpp"

#include <cstdio>
#include <utility>

namespace {

struct IFlagName {
  long fClassic;
  std::ios_base::fmtflags fStd;
  const char* fName;
};

const IFlagName kFlags[] = {
    {ios::skipws, std::ios_base::skipws, "skipws"},
    {ios::left, std::ios_base::left, "left"},
    {ios::right, std::ios_base::right, "right"},
    {ios::internal, std::ios_base::internal, "internal"},
    {ios::dec, std::ios_base::dec, "dec"},
    {ios::oct, std::ios_base::oct, "oct"},
    {ios::hex, std::ios_base::hex, "hex"},
    {ios::showbase, std::ios_base::showbase, "showbase"},
    {ios::showpoint, std::ios_base::showpoint, "showpoint"},
    {ios::uppercase, std::ios_base::uppercase, "uppercase"},
    {ios::showpos, std::ios_base::showpos, "showpos"},
    {ios::scientific, std::ios_base::scientific, "scientific"},
    {ios::fixed, std::ios_base::fixed, "fixed"},
    {ios::unitbuf, std::ios_base::unitbuf, "unitbuf"},
};

} // namespace

std::ios_base::fmtflags toStdFlags(long flags) {
  std::ios_base::fmtflags result{};
  for (const IFlagName& f : kFlags)
    if (flags & f.fClassic)
      result |= f.fStd;
  if ((result & std::ios_base::floatfield) == std::ios_base::floatfield)
    result &= ~std::ios_base::floatfield;
  return result;
}

int fromStdState(std::ios_base::iostate state) {
  int result = 0;
  if (state & std::ios_base::eofbit)
    result |= ios::eofbit;
  if (state & std::ios_base::failbit)
    result |= ios::failbit;
  if (state & std::ios_base::badbit)
    result |= ios::badbit;
  return result;
}

std::string describeFlags(long flags) {
  std::string text;
  for (const IFlagName& f : kFlags)
    if (flags & f.fClassic)
      text += (text.empty() ? "" : "|") + std::string(f.fName);
  return text.empty() ? "0" : text;
}

std::string describeState(int state) {
  std::string text;
  if (state & ios::eofbit)
    text += "eof ";
  if (state & ios::failbit)
    text += "fail ";
  if (state & ios::badbit)
    text += "bad ";
  return text.empty() ? "good" : text.substr(0, text.size() - 1);
}

std::string quoted(const std::string& text) {
  std::string out = "\"";
  for (unsigned char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20 || c >= 0x7f) {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02x", c);
      out += hex;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}
