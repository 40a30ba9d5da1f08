// The reading position of an istream inside its buffer's get area: input is
// scanned in place and the area is refilled only when it runs out.
#pragma once

#include "istream.hpp"

// Every operation that may reach the buffer (refill, commit) first writes
// the position back, so that an exception leaves the buffer consistent.
struct istream::ICursor {
  ICursor() = default;
  explicit ICursor(streambuf* buffer) : fBuffer(buffer), fNext(buffer->gnext()), fEnd(buffer->gend()) {}

  // The current character, refilling the area when it is used up; EOF at
  // the end of the input.
  int peek() { return fNext < fEnd ? static_cast<unsigned char>(*fNext) : refill(); }
  // Steps past the character that peek returned.
  void bump() { ++fNext; }
  // Hands the position back to the buffer.
  void commit() { fBuffer->gskip(fNext); }
  // A buffer whose underflow answers a character without making a get
  // area cannot be scanned in place; it counts as ended.
  int refill() {
    fBuffer->gskip(fNext);
    bool filled = fBuffer->gfill();
    fNext = fBuffer->gnext();
    fEnd = fBuffer->gend();
    return filled ? static_cast<unsigned char>(*fNext) : EOF;
  }

  streambuf* fBuffer = nullptr;
  const char* fNext = nullptr;
  const char* fEnd = nullptr;
};

// White space of the C locale.
inline bool isSpace(int c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// Skips white space; false (with eofbit and failbit) when the input ends first.
inline bool istream::skipSpace(ICursor& in) {
  const char* p = in.fNext;
  while (p < in.fEnd && isSpace(static_cast<unsigned char>(*p)))
    ++p;
  in.fNext = p;
  if (p < in.fEnd)
    return true;
  int c;
  while ((c = in.peek()) != EOF && isSpace(c))
    in.bump();
  if (c != EOF)
    return true;
  in.commit();
  setstate(eofbit | failbit);
  return false;
}

// ipfx(0) for the extractors, which go on scanning with the same cursor:
// white space is skipped here only, not in the prefix as well.
inline bool istream::beginField(ICursor& in) {
  if ((rdstate() != 0 || tie()) && !prepare(0, false))
    return false;
  in = ICursor(rdbuf());
  return !(flags() & skipws) || skipSpace(in);
}
