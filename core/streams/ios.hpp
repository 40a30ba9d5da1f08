// ios: the state, format and buffer of a classic stream, the virtual base of
// istream and ostream.
//
// A program meets it through a stream: s.setf(ios::hex, ios::basefield),
// s.width(8), if (!s) ..., s.clear(). The state bits say what the last
// operations met: eofbit the end of the input, failbit a field that could not
// be read or written, badbit a buffer that failed. Nothing here throws; the
// buffer's exceptions pass through the stream operations unchanged.
#pragma once

#include "krexport.hpp"

#include "iowner.hpp"

#include <cstdio> // EOF

class streambuf;
class ostream;

// Positions and offsets are 64-bit: a file position beyond 2 GiB is exact.
typedef long long streamoff;
typedef long long streampos;

class KELRT_API ios {
public:
  enum io_state { goodbit = 0, eofbit = 1, failbit = 2, badbit = 4, hardfail = 128 };
  enum open_mode {
    in = 1, out = 2, ate = 4, app = 8, trunc = 16,
    nocreate = 32, noreplace = 64, bin = 128, binary = 128
  };
  enum seek_dir { beg = 0, cur = 1, end = 2 };
  enum {
    skipws = 0x1, left = 0x2, right = 0x4, internal = 0x8,
    dec = 0x10, oct = 0x20, hex = 0x40,
    showbase = 0x80, showpoint = 0x100, uppercase = 0x200, showpos = 0x400,
    scientific = 0x800, fixed = 0x1000, unitbuf = 0x2000, stdio = 0x4000
  };
  static constexpr long basefield = dec | oct | hex;
  static constexpr long adjustfield = left | right | internal;
  static constexpr long floatfield = scientific | fixed;

  // Uses `buffer` (not owned; null gives badbit) with the default format:
  // skipws, width 0, precision 6, fill ' ', no tie.
  explicit ios(streambuf* buffer);
  virtual ~ios();

  // The format flags. Each setter returns the flags as they were: flags(bits)
  // replaces them all, setf(bits) adds bits, setf(bits, field) replaces the
  // bits of `field` (basefield, adjustfield, floatfield), unsetf removes.
  long flags() const { return fFlags; }
  long flags(long bits) { long old = fFlags; fFlags = bits; return old; }
  long setf(long bits) { long old = fFlags; fFlags |= bits; return old; }
  long setf(long bits, long field) { long old = fFlags; fFlags = (fFlags & ~field) | (bits & field); return old; }
  long unsetf(long bits) { long old = fFlags; fFlags &= ~bits; return old; }

  // The minimum width of the next formatted field only (0: no padding); the
  // fill pads it; precision is the digits of a floating-point number. Each
  // setter returns the old value.
  int width() const { return fWidth; }
  int width(int w) { int old = fWidth; fWidth = w; return old; }
  char fill() const { return fFill; }
  char fill(char c) { char old = fFill; fFill = c; return old; }
  int precision() const { return fPrecision; }
  int precision(int p) { int old = fPrecision; fPrecision = p; return old; }

  // The stream flushed before this one writes, or reads with no characters
  // waiting; null for none.
  ostream* tie() const { return fTie; }
  ostream* tie(ostream* s) { ostream* old = fTie; fTie = s; return old; }

  // The buffer, not owned by the stream.
  streambuf* rdbuf() const { return fBuffer; }

  int rdstate() const { return fState; }
  // Sets the state to `state`; without a buffer badbit is always set.
  void clear(int state = 0) { fState = fBuffer ? state : state | badbit; }
  void setstate(int bits) { clear(fState | bits); }
  // good: no bit set; eof: eofbit; fail: failbit, badbit or hardfail;
  // bad: badbit or hardfail. A stream tests true while fail() is 0.
  int good() const { return fState == 0; }
  int eof() const { return fState & eofbit; }
  int fail() const { return fState & (failbit | badbit | hardfail); }
  int bad() const { return fState & (badbit | hardfail); }
  operator void*() const { return fail() ? nullptr : const_cast<ios*>(this); }
  int operator!() const { return fail(); }

  // The standard streams in step with C stdio (the default): cout, cerr and
  // clog write through stdout and stderr, cin and stdin read each byte once.
  // sync_with_stdio(false) gives them buffers of their own, which is faster
  // (cin's only once neither it nor stdin holds bytes unread); it answers
  // whether they were in step. Pending output is written first.
  static void sync_with_stdio();
  static bool sync_with_stdio(bool inStep);

  // Per-stream user words: xalloc hands out a new index for iword and pword,
  // whose words start at 0 (null). They throw nothing: an index that cannot
  // be served (negative, or more than 4096 beyond the last one xalloc handed
  // out) or a word that memory cannot be found for sets badbit and gives a
  // scratch word, reset to 0 on each such call.
  static int xalloc();
  long& iword(int index);
  void*& pword(int index);

protected:
  ios();
  // Attaches `buffer` and resets state and format to their defaults.
  void init(streambuf* buffer);

private:
  ios(const ios&);
  ios& operator=(const ios&);

  struct IUserWords;
  IUserWords* userWords();

  streambuf* fBuffer;
  ostream* fTie;
  long fFlags;
  int fState;
  int fWidth;
  int fPrecision;
  char fFill;
  IOwner<IUserWords> fUserWords; // made on the first iword or pword
};

// Base manipulators: select decimal, octal or hexadecimal conversion.
KELRT_API ios& dec(ios& s);
KELRT_API ios& hex(ios& s);
KELRT_API ios& oct(ios& s);
