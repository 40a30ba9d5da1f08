// ostream: formatted and unformatted output through a stream buffer.
//
// Numbers come out byte for byte as the standard library's stream writes
// them in the C locale for the same flags, width, precision and fill, with
// two classic exceptions: fixed and scientific together select the general
// format (%g), not hexadecimal; a precision beyond the places that hold
// every digit of the exact value (1076 for a double, 16447 for a long
// double) writes what that many places write, so any precision is safe and
// needs bounded memory. When the put area has room a whole field is copied
// into it at once; the buffer is called only when the area runs out. Exceptions thrown by the buffer
// pass through unchanged. Not safe to use from two threads at once.
#pragma once

#include "ios.hpp"
#include "streambuf.hpp"

#include <cstddef>

class KELRT_API ostream : virtual public ios {
public:
  // Writes through `buffer`, which it does not own.
  explicit ostream(streambuf* buffer);
  virtual ~ostream();

  // Output prefix: 0 when the stream is not good (a bad stream then also
  // gets failbit); otherwise flushes the tied stream and returns 1.
  int opfx() { return rdstate() == 0 && !tie() ? 1 : prepare(); }
  // Output suffix: flushes the buffer when unitbuf is set.
  void osfx() {
    if (flags() & unitbuf)
      flushUnit();
  }

  // The inserters: opfx(), the field padded to width() (which goes back to
  // 0), osfx(); badbit when the buffer takes less than the whole field.
  ostream& operator<<(char c) { return width() == 0 ? put(c) : putPadded(c); }
  ostream& operator<<(signed char c) { return *this << static_cast<char>(c); }
  ostream& operator<<(unsigned char c) { return *this << static_cast<char>(c); }
  ostream& operator<<(short n);
  ostream& operator<<(unsigned short n);
  ostream& operator<<(int n);
  ostream& operator<<(unsigned int n);
  ostream& operator<<(long n);
  ostream& operator<<(unsigned long n);
  ostream& operator<<(long long n);
  ostream& operator<<(unsigned long long n);
  // As the integer 1 or 0.
  ostream& operator<<(bool b);
  ostream& operator<<(float f);
  ostream& operator<<(double d);
  ostream& operator<<(long double d);
  // A null pointer sets badbit and writes nothing.
  ostream& operator<<(const char* s);
  ostream& operator<<(const signed char* s) { return *this << reinterpret_cast<const char*>(s); }
  ostream& operator<<(const unsigned char* s) { return *this << reinterpret_cast<const char*>(s); }
  ostream& operator<<(const void* p);
  // Copies everything `source` delivers; failbit when it delivers nothing.
  // The stream's own buffer as `source` is copied as streambuf::copy says.
  ostream& operator<<(streambuf* source);
  ostream& operator<<(ostream& (*manipulator)(ostream&)) { return manipulator(*this); }
  ostream& operator<<(ios& (*manipulator)(ios&)) {
    manipulator(*this);
    return *this;
  }

  // put and write: the characters as they are, no padding; badbit when the
  // buffer takes less.
  ostream& put(char c) {
    streambuf* b = rdbuf();
    if (rdstate() == 0 && !tie() && !(flags() & unitbuf) && b->pnext() < b->pend()) {
      char* p = b->pnext();
      *p = c;
      b->pcommit(p + 1);
      return *this;
    }
    return putSlow(c);
  }
  ostream& write(const char* s, int n);
  ostream& write(const signed char* s, int n) { return write(reinterpret_cast<const char*>(s), n); }
  ostream& write(const unsigned char* s, int n) { return write(reinterpret_cast<const char*>(s), n); }
  // Has the buffer write what is pending (sync); badbit when it fails.
  ostream& flush();
  // Moves the position; failbit when the buffer cannot.
  ostream& seekp(streampos position);
  ostream& seekp(streamoff offset, ios::seek_dir dir);
  // EOF when the stream has failed or the buffer cannot tell.
  streampos tellp();

protected:
  ostream();

private:
  // The std::string operations (iostring.hpp) reach the insertion through
  // it; the classic headers name no standard type. Instantiated for std::string_view.
  friend class IStringIO;
  template <class V> ostream& insertString(V s);

  ostream(const ostream&);
  ostream& operator=(const ostream&);

  int prepare();
  void flushUnit();
  ostream& putSlow(char c);
  ostream& putPadded(char c);
  // Writes `text` padded to width() with the fill character; for internal
  // adjustment the padding goes after the first `split` characters (a sign
  // or a 0x). Resets the width. Sets badbit when the buffer takes less.
  KELRT_LOCAL void putField(const char* text, std::size_t length, std::size_t split);
  // The slow path of putField: `before` characters, the padding, the rest.
  KELRT_LOCAL void putPieces(const char* text, std::size_t length, std::size_t before, std::size_t pad);
  // The integer inserters: `magnitude` is the value without its sign,
  // formatted by the flags `format`.
  KELRT_LOCAL ostream& putInteger(unsigned long long magnitude, bool negative, bool isSigned, long format);
  template <class T> KELRT_LOCAL ostream& insertInteger(T n);
  template <class U> KELRT_LOCAL bool putDecimal(U magnitude, bool negative, bool isSigned);
  template <class T> KELRT_LOCAL ostream& putFloating(T value);
};

// Writes a newline and flushes.
KELRT_API ostream& endl(ostream& s);
// Writes a null character.
KELRT_API ostream& ends(ostream& s);
KELRT_API ostream& flush(ostream& s);
