// The descriptor's reads, writes and seeks go through the host layer's
// system-call table, as the file streams' do, so that one script of EINTR
// and short writes reaches both.
#include "fdbuf.hpp"

#include "hostcall.hpp"

#include <climits>
#include <cstddef>
#include <cstring>

namespace kelrt {

namespace {

// Writes every byte, continuing short writes and retrying EINTR.
bool writeAll(int descriptor, const char* data, std::size_t count) {
  int error;
  return kelhost::IHostRetry::writeAll(descriptor, data, count, error) == count;
}

int seekWhence(ios::seek_dir dir) {
  switch (dir) {
  case ios::cur:
    return SEEK_CUR;
  case ios::end:
    return SEEK_END;
  default:
    return SEEK_SET;
  }
}

} // namespace

IDescriptorBuf::IDescriptorBuf(int descriptor) : fDescriptor(descriptor) {}

IDescriptorBuf::~IDescriptorBuf() { writePending(); }

bool IDescriptorBuf::writePending() {
  if (!pbase())
    return true;
  const char* data = pbase();
  std::size_t count = static_cast<std::size_t>(pptr() - pbase());
  setp(fPutArray, fPutArray + kAreaSize);
  return writeAll(fDescriptor, data, count);
}

int IDescriptorBuf::overflow(int c) {
  if (!writePending())
    return EOF;
  setp(fPutArray, fPutArray + kAreaSize);
  if (c == EOF)
    return 0;
  *pptr() = static_cast<char>(c);
  pbump(1);
  return static_cast<unsigned char>(c);
}

int IDescriptorBuf::underflow() {
  if (gptr() && gptr() < egptr())
    return static_cast<unsigned char>(*gptr());
  if (!writePending())
    return EOF;

  std::size_t keep = 0;
  if (gptr()) {
    keep = static_cast<std::size_t>(gptr() - eback());
    if (keep > kPutBackSize)
      keep = kPutBackSize;
    std::memmove(fGetArray + kPutBackSize - keep, gptr() - keep, keep);
  }
  char* start = fGetArray + kPutBackSize;
  const int got = readSome(fDescriptor, start, kAreaSize);
  if (got == 0) {
    setg(start - keep, start, start);
    return EOF;
  }
  setg(start - keep, start, start + got);
  return static_cast<unsigned char>(*gptr());
}

int IDescriptorBuf::readSome(int descriptor, char* area, int count) {
  const ssize_t got = kelhost::IHostRetry::read(descriptor, area, static_cast<std::size_t>(count));
  return got > 0 ? static_cast<int>(got) : 0;
}

int IDescriptorBuf::sync() { return writePending() ? 0 : EOF; }

streampos IDescriptorBuf::seekoff(streamoff offset, ios::seek_dir dir, int) {
  if (!writePending())
    return EOF;
  // The descriptor stands behind the unread input.
  streamoff unread = gptr() ? egptr() - gptr() : 0;
  if (dir == ios::cur) {
    if (offset < LLONG_MIN + unread)
      return EOF; // no file reaches so far back
    offset -= unread;
  }
  off_t result = kelhost::IHostRetry::seek(fDescriptor, static_cast<off_t>(offset), seekWhence(dir));
  if (result < 0)
    return EOF;
  setg(nullptr, nullptr, nullptr);
  return static_cast<streampos>(result);
}

int IDescriptorBuf::xsputn(const char* s, int n) {
  if (n < kAreaSize)
    return streambuf::xsputn(s, n);
  if (!writePending() || !writeAll(fDescriptor, s, static_cast<std::size_t>(n)))
    return 0;
  return n;
}

} // namespace kelrt
