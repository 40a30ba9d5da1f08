// IDescriptorBuf: a streambuf over an open descriptor that someone else owns;
// the standard streams are made of four of them.
//
// Reads take what one read(2) returns; writes go out whole. EINTR is retried.
// A failed read ends the input (EOF), a failed write drops the pending bytes
// and answers EOF, so that the stream sets badbit: nothing is thrown, because
// the runtime knows no exception classes. Not safe to use from two threads at
// once.
#pragma once

#include "streambuf.hpp"

namespace kelrt {

class IDescriptorBuf final : public streambuf {
public:
  // Uses `descriptor` without taking it: it is never closed here.
  explicit IDescriptorBuf(int descriptor);
  // Writes pending output, dropping a failure.
  ~IDescriptorBuf() override;

  int descriptor() const { return fDescriptor; }

  // Writes the pending output, then puts `c` (unless EOF) in the emptied area.
  int overflow(int c = EOF) override;
  // Writes pending output, then reads what one read(2) gives; EOF at the end
  // of the input or on an error. The last bytes of the previous area stay in
  // front of the new ones for putback.
  int underflow() override;
  // Writes pending output: 0, or EOF when that fails. Unread input stays.
  int sync() override;
  // lseek(2) after writing pending output; EOF where the descriptor cannot
  // seek (a pipe, a terminal), and then unread input stays.
  streampos seekoff(streamoff offset, ios::seek_dir dir, int mode = ios::in | ios::out) override;
  // A block at least as large as the area bypasses it.
  int xsputn(const char* s, int n) override;

  // One read(2) of at most `count` bytes into `area`, EINTR retried: the
  // count read, 0 at the end of the input or on an error.
  static int readSome(int descriptor, char* area, int count);

private:
  enum {
    kAreaSize = 4096, // capacity of the get area and of the put area
    kPutBackSize = 4  // bytes of the previous get area kept for putback
  };

  IDescriptorBuf(const IDescriptorBuf&);
  IDescriptorBuf& operator=(const IDescriptorBuf&);

  // Writes [pbase, pptr) and empties the put area; false (bytes dropped) on failure.
  bool writePending();

  int fDescriptor;
  // Reading: eback <= gptr <= egptr inside fGetArray, the bytes of the last
  // read starting at kPutBackSize. Writing: pbase = fPutArray, epptr at its end.
  char fGetArray[kPutBackSize + kAreaSize];
  char fPutArray[kAreaSize];
};

} // namespace kelrt
