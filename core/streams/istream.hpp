// istream: formatted and unformatted input through a stream buffer.
//
// Extraction reads what the standard library's stream reads in the C locale
// and sets the same state bits, with two classic exceptions: with no base
// flag set (the classic default) an integer is read by the rules of C
// integer literals, and a number that cannot be read or does not fit its
// type sets failbit and leaves the variable as it was (the standard stream
// stores 0 or the type's limit). White space is skipped once per field.
// Input is scanned straight in the get area; the buffer is called only when
// the area runs out. Exceptions thrown by the buffer pass through unchanged.
// Not safe to use from two threads at once.
#pragma once

#include "ios.hpp"
#include "streambuf.hpp"

#include <cstddef>

class KELRT_API istream : virtual public ios {
public:
  // Reads through `buffer`, which it does not own.
  explicit istream(streambuf* buffer);
  virtual ~istream();

  // Input prefix: 0 (with failbit) when the stream is not good. Flushes the
  // tied stream unless `need` characters are already waiting. With `need`
  // 0 and skipws set, skips white space; running out of input on the way
  // sets eofbit and failbit and returns 0.
  int ipfx(int need = 0) {
    return rdstate() == 0 && !tie() && (need != 0 || !(flags() & skipws)) ? 1 : prepare(need);
  }
  void isfx() {}

  // The formatted extractors: ipfx() (white space skipped with skipws), then
  // the value; failbit when no value can be read, eofbit when the input ends.
  istream& operator>>(char& c);
  istream& operator>>(signed char& c) { return *this >> reinterpret_cast<char&>(c); }
  istream& operator>>(unsigned char& c) { return *this >> reinterpret_cast<char&>(c); }
  // A word into an array: at most N - 1 characters (fewer when width() is
  // set), always terminated. There is deliberately no form for a bare char*.
  template <std::size_t N> istream& operator>>(char (&s)[N]) { return getWord(s, N); }
  template <std::size_t N> istream& operator>>(signed char (&s)[N]) {
    return getWord(reinterpret_cast<char*>(s), N);
  }
  template <std::size_t N> istream& operator>>(unsigned char (&s)[N]) {
    return getWord(reinterpret_cast<char*>(s), N);
  }
  istream& operator>>(short& n);
  istream& operator>>(unsigned short& n);
  istream& operator>>(int& n);
  istream& operator>>(unsigned int& n);
  istream& operator>>(long& n);
  istream& operator>>(unsigned long& n);
  istream& operator>>(long long& n);
  istream& operator>>(unsigned long long& n);
  // As an integer: 0 or 1; other values give true and failbit.
  istream& operator>>(bool& b);
  istream& operator>>(float& f);
  istream& operator>>(double& d);
  istream& operator>>(long double& d);
  // Copies the rest of the input into `sink`.
  istream& operator>>(streambuf* sink);
  istream& operator>>(istream& (*manipulator)(istream&)) { return manipulator(*this); }
  istream& operator>>(ios& (*manipulator)(ios&)) {
    manipulator(*this);
    return *this;
  }

  // The unformatted operations skip no white space and count what they take
  // in gcount(). get(): the next character, or EOF (with eofbit and failbit).
  int get() {
    streambuf* b = rdbuf();
    if (rdstate() == 0 && !tie() && b->gnext() < b->gend()) {
      fGcount = 1;
      return b->sbumpc();
    }
    return getSlow();
  }
  istream& get(char& c) {
    int got = get();
    if (got != EOF)
      c = static_cast<char>(got);
    return *this;
  }
  istream& get(signed char& c) { return get(reinterpret_cast<char&>(c)); }
  istream& get(unsigned char& c) { return get(reinterpret_cast<char&>(c)); }
  // Up to n - 1 characters, stopping in front of `delim`; always terminated.
  istream& get(char* s, int n, char delim = '\n');
  istream& get(signed char* s, int n, char delim = '\n') { return get(reinterpret_cast<char*>(s), n, delim); }
  istream& get(unsigned char* s, int n, char delim = '\n') { return get(reinterpret_cast<char*>(s), n, delim); }
  istream& get(streambuf& sink, char delim = '\n');
  // As get, but extracts and drops the delimiter; failbit when the line
  // does not fit.
  istream& getline(char* s, int n, char delim = '\n');
  istream& getline(signed char* s, int n, char delim = '\n') {
    return getline(reinterpret_cast<char*>(s), n, delim);
  }
  istream& getline(unsigned char* s, int n, char delim = '\n') {
    return getline(reinterpret_cast<char*>(s), n, delim);
  }
  // Exactly n characters; fewer at the end of the input, with eofbit and failbit.
  istream& read(char* s, int n);
  istream& read(signed char* s, int n) { return read(reinterpret_cast<char*>(s), n); }
  istream& read(unsigned char* s, int n) { return read(reinterpret_cast<char*>(s), n); }
  // Skips up to n characters, up to and including `delim`.
  istream& ignore(int n = 1, int delim = EOF);
  // The next character, not taken; EOF (and eofbit) at the end.
  int peek();
  // Puts c (putback) or the last character read (unget) back in front of the
  // next one; clears eofbit, sets badbit when the buffer has no room.
  istream& putback(char c);
  istream& unget();
  // Characters taken by the last unformatted operation.
  int gcount() const { return fGcount; }
  // Moves the position (clearing eofbit); failbit when the buffer cannot.
  istream& seekg(streampos position);
  istream& seekg(streamoff offset, ios::seek_dir dir);
  // EOF when the stream has failed or the buffer cannot tell; at the end of
  // the input it still tells the position.
  streampos tellg();
  // Synchronises the buffer with its source: 0, or EOF (and badbit).
  int sync();

protected:
  istream();

private:
  // The std::string operations (iostring.hpp) reach the extraction through
  // it; the classic headers name no standard type. Instantiated for std::string.
  friend class IStringIO;
  template <class S> istream& extractString(S& s);
  // As the standard's getline into a string, this leaves gcount alone.
  template <class S> istream& getlineString(S& s, char delim);

  istream(const istream&);
  istream& operator=(const istream&);

  // Scans the get area and refills it through underflow.
  struct ICursor;

  // ipfx without its fast path; skips no white space when `skip` is false.
  int prepare(int need, bool skip = true);
  // The prefix of a formatted extraction that scans with `in` afterwards.
  KELRT_LOCAL bool beginField(ICursor& in);
  KELRT_LOCAL bool skipSpace(ICursor& in);
  int getSlow();
  istream& getWord(char* s, std::size_t size);
  // get and getline into an array; getline also extracts the delimiter.
  KELRT_LOCAL istream& getChars(char* s, int n, char delim, bool dropDelim);
  // The numeric extractors; short and int are read as long and narrowed.
  template <class T> KELRT_LOCAL istream& extractInteger(T& value);
  template <class T> KELRT_LOCAL istream& extractNarrow(T& value);
  template <class T> KELRT_LOCAL istream& extractFloating(T& value);

  int fGcount = 0;
};

// Skips white space; at the end of the input sets eofbit only.
KELRT_API istream& ws(istream& s);
