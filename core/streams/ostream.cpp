// The output plumbing of ostream: prefix and suffix, padded fields,
// characters, texts, buffers and the unformatted operations.
#include "ostream.hpp"

#include <algorithm>
#include <climits>
#include <cstring>
#include <string_view>

namespace {

// sputn takes an int count; longer texts go in pieces of this size.
constexpr std::size_t kMaxPiece = std::size_t{1} << 30;

// Writes [s, s + n) through sputn; false as soon as the buffer takes less.
bool putAll(streambuf* b, const char* s, std::size_t n) {
  while (n > 0) {
    int piece = static_cast<int>(std::min(n, kMaxPiece));
    if (b->sputn(s, piece) != piece)
      return false;
    s += piece;
    n -= static_cast<std::size_t>(piece);
  }
  return true;
}

bool putFill(streambuf* b, char fill, std::size_t n) {
  char chunk[64];
  std::memset(chunk, fill, sizeof chunk);
  while (n > 0) {
    int piece = static_cast<int>(std::min(n, sizeof chunk));
    if (b->sputn(chunk, piece) != piece)
      return false;
    n -= static_cast<std::size_t>(piece);
  }
  return true;
}

// memcpy, which must not see a null pointer even for no bytes.
void copyBytes(char* to, const char* from, std::size_t n) {
  if (n > 0)
    std::memcpy(to, from, n);
}

} // namespace

ostream::ostream(streambuf* buffer) { init(buffer); }

ostream::ostream() = default;

ostream::~ostream() = default;

int ostream::prepare() {
  if (good()) {
    ostream* tied = tie();
    if (tied && tied != this)
      tied->flush();
  }
  if (good())
    return 1;
  if (bad())
    setstate(failbit);
  return 0;
}

void ostream::flushUnit() {
  streambuf* b = rdbuf();
  if (b && b->sync() == EOF)
    setstate(badbit);
}

void ostream::putField(const char* text, std::size_t length, std::size_t split) {
  streambuf* b = rdbuf();
  int w = width();
  std::size_t pad = w > 0 && static_cast<std::size_t>(w) > length ? static_cast<std::size_t>(w) - length : 0;
  std::size_t total = length + pad;
  if (total > 0) {
    long adjust = flags() & adjustfield;
    std::size_t before = adjust == left ? length : adjust == internal ? split : 0;
    char* p = b->pnext();
    if (b->pend() - p >= static_cast<std::ptrdiff_t>(total)) {
      copyBytes(p, text, before);
      std::memset(p + before, fill(), pad);
      copyBytes(p + before + pad, text + before, length - before);
      b->pcommit(p + total);
    } else {
      putPieces(text, length, before, pad);
    }
  }
  width(0);
}

void ostream::putPieces(const char* text, std::size_t length, std::size_t before, std::size_t pad) {
  streambuf* b = rdbuf();
  if (!(putAll(b, text, before) && putFill(b, fill(), pad) && putAll(b, text + before, length - before)))
    setstate(badbit);
}

ostream& ostream::putPadded(char c) {
  if (opfx()) {
    putField(&c, 1, 0);
    osfx();
  }
  return *this;
}

ostream& ostream::operator<<(const char* s) {
  if (!s) {
    setstate(badbit);
    return *this;
  }
  return insertString(std::string_view(s));
}

template <class V> ostream& ostream::insertString(V s) {
  if (opfx()) {
    putField(s.data(), s.size(), 0);
    osfx();
  }
  return *this;
}

ostream& ostream::operator<<(streambuf* source) {
  if (!opfx()) {
    if (!source)
      setstate(badbit);
    return *this;
  }
  if (!source) {
    setstate(badbit);
    osfx();
    return *this;
  }
  bool ended = false;
  if (streambuf::copy(*source, *rdbuf(), EOF, ended) == 0)
    setstate(failbit);
  osfx();
  return *this;
}

ostream& ostream::putSlow(char c) {
  if (opfx()) {
    if (rdbuf()->sputc(static_cast<unsigned char>(c)) == EOF)
      setstate(badbit);
    osfx();
  }
  return *this;
}

ostream& ostream::write(const char* s, int n) {
  if (opfx()) {
    streambuf* b = rdbuf();
    char* p = b->pnext();
    if (n > 0 && b->pend() - p >= n) {
      std::memcpy(p, s, static_cast<std::size_t>(n));
      b->pcommit(p + n);
    } else if (b->sputn(s, n) != n) {
      setstate(badbit);
    }
    osfx();
  }
  return *this;
}

ostream& ostream::flush() {
  streambuf* b = rdbuf();
  if (b && opfx() && b->sync() == EOF)
    setstate(badbit);
  return *this;
}

ostream& ostream::seekp(streampos position) {
  opfx();
  if (!fail() && rdbuf()->seekpos(position, ios::out) == EOF)
    setstate(failbit);
  return *this;
}

ostream& ostream::seekp(streamoff offset, ios::seek_dir dir) {
  opfx();
  if (!fail() && rdbuf()->seekoff(offset, dir, ios::out) == EOF)
    setstate(failbit);
  return *this;
}

streampos ostream::tellp() {
  opfx();
  if (fail())
    return EOF;
  return rdbuf()->seekoff(0, ios::cur, ios::out);
}

ostream& endl(ostream& s) {
  s.put('\n');
  return s.flush();
}

ostream& ends(ostream& s) { return s.put('\0'); }

ostream& flush(ostream& s) { return s.flush(); }

template ostream& ostream::insertString(std::string_view);
