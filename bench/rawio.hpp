// The raw peer's buffers: one 4096-byte array between the program and
// read(2)/write(2), as a stream buffer under this library's rules has.
#pragma once

#include "sysio.hpp"

#include <algorithm>
#include <cstring>

inline constexpr std::size_t kRawBlock = 4096;

// IRawWriter: output collected in one array and written in full blocks.
class IRawWriter {
public:
  explicit IRawWriter(IDescriptor& file) : fFile(file), fUsed(0) {}

  // Room to format in place; commit() what was put there.
  char* next() { return fBuffer + fUsed; }
  char* end() { return fBuffer + kRawBlock; }
  std::size_t room() const { return kRawBlock - fUsed; }
  void commit(char* newNext) { fUsed = static_cast<std::size_t>(newNext - fBuffer); }

  void append(const char* text, std::size_t length) {
    while (length > 0) {
      if (fUsed == kRawBlock)
        flush();
      std::size_t piece = std::min(length, kRawBlock - fUsed);
      std::memcpy(fBuffer + fUsed, text, piece);
      fUsed += piece;
      text += piece;
      length -= piece;
    }
  }
  void flush() {
    fFile.writeAll(fBuffer, fUsed);
    fUsed = 0;
  }

private:
  IDescriptor& fFile;
  std::size_t fUsed;
  char fBuffer[kRawBlock];
};

// IRawReader: input read into one array, a block at a time.
class IRawReader {
public:
  explicit IRawReader(IDescriptor& file) : fNext(fBuffer), fEnd(fBuffer), fFile(file) {}

  // False at the end of the file.
  bool refill() {
    std::size_t got = fFile.readSome(fBuffer, kRawBlock);
    fNext = fBuffer;
    fEnd = fBuffer + got;
    return got != 0;
  }

  const char* fNext;
  const char* fEnd;

private:
  IDescriptor& fFile;
  char fBuffer[kRawBlock];
};
