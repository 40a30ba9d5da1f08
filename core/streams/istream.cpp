// The input plumbing of istream: prefix, characters, words, lines and the
// unformatted operations. State bits follow the standard stream's.
#include "istream.hpp"

#include "icursor.hpp"
#include "ostream.hpp"

#include <algorithm>
#include <climits>
#include <cstring>
#include <string>

istream::istream(streambuf* buffer) { init(buffer); }

istream::istream() = default;

istream::~istream() = default;

int istream::prepare(int need, bool skip) {
  if (!good()) {
    setstate(failbit);
    return 0;
  }
  // The tied stream is flushed only when this read may have to wait for
  // input, which is when the characters asked for are not at hand.
  if (ostream* tied = tie()) {
    if (need == 0 || rdbuf()->in_avail() < need) {
      tied->flush();
      if (!good()) {
        setstate(failbit);
        return 0;
      }
    }
  }
  if (skip && need == 0 && (flags() & skipws)) {
    ICursor in(rdbuf());
    if (!skipSpace(in))
      return 0;
    in.commit();
  }
  return 1;
}

int istream::getSlow() {
  fGcount = 0;
  int c = EOF;
  if (ipfx(1)) {
    c = rdbuf()->sbumpc();
    if (c == EOF)
      setstate(eofbit | failbit);
    else
      fGcount = 1;
  }
  return c;
}

istream& istream::operator>>(char& c) {
  ICursor in;
  if (beginField(in)) {
    int got = in.peek();
    if (got == EOF) {
      setstate(eofbit | failbit);
    } else {
      c = static_cast<char>(got);
      in.bump();
    }
    in.commit();
  }
  return *this;
}

istream& istream::getWord(char* s, std::size_t size) {
  std::size_t extracted = 0;
  int state = 0;
  ICursor in;
  if (beginField(in)) {
    std::size_t limit = size;
    int w = width();
    if (w > 0 && static_cast<std::size_t>(w) < limit)
      limit = static_cast<std::size_t>(w);
    while (extracted + 1 < limit) {
      int c = in.peek();
      if (c == EOF) {
        state |= eofbit;
        break;
      }
      if (isSpace(c))
        break;
      s[extracted++] = static_cast<char>(c);
      in.bump();
    }
    in.commit();
    s[extracted] = '\0';
    width(0);
  }
  if (extracted == 0)
    state |= failbit;
  if (state)
    setstate(state);
  return *this;
}

template <class S> istream& istream::extractString(S& s) {
  std::size_t extracted = 0;
  int state = 0;
  ICursor in;
  if (beginField(in)) {
    s.clear();
    int w = width();
    std::size_t limit = w > 0 ? static_cast<std::size_t>(w) : s.max_size();
    while (extracted < limit) {
      int c = in.peek();
      if (c == EOF) {
        state |= eofbit;
        break;
      }
      if (isSpace(c))
        break;
      const char* start = in.fNext;
      const char* p = start;
      std::size_t room = limit - extracted;
      while (p < in.fEnd && room > 0 && !isSpace(static_cast<unsigned char>(*p))) {
        ++p;
        --room;
      }
      in.fNext = p;
      in.commit();
      s.append(start, static_cast<std::size_t>(p - start));
      extracted += static_cast<std::size_t>(p - start);
    }
    in.commit();
    width(0);
  }
  if (extracted == 0)
    state |= failbit;
  if (state)
    setstate(state);
  return *this;
}

istream& istream::operator>>(streambuf* sink) {
  int state = 0;
  if (ipfx(0) && sink) {
    bool ended = false;
    if (streambuf::copy(*rdbuf(), *sink, EOF, ended) == 0)
      state |= failbit;
    if (ended)
      state |= eofbit;
  } else if (!sink) {
    state |= failbit;
  }
  if (state)
    setstate(state);
  return *this;
}

istream& istream::getChars(char* s, int n, char delim, bool dropDelim) {
  fGcount = 0;
  int state = 0;
  std::size_t stored = 0;
  if (ipfx(1)) {
    const int stop = static_cast<unsigned char>(delim);
    std::size_t limit = n > 0 ? static_cast<std::size_t>(n) - 1 : 0;
    ICursor in(rdbuf());
    int c;
    for (;;) {
      c = in.peek();
      if (c == EOF || stored >= limit)
        break;
      std::size_t span = std::min(static_cast<std::size_t>(in.fEnd - in.fNext), limit - stored);
      const char* hit = static_cast<const char*>(std::memchr(in.fNext, stop, span));
      std::size_t take = hit ? static_cast<std::size_t>(hit - in.fNext) : span;
      std::memcpy(s + stored, in.fNext, take);
      stored += take;
      in.fNext += take;
      if (hit) {
        c = stop;
        break;
      }
    }
    int count = static_cast<int>(stored);
    if (c == EOF) {
      state |= eofbit;
    } else if (dropDelim) {
      if (c == stop) {
        in.bump();
        ++count;
      } else {
        state |= failbit;
      }
    }
    in.commit();
    fGcount = count;
  }
  if (n > 0)
    s[stored] = '\0';
  if (fGcount == 0)
    state |= failbit;
  if (state)
    setstate(state);
  return *this;
}

istream& istream::get(char* s, int n, char delim) { return getChars(s, n, delim, false); }

istream& istream::getline(char* s, int n, char delim) { return getChars(s, n, delim, true); }

istream& istream::get(streambuf& sink, char delim) {
  fGcount = 0;
  int state = 0;
  if (ipfx(1)) {
    bool ended = false;
    long long copied = streambuf::copy(*rdbuf(), sink, static_cast<unsigned char>(delim), ended);
    if (ended)
      state |= eofbit;
    fGcount = static_cast<int>(std::min<long long>(copied, INT_MAX));
  }
  if (fGcount == 0)
    state |= failbit;
  if (state)
    setstate(state);
  return *this;
}

template <class S> istream& istream::getlineString(S& s, char delim) {
  int state = 0;
  std::size_t extracted = 0;
  if (ipfx(1)) {
    const int stop = static_cast<unsigned char>(delim);
    s.clear();
    ICursor in(rdbuf());
    for (;;) {
      if (in.peek() == EOF) {
        state |= eofbit;
        break;
      }
      const char* start = in.fNext;
      std::size_t avail = static_cast<std::size_t>(in.fEnd - start);
      const char* hit = static_cast<const char*>(std::memchr(start, stop, avail));
      std::size_t take = hit ? static_cast<std::size_t>(hit - start) : avail;
      in.fNext = hit ? start + take + 1 : start + take;
      in.commit();
      s.append(start, take);
      extracted += hit ? take + 1 : take;
      if (hit)
        break;
    }
    in.commit();
  }
  if (extracted == 0)
    state |= failbit;
  if (state)
    setstate(state);
  return *this;
}

istream& istream::read(char* s, int n) {
  fGcount = 0;
  if (ipfx(1)) {
    streambuf* b = rdbuf();
    int got;
    const char* next = b->gnext();
    if (n > 0 && b->gend() - next >= n) {
      std::memcpy(s, next, static_cast<std::size_t>(n));
      b->gskip(next + n);
      got = n;
    } else {
      got = b->sgetn(s, n);
    }
    fGcount = got;
    if (got != n)
      setstate(eofbit | failbit);
  }
  return *this;
}

istream& istream::ignore(int n, int delim) {
  fGcount = 0;
  if (ipfx(1) && n > 0) {
    int state = 0;
    int count = 0;
    ICursor in(rdbuf());
    while (count < n) {
      if (in.peek() == EOF) {
        state |= eofbit;
        break;
      }
      std::size_t span = std::min(static_cast<std::size_t>(in.fEnd - in.fNext), static_cast<std::size_t>(n - count));
      const char* hit = delim >= 0 && delim <= UCHAR_MAX
                            ? static_cast<const char*>(std::memchr(in.fNext, delim, span))
                            : nullptr;
      if (hit) {
        count += static_cast<int>(hit - in.fNext) + 1;
        in.fNext += (hit - in.fNext) + 1;
        break;
      }
      count += static_cast<int>(span);
      in.fNext += span;
    }
    in.commit();
    fGcount = count;
    if (state)
      setstate(state);
  }
  return *this;
}

int istream::peek() {
  fGcount = 0;
  int c = EOF;
  if (ipfx(1)) {
    c = rdbuf()->sgetc();
    if (c == EOF)
      setstate(eofbit);
  }
  return c;
}

istream& istream::putback(char c) {
  fGcount = 0;
  clear(rdstate() & ~eofbit);
  if (ipfx(1)) {
    if (rdbuf()->sputbackc(c) == EOF)
      setstate(badbit);
  }
  return *this;
}

istream& istream::unget() {
  fGcount = 0;
  clear(rdstate() & ~eofbit);
  if (ipfx(1)) {
    if (rdbuf()->sungetc() == EOF)
      setstate(badbit);
  }
  return *this;
}

istream& istream::seekg(streampos position) {
  clear(rdstate() & ~eofbit);
  if (!fail() && rdbuf()->seekpos(position, ios::in) == EOF)
    setstate(failbit);
  return *this;
}

istream& istream::seekg(streamoff offset, ios::seek_dir dir) {
  clear(rdstate() & ~eofbit);
  if (!fail() && rdbuf()->seekoff(offset, dir, ios::in) == EOF)
    setstate(failbit);
  return *this;
}

streampos istream::tellg() {
  if (fail())
    return EOF;
  return rdbuf()->seekoff(0, ios::cur, ios::in);
}

int istream::sync() {
  streambuf* b = rdbuf();
  if (!b)
    return EOF;
  if (b->sync() == EOF) {
    setstate(badbit);
    return EOF;
  }
  return 0;
}

istream& ws(istream& s) {
  if (s.ipfx(1)) {
    streambuf* b = s.rdbuf();
    int c = b->sgetc();
    while (c != EOF && isSpace(c))
      c = b->snextc();
    if (c == EOF)
      s.setstate(ios::eofbit);
  }
  return s;
}

template istream& istream::extractString(std::string&);
template istream& istream::getlineString(std::string&, char);
