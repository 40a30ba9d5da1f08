// The buffers of the standard streams while they are in step with C stdio
// (the default): what cout, cerr and clog write goes through stdout and
// stderr, and cin and stdin read one sequence of bytes, each byte once.
//
// IStdioOutBuf has no area of its own: every field goes to the FILE at once,
// so printf and cout interleave in program order. IStdinBuf reads into an
// area of its own, which it shares with C stdio: the first time cin reads,
// stdin is replaced by a stream that takes its bytes from that area (what
// the old stdin held is read first), so scanf, getchar, fgets and gets take
// the bytes cin has not, and cin gets back what stdio pushed back (ungetc,
// scanf's look-ahead). Where the C library's FILE can be read (stdioseam.hpp),
// the area fills from the old stdin's buffer, then by read(2) of descriptor
// 0, and cin can leave stdin once neither holds bytes; elsewhere it fills a
// byte at a time through the old stdin, which keeps its read-ahead unseen,
// cin stays on stdin once it has read, and fileno(stdin) answers -1 while
// stdin is shared. Failures end the input or set badbit; nothing is thrown.
// Not safe to use from two threads at once.
#pragma once

#include "streambuf.hpp"

#include <cstddef>
#include <cstdio>
#include <sys/types.h> // ssize_t

namespace kelrt {

class IStdioOutBuf final : public streambuf {
public:
  explicit IStdioOutBuf(FILE* (*file)()) : fFile(file) {}

  int descriptor() const;
  // putc of `c`; EOF when it fails.
  int overflow(int c = EOF) override;
  // fwrite; the count written.
  int xsputn(const char* s, int n) override;
  // fflush: 0, or EOF when it fails.
  int sync() override;

private:
  IStdioOutBuf(const IStdioOutBuf&);
  IStdioOutBuf& operator=(const IStdioOutBuf&);

  FILE* (*fFile)(); // stdout or stderr as they are at the time of the call
};

class IStdinBuf final : public streambuf {
public:
  IStdinBuf();
  // stdin stays on this buffer: C stdio may still read after cin is gone.
  ~IStdinBuf() override;

  int descriptor() const { return 0; }
  // Whether stdin reads through this buffer.
  bool sharesStdin() const { return fOriginal != nullptr; }
  // Gives stdin back its own FILE, so that another buffer may read
  // descriptor 0: true, unless this buffer or stdio holds bytes unread (or
  // may: where the FILE cannot be read, false once cin has read).
  bool release();

  // Takes back what stdio pushed back, then what stdio left unread, then
  // reads descriptor 0.
  int underflow() override;
  int sync() override { return 0; }

private:
  enum {
    kAreaSize = 4096,  // one read(2)
    kPutBackSize = 4,  // bytes of the previous area kept for putback
    kPushedBack = 64   // room for what stdio pushes back
  };

  IStdinBuf(const IStdinBuf&);
  IStdinBuf& operator=(const IStdinBuf&);

  static ssize_t readForStdio(void* cookie, char* buffer, size_t size);
  void shareStdin();
  // Puts what stdio pushed back in front of the bytes it has not taken and
  // gives them all back to cin: whether cin then has any.
  bool reclaim();
  // Takes up to `room` bytes that the shared stream holds unread, in order.
  std::size_t takePushedBack(char* to, std::size_t room);
  // Fills the area from the old stdin or from descriptor 0; false at the end.
  bool fill();

  FILE* fOriginal = nullptr; // stdin before it was replaced, read to its end first
  FILE* fShared = nullptr;   // the stream that replaced it
  bool fOriginalDrained = false;
  bool fRefusing = false; // readForStdio answers the end: stdio's own bytes are being taken
  // Bytes stdio has not taken: [fHeld, fHeldEnd) while the get area is
  // hidden from cin, so that cin calls underflow and sees stdio's pushback.
  char* fHeld = nullptr;
  char* fHeldEnd = nullptr;
  char fArray[kPushedBack + kPutBackSize + kAreaSize];
};

} // namespace kelrt
