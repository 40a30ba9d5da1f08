// The std::string and std::string_view operations of the classic streams:
// >> and getline into a std::string, << of a std::string or std::string_view.
//
//   #include "iostring.hpp"
//   std::string name;
//   getline(cin, name);
//   cout << "hello, " << name << endl;
//
// Apart from the classic headers (iostream.h, iomanip.h, fstream.h), which
// name no standard type, so that a classic program with a string class of its
// own, or one that says `using namespace std;`, sees no second one.
// ifilestr.hpp includes this header.
#pragma once

#include "iostream.hpp"

#include <string>
#include <string_view>

// The runtime's door to the stream internals these operations use.
class IStringIO {
public:
  static istream& extract(istream& in, std::string& s) { return in.extractString(s); }
  static istream& getline(istream& in, std::string& s, char delim) { return in.getlineString(s, delim); }
  static ostream& insert(ostream& out, std::string_view s) { return out.insertString(s); }
};

// A word: white space skipped first (with skipws), then up to width()
// characters (all when 0) before the next white space; failbit when none.
inline istream& operator>>(istream& in, std::string& s) { return IStringIO::extract(in, s); }
// A line, the delimiter extracted and dropped; failbit when nothing was
// taken. Leaves gcount alone, as the standard's getline into a string does.
inline istream& getline(istream& in, std::string& s, char delim = '\n') { return IStringIO::getline(in, s, delim); }
// The characters padded to width() as any field.
inline ostream& operator<<(ostream& out, std::string_view s) { return IStringIO::insert(out, s); }
inline ostream& operator<<(ostream& out, const std::string& s) { return IStringIO::insert(out, s); }
