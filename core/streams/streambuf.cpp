// The out-of-line parts of streambuf: the slow paths of the character
// operations, the bulk transfers and the do-nothing defaults.
#include "streambuf.hpp"

#include <algorithm>
#include <climits>
#include <cstring>

namespace {

constexpr int kReserveSize = 1024;
// The piece that a buffer copied into itself moves at a time.
constexpr std::ptrdiff_t kSelfPiece = 4096;

} // namespace

streambuf::streambuf() = default;

streambuf::~streambuf() {
  if (fOwnsReserve)
    delete[] fBase;
}

int streambuf::bumpSlow() {
  int c = underflow();
  if (c != EOF && fGptr < fEgptr)
    ++fGptr;
  return c;
}

int streambuf::nextSlow() {
  // Step past the current character (reading it first when the get area is
  // empty), then look at the one after it.
  if (fGptr < fEgptr)
    ++fGptr;
  else if (bumpSlow() == EOF)
    return EOF;
  return sgetc();
}

int streambuf::putSlow(int c) { return overflow(c) == EOF ? EOF : c; }

int streambuf::putBackSlow(int c) {
  int answer = pbackfail(c);
  return answer == EOF || (answer == 0 && c != 0) ? EOF : c;
}

void streambuf::setb(char* b, char* eb, int owned) {
  if (fOwnsReserve && fBase != b)
    delete[] fBase;
  fBase = b;
  fEbuf = eb;
  fOwnsReserve = owned != 0;
}

int streambuf::allocate() {
  if (fBase || fUnbuffered)
    return 0;
  return doallocate();
}

int streambuf::doallocate() {
  char* reserve = new char[kReserveSize];
  setb(reserve, reserve + kReserveSize, 1);
  return 1;
}

int streambuf::overflow(int) { return EOF; }

int streambuf::underflow() { return EOF; }

int streambuf::pbackfail(int) { return EOF; }

int streambuf::sync() { return out_waiting() == 0 && in_avail() == 0 ? 0 : EOF; }

streampos streambuf::seekoff(streamoff, ios::seek_dir, int) { return EOF; }

streampos streambuf::seekpos(streampos position, int mode) { return seekoff(position, ios::beg, mode); }

int streambuf::xsputn(const char* s, int n) {
  int done = 0;
  while (done < n) {
    std::ptrdiff_t room = fEpptr - fPptr;
    if (room > 0 && fPptr) {
      int chunk = static_cast<int>(std::min<std::ptrdiff_t>(room, n - done));
      // s may lie in this buffer's own storage (a get area over the same array).
      std::memmove(fPptr, s + done, static_cast<std::size_t>(chunk));
      fPptr += chunk;
      done += chunk;
    } else if (overflow(EOF) == EOF || fPptr >= fEpptr || !fPptr) {
      if (overflow(static_cast<unsigned char>(s[done])) == EOF)
        break;
      ++done;
    }
  }
  return done;
}

int streambuf::xsgetn(char* s, int n) {
  int done = 0;
  while (done < n) {
    std::ptrdiff_t avail = fEgptr - fGptr;
    if (avail > 0 && fGptr) {
      int chunk = static_cast<int>(std::min<std::ptrdiff_t>(avail, n - done));
      std::memmove(s + done, fGptr, static_cast<std::size_t>(chunk));
      fGptr += chunk;
      done += chunk;
    } else {
      int c = underflow();
      if (c == EOF)
        break;
      if (fGptr && fGptr < fEgptr)
        continue;
      s[done++] = static_cast<char>(c);
    }
  }
  return done;
}

streambuf* streambuf::setbuf(char* p, int length) {
  if (p && length > 0) {
    setb(p, p + length, 0);
    fUnbuffered = false;
  } else {
    setb(nullptr, nullptr, 0);
    fUnbuffered = true;
  }
  return this;
}

long long streambuf::copy(streambuf& from, streambuf& to, int delim, bool& ended) {
  // Writing to a buffer may move or reuse its get area, so a buffer copied
  // into itself gives each piece up before putting it back.
  const bool self = &from == &to;
  char bounce[kSelfPiece];
  long long copied = 0;
  ended = false;
  for (;;) {
    if (!from.gfill()) {
      ended = true;
      break;
    }
    const char* start = from.gnext();
    std::ptrdiff_t span = from.gend() - start;
    const char* hit = nullptr;
    if (delim != EOF) {
      hit = static_cast<const char*>(std::memchr(start, delim, static_cast<std::size_t>(span)));
      if (hit)
        span = hit - start;
      if (span == 0)
        break;
    }
    int piece = static_cast<int>(std::min<std::ptrdiff_t>(span, self ? kSelfPiece : INT_MAX));
    int put;
    if (self) {
      std::memcpy(bounce, start, static_cast<std::size_t>(piece));
      from.gskip(start + piece);
      put = to.sputn(bounce, piece);
    } else {
      put = to.sputn(start, piece);
      if (put > 0)
        from.gskip(start + put);
    }
    copied += put;
    if (put < piece || (hit && put == span))
      break;
  }
  return copied;
}
