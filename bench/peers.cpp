#include "peers.hpp"

#include <algorithm>
#include <cstring>
#include <fcntl.h>

namespace kfbench {

bool IRaw::IIn::read(char* block, std::size_t count) {
  std::size_t got = 0;
  while (got < count && (fNext < fEnd || refill())) {
    const std::size_t piece = std::min(count - got, static_cast<std::size_t>(fEnd - fNext));
    std::memcpy(block + got, fNext, piece);
    fNext += piece;
    got += piece;
  }
  return got == count;
}

void IRaw::IIn::readAt(off_t offset, char* bytes, std::size_t count) {
  fFile->seek(offset, SEEK_SET);
  if (fFile->fill() < count)
    throwSystemError("read", fFile->path(), EIO);
  std::memcpy(bytes, fFile->buffer(), count);
}

void IRaw::IWalk::step(char* bytes, std::size_t count, const char* patch, std::size_t patchCount) {
  std::size_t got = 0;
  while (got < count) {
    if (fNext == fEnd) {
      if (fPending > 0) {
        fFile->drain(fPending);
        fPending = 0;
      }
      const std::size_t read = fFile->fill();
      if (read == 0)
        throwSystemError("read", fFile->path(), EIO);
      fNext = fFile->buffer();
      fEnd = fNext + read;
    }
    const std::size_t piece = std::min(count - got, static_cast<std::size_t>(fEnd - fNext));
    std::memcpy(bytes + got, fNext, piece);
    fNext += piece;
    got += piece;
  }
  if (fEnd > fNext)
    fFile->seek(-(fEnd - fNext), SEEK_CUR);
  fNext = fEnd = fFile->buffer();
  std::memcpy(fNext, patch, patchCount);
  fPending = patchCount;
}

bool IDirect::IIn::read(char* block, std::size_t count) {
  std::size_t got = 0;
  while (got < count) {
    const std::size_t piece = IPosix::readSome(fFile.get(), block + got, count - got, fPath);
    if (piece == 0)
      break;
    got += piece;
  }
  return got == count;
}

void IPread::IIn::readAt(off_t offset, char* bytes, std::size_t count) {
  if (kfbench::readAt(fFile, fBuffer, kRawBlock, offset, fPath) < count)
    throwSystemError("pread", fPath, EIO);
  std::memcpy(bytes, fBuffer, count);
}

} // namespace kfbench
