#include "peers.hpp"

#include <algorithm>
#include <cstring>
#include <fcntl.h>
#include <stdio_ext.h>

namespace kfbench {

namespace {

constexpr int kNewFile = O_WRONLY | O_CREAT | O_TRUNC;

} // namespace

IStdioFile::IStdioFile(const std::string& path, const char* mode) : fFile(std::fopen(path.c_str(), mode)), fPath(path) {
  require(fFile != nullptr, "fopen");
  __fsetlocking(fFile, FSETLOCKING_BYCALLER);
}

IStdioFile::~IStdioFile() {
  if (fFile)
    std::fclose(fFile);
}

void IStdioFile::close() {
  FILE* file = fFile;
  fFile = nullptr;
  require(std::fclose(file) == 0, "fclose");
}

IRaw::IOut::IOut(const std::string& path) : fFile(IPosix::open(path, kNewFile)), fPath(path) {}

void IRaw::IOut::write(const char* bytes, std::size_t count) {
  while (count > 0) {
    if (fUsed == kRawBlock)
      flush();
    const std::size_t piece = std::min(count, kRawBlock - fUsed);
    std::memcpy(fBuffer + fUsed, bytes, piece);
    fUsed += piece;
    bytes += piece;
    count -= piece;
  }
}

void IRaw::IOut::flush() {
  IPosix::writeAll(fFile.get(), fBuffer, fUsed, fPath);
  fUsed = 0;
}

void IRaw::IOut::close() {
  flush();
  fFile.close(fPath);
}

IRaw::IIn::IIn(const std::string& path) : fFile(IPosix::open(path, O_RDONLY)), fPath(path) {}

bool IRaw::IIn::refill() {
  const std::size_t got = IPosix::readSome(fFile.get(), fBuffer, kRawBlock, fPath);
  fNext = fBuffer;
  fEnd = fBuffer + got;
  return got != 0;
}

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
  IPosix::seek(fFile.get(), offset, SEEK_SET, fPath);
  if (IPosix::readSome(fFile.get(), fBuffer, kRawBlock, fPath) < count)
    throwSystemError("read", fPath, EIO);
  std::memcpy(bytes, fBuffer, count);
}

IRaw::IWalk::IWalk(const std::string& path) : fFile(IPosix::open(path, O_RDWR)), fPath(path) {}

void IRaw::IWalk::step(char* bytes, std::size_t count, const char* patch, std::size_t patchCount) {
  std::size_t got = 0;
  while (got < count) {
    if (fNext == fEnd) {
      if (fPending > 0) {
        IPosix::writeAll(fFile.get(), fBuffer, fPending, fPath);
        fPending = 0;
      }
      const std::size_t read = IPosix::readSome(fFile.get(), fBuffer, kRawBlock, fPath);
      if (read == 0)
        throwSystemError("read", fPath, EIO);
      fNext = fBuffer;
      fEnd = fBuffer + read;
    }
    const std::size_t piece = std::min(count - got, static_cast<std::size_t>(fEnd - fNext));
    std::memcpy(bytes + got, fNext, piece);
    fNext += piece;
    got += piece;
  }
  if (fEnd > fNext)
    IPosix::seek(fFile.get(), -(fEnd - fNext), SEEK_CUR, fPath);
  fNext = fEnd = fBuffer;
  std::memcpy(fBuffer, patch, patchCount);
  fPending = patchCount;
}

void IRaw::IWalk::close() {
  IPosix::writeAll(fFile.get(), fBuffer, fPending, fPath);
  fFile.close(fPath);
}

IDirect::IOut::IOut(const std::string& path) : fFile(IPosix::open(path, kNewFile)), fPath(path) {}

IDirect::IIn::IIn(const std::string& path) : fFile(IPosix::open(path, O_RDONLY)), fPath(path) {}

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

IPread::IIn::IIn(const std::string& path) : fFile(IPosix::open(path, O_RDONLY)), fPath(path) {}

void IPread::IIn::readAt(off_t offset, char* bytes, std::size_t count) {
  if (kfbench::readAt(fFile, fBuffer, kRawBlock, offset, fPath) < count)
    throwSystemError("pread", fPath, EIO);
  std::memcpy(bytes, fBuffer, count);
}

} // namespace kfbench
