// The standard streams' buffers over C stdio. What a FILE holds unread is
// asked of stdioseam.hpp, the one place that knows the C library.
#include "stdiobuf.hpp"

#include "fdbuf.hpp"
#include "stdioseam.hpp"

#include <algorithm>
#include <cstring>

namespace kelrt {

int IStdioOutBuf::descriptor() const { return ::fileno(fFile()); }

int IStdioOutBuf::overflow(int c) {
  if (c == EOF)
    return std::fflush(fFile()) == 0 ? 0 : EOF;
  return std::putc(c, fFile()) == EOF ? EOF : static_cast<unsigned char>(c);
}

int IStdioOutBuf::xsputn(const char* s, int n) {
  return n > 0 ? static_cast<int>(std::fwrite(s, 1, static_cast<std::size_t>(n), fFile())) : 0;
}

int IStdioOutBuf::sync() { return std::fflush(fFile()) == 0 ? 0 : EOF; }

namespace {

int charAt(const char* p) { return static_cast<unsigned char>(*p); }

} // namespace

IStdinBuf::IStdinBuf() = default;

IStdinBuf::~IStdinBuf() = default;

void IStdinBuf::shareStdin() {
  cookie_io_functions_t functions{};
  functions.read = &IStdinBuf::readForStdio;
  FILE* shared = ::fopencookie(this, "r", functions);
  if (!shared)
    return; // then cin reads on its own, as with sync_with_stdio(false)
  std::setvbuf(shared, nullptr, _IONBF, 0);
  kelrt::setDescriptor(shared, 0); // so that fileno(stdin) still answers 0
  fOriginal = stdin;
  fShared = shared;
  stdin = shared;
}

bool IStdinBuf::release() {
  if (!fOriginal)
    return in_avail() == 0;
  if (in_avail() > 0 || reclaim())
    return false;
  // A reader of descriptor 0 would skip what the old stdin read ahead.
  if (!kelrt::kStdioCountsHeld || kelrt::heldBy(fOriginal) > 0)
    return false;
  if (stdin == fShared)
    stdin = fOriginal;
  std::fclose(fShared);
  fShared = nullptr;
  fOriginal = nullptr;
  fOriginalDrained = false;
  fHeld = fHeldEnd = nullptr;
  setg(nullptr, nullptr, nullptr);
  return true;
}

std::size_t IStdinBuf::takePushedBack(char* to, std::size_t room) {
  std::size_t count = 0;
  if (kelrt::kStdioCountsHeld) {
    count = std::min(kelrt::heldBy(fShared), room);
    for (std::size_t i = 0; i < count; ++i)
      to[i] = static_cast<char>(getc_unlocked(fShared));
    return count;
  }
  // A FILE calls its read function only when it holds nothing, so reading
  // until this buffer is asked takes exactly what it holds. ungetc clears
  // the end-of-file mark: a stream that has it holds nothing.
  if (std::feof(fShared))
    return 0;
  fRefusing = true;
  int c;
  while (count < room && (c = getc_unlocked(fShared)) != EOF)
    to[count++] = static_cast<char>(c);
  fRefusing = false;
  if (count < room)
    std::clearerr(fShared); // the mark set by the refusal; readForStdio never fails
  return count;
}

bool IStdinBuf::reclaim() {
  char* start = fHeld ? fHeld : fArray + kPushedBack + kPutBackSize;
  char* end = fHeld ? fHeldEnd : start;
  fHeld = fHeldEnd = nullptr;
  char pushed[kPushedBack];
  std::size_t room = std::min(sizeof pushed, static_cast<std::size_t>(start - fArray));
  std::size_t count = takePushedBack(pushed, room);
  start -= count;
  std::memcpy(start, pushed, count);
  if (!(start < end))
    return false;
  setg(start, start, end);
  return true;
}

bool IStdinBuf::fill() {
  char* area = fArray + kPushedBack + kPutBackSize;
  // Keep the last bytes read in front, for putback.
  std::size_t keep = 0;
  if (gptr()) {
    keep = std::min(static_cast<std::size_t>(gptr() - eback()), std::size_t{kPutBackSize});
    std::memmove(area - keep, gptr() - keep, keep);
  }
  std::size_t got = 0;
  if (fOriginal && !kelrt::kStdioCountsHeld) {
    // Its read-ahead cannot be seen, so every byte comes through it.
    int c = getc_unlocked(fOriginal);
    if (c != EOF)
      area[got++] = static_cast<char>(c);
    else
      std::clearerr(fOriginal); // a terminal may give more after an end
  } else {
    // What the old stdin read ahead comes first; never make it read more.
    if (fOriginal && !fOriginalDrained) {
      while (got < kAreaSize && kelrt::heldBy(fOriginal) > 0)
        area[got++] = static_cast<char>(getc_unlocked(fOriginal));
      fOriginalDrained = got == 0;
    }
    if (got == 0)
      got = static_cast<std::size_t>(IDescriptorBuf::readSome(0, area, kAreaSize));
  }
  setg(area - keep, area, area + got);
  return got > 0;
}

int IStdinBuf::underflow() {
  if (gptr() < egptr())
    return charAt(gptr());
  if (!fOriginal)
    shareStdin();
  if ((fOriginal && reclaim()) || fill())
    return charAt(gptr());
  return EOF;
}

ssize_t IStdinBuf::readForStdio(void* cookie, char* buffer, size_t size) {
  IStdinBuf& self = *static_cast<IStdinBuf*>(cookie);
  if (self.fRefusing)
    return 0;
  char* next = self.fHeld ? self.fHeld : self.gptr();
  char* end = self.fHeld ? self.fHeldEnd : self.egptr();
  if (!(next < end)) {
    if (!self.fill())
      return 0;
    next = self.gptr();
    end = self.egptr();
  }
  std::size_t count = static_cast<std::size_t>(end - next);
  count = count < size ? count : size;
  std::memcpy(buffer, next, count);
  // Hidden from cin until its next underflow, which looks at stdio first.
  self.fHeld = next + count;
  self.fHeldEnd = end;
  self.setg(self.fHeld, self.fHeld, self.fHeld);
  return static_cast<ssize_t>(count);
}

} // namespace kelrt
