// IText: a text value (a path, a message); IHostPathName names a host path.
//
// A plain value that converts from the usual string types, so that a path
// can be passed as "notes.txt", a std::string or a std::string_view alike:
//   IFileIOStream s(std::string(folder) + "/notes.txt", ios::in, 0);
// Nothing here throws except on exhausted memory.
#pragma once

#include "kbexport.hpp"

#include <string>
#include <string_view>

class KELBASE_API IText {
public:
  // The empty text.
  IText() = default;
  // A copy of the characters; a null pointer gives the empty text.
  IText(const char* text) : fText(text ? text : "") {}
  IText(std::string text) : fText(std::move(text)) {}
  IText(std::string_view text) : fText(text) {}

  // The characters, NUL-terminated; valid while the text lives unchanged.
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
