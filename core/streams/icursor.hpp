// The reading position of an istream inside its buffer's get area: input is
// scanned in place and the area is refilled only when it runs out.
#pragma once

#include "istream.hpp"

// Every operation that may reach the buffer (refill, commit) first writes
// the position back, so that an exception leaves the buffer consistent.
struct istream::ICursor {
  ICursor() = default;
  explicit ICursor(streambuf* buffer) : fBuffer(buffer), fNext(buffer->fGptr), fEnd(buffer->fEgptr) {}

  // The current character, refilling the area when it is used up; EOF at
  // the end of the input.
  int peek() { return fNext < fEnd ? static_cast<unsigned char>(*fNext) : refill(); }
  // Steps past the character that peek returned.
  void bump() { ++fNext; }
  // Hands the position back to the buffer.
  void commit() { fBuffer->fGptr = fNext; }
  // A buffer whose underflow answers a character without making a get
  // area cannot be scanned in place; it counts as ended.
  int refill() {
    fBuffer->fGptr = fNext;
    int c = fBuffer->underflow();
    fNext = fBuffer->fGptr;
    fEnd = fBuffer->fEgptr;
    if (c == EOF || fNext >= fEnd)
      return EOF;
    return static_cast<unsigned char>(*fNext);
  }

  streambuf* fBuffer = nullptr;
  char* fNext = nullptr;
  char* fEnd = nullptr;
};

// White space of the C locale.
inline bool isSpace(int c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// ipfx(0) for the extractors, which go on scanning with the same cursor.
inline bool istream::beginField(ICursor& in) {
  if ((rdstate() != 0 || tie()) && !prepare(0))
    return false;
  in = ICursor(rdbuf());
  if (flags() & skipws) {
    int c;
    while ((c = in.peek()) != EOF && isSpace(c))
      in.bump();
    if (c == EOF) {
      in.commit();
      setstate(eofbit | failbit);
      return false;
    }
  }
  return true;
}
