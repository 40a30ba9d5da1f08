// The standard streams' buffers over C stdio. The sharing of stdin reads two
// fields of glibc's FILE (_IO_read_ptr and _IO_read_end: the bytes a stream
// holds unread) and sets a third (_fileno), which glibc's <stdio.h> declares.
#include "stdiobuf.hpp"

#include "fdbuf.hpp"

#include <cstring>

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

// Bytes a FILE holds unread: its buffer, or what ungetc pushed back.
std::size_t heldBy(FILE* file) {
  return file->_IO_read_ptr < file->_IO_read_end ? static_cast<std::size_t>(file->_IO_read_end - file->_IO_read_ptr)
                                                 : 0;
}

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
  shared->_fileno = 0; // fileno(stdin) still answers 0
  fOriginal = stdin;
  fShared = shared;
  stdin = shared;
}

bool IStdinBuf::release() {
  if (!fOriginal)
    return in_avail() == 0;
  if (in_avail() > 0 || fHeld < fHeldEnd || heldBy(fShared) > 0 || heldBy(fOriginal) > 0)
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

bool IStdinBuf::fill() {
  char* area = fArray + kPushedBack + kPutBackSize;
  // Keep the last bytes read in front, for putback.
  std::size_t keep = 0;
  if (gptr()) {
    keep = static_cast<std::size_t>(gptr() - eback());
    keep = keep > std::size_t{kPutBackSize} ? std::size_t{kPutBackSize} : keep;
    std::memmove(area - keep, gptr() - keep, keep);
  }
  std::size_t got = 0;
  if (fOriginal && !fOriginalDrained) {
    // What the old stdin read ahead comes first; never make it read more.
    while (got < kAreaSize && heldBy(fOriginal) > 0)
      area[got++] = static_cast<char>(getc_unlocked(fOriginal));
    if (got == 0)
      fOriginalDrained = true;
  }
  if (got == 0)
    got = static_cast<std::size_t>(IDescriptorBuf::readSome(0, area, kAreaSize));
  setg(area - keep, area, area + got);
  return got > 0;
}

int IStdinBuf::underflow() {
  if (gptr() < egptr())
    return static_cast<unsigned char>(*gptr());
  if (!fOriginal)
    shareStdin();
  if (fOriginal) {
    // What stdio pushed back comes before what it left unread.
    char* start = fHeld ? fHeld : fArray + kPushedBack + kPutBackSize;
    char* end = fHeld ? fHeldEnd : start;
    std::size_t pushed = heldBy(fShared);
    if (pushed > static_cast<std::size_t>(start - fArray))
      pushed = static_cast<std::size_t>(start - fArray);
    for (std::size_t i = pushed; i > 0; --i)
      *(start - i) = static_cast<char>(getc_unlocked(fShared));
    start -= pushed;
    fHeld = fHeldEnd = nullptr;
    if (start < end) {
      setg(start, start, end);
      return static_cast<unsigned char>(*gptr());
    }
  }
  return fill() ? static_cast<unsigned char>(*gptr()) : EOF;
}

ssize_t IStdinBuf::readForStdio(void* cookie, char* buffer, size_t size) {
  IStdinBuf& self = *static_cast<IStdinBuf*>(cookie);
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
