// The reading position of an istream inside its buffer's get area: input is
// scanned in place and the area is refilled only when it runs out.
#pragma once

#include "istream.hpp"

// Every operation that may reach the buffer (refill, commit) first writes
// the position back, so that an exception leaves the buffer consistent.
struct istream::ICursor {
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

  streambuf* fBuffer;
  char* fNext;
  char* fEnd;
};

// White space of the C locale.
inline bool isSpace(int c) { return c == ' ' || (c >= '\t' && c <= '\r'); }
