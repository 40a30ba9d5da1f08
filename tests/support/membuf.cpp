// The in-memory stream buffer of the tests.
#include "membuf.hpp"

#include <algorithm>
#include <cstring>

IMemBuf::IMemBuf(std::string contents, std::size_t areaSize)
    : fStore(std::move(contents)), fAreaSize(areaSize), fGetArray(kPutBack + areaSize), fPutArray(areaSize) {}

std::string IMemBuf::str() const {
  std::string all = fStore;
  if (pbase()) {
    std::size_t n = static_cast<std::size_t>(pptr() - pbase());
    if (all.size() < fPosition + n)
      all.resize(fPosition + n, '\0');
    all.replace(fPosition, n, pbase(), n);
  }
  return all;
}

void IMemBuf::throwOn(EOperation operation, int nth) {
  fThrowOperation = operation;
  fThrowAt = fCalls[operation] + nth;
}

void IMemBuf::count(EOperation operation) {
  ++fCalls[operation];
  if (operation == fThrowOperation && fCalls[operation] == fThrowAt)
    throw IMemBufError("memory buffer: injected failure");
}

void IMemBuf::syncOut() {
  if (!pbase())
    return;
  std::size_t n = static_cast<std::size_t>(pptr() - pbase());
  if (fStore.size() < fPosition + n)
    fStore.resize(fPosition + n, '\0');
  fStore.replace(fPosition, n, pbase(), n);
  fPosition += n;
  setp(nullptr, nullptr);
}

void IMemBuf::syncIn() {
  if (!gptr())
    return;
  fPosition -= static_cast<std::size_t>(egptr() - gptr());
  setg(nullptr, nullptr, nullptr);
}

int IMemBuf::overflow(int c) {
  count(kOverflow);
  syncIn();
  syncOut();
  std::size_t room = fPosition < fCapacity ? std::min(fAreaSize, fCapacity - fPosition) : 0;
  if (room == 0)
    return EOF;
  setp(fPutArray.data(), fPutArray.data() + room);
  if (c == EOF)
    return 0;
  *pptr() = static_cast<char>(c);
  pbump(1);
  return fFileAnswers ? 0 : static_cast<unsigned char>(c);
}

int IMemBuf::underflow() {
  count(kUnderflow);
  if (gptr() && gptr() < egptr())
    return static_cast<unsigned char>(*gptr());
  syncOut();
  syncIn();
  if (fPosition >= fStore.size())
    return EOF;
  std::size_t n = std::min(fAreaSize, fStore.size() - fPosition);
  char* area = fGetArray.data() + kPutBack;
  std::memcpy(area, fStore.data() + fPosition, n);
  fPosition += n;
  setg(fGetArray.data(), area, area + n);
  return static_cast<unsigned char>(*area);
}

int IMemBuf::pbackfail(int c) {
  count(kPbackfail);
  syncOut();
  syncIn();
  if (fPosition == 0)
    return fFileAnswers ? 0 : EOF;
  if (c == EOF) {
    --fPosition;
    return 1;
  }
  // A get area of the one character, standing in front of the position.
  char* area = fGetArray.data() + kPutBack;
  *area = static_cast<char>(c);
  setg(fGetArray.data(), area, area + 1);
  return fFileAnswers ? 1 : static_cast<unsigned char>(c);
}

int IMemBuf::sync() {
  count(kSync);
  syncOut();
  syncIn();
  return 0;
}

streampos IMemBuf::seekoff(streamoff offset, ios::seek_dir dir, int) {
  count(kSeek);
  syncOut();
  syncIn();
  streamoff base = dir == ios::beg ? 0 : dir == ios::cur ? static_cast<streamoff>(fPosition)
                                                         : static_cast<streamoff>(fStore.size());
  streamoff target = base + offset;
  if (target < 0)
    return EOF;
  fPosition = static_cast<std::size_t>(target);
  return target;
}

streampos IMemBuf::seekpos(streampos position, int mode) { return seekoff(position, ios::beg, mode); }
