// IText: a text value (a path, a message); IHostPathName names a host path.
#pragma once

#include "kbexport.hpp"

#include <string>
#include <string_view>

class KELBASE_API IText {
public:
  IText() = default;
  IText(const char* text) : fText(text ? text : "") {}
  IText(std::string text) : fText(std::move(text)) {}
  IText(std::string_view text) : fText(text) {}

  const char* c_str() const { return fText.c_str(); }
  const std::string& str() const { return fText; }
  std::size_t length() const { return fText.size(); }
  bool empty() const { return fText.empty(); }
  operator const std::string&() const { return fText; }

  friend bool operator==(const IText&, const IText&) = default;

private:
  std::string fText; // may hold embedded NULs: the name parser rejects those
};

using IHostPathName = IText;
