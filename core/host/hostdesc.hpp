// IBorrowedStream: the byte stream over a descriptor that its owner opened
// and will close, and IBorrowedRecord, the record that makes it. A file object
// made by IFile::borrowing names such a record.
//
// The stream never closes the descriptor: close() only ends its own use. It
// starts where the descriptor stands (at the end for ate and app) and its
// transfers are those of every descriptor's stream (hostio.hpp); with app
// each write seeks to the end first, unless the owner opened the descriptor
// with O_APPEND, which alone makes appending safe beside other writers. Its
// errors name /dev/fd/N.
#pragma once

#include "fsfilrec.hpp"
#include "hostio.hpp"

#include <memory>
#include <string>

namespace kelhost {

class IBorrowedStream final : public IDescriptorStream {
public:
  // Uses `fd`; throws IAccessError (EBADF) when it is not an open descriptor.
  explicit IBorrowedStream(int fd);
  // Leaves the descriptor open.
  ~IBorrowedStream() override;

  void close() override;
  // Places the stream for the ios::open_mode bits `myMode` (ate, app).
  void start(int myMode);
  IFileSize startPosition() const override { return fStart; }

  // The ios::open_mode access bits (in, out) of the descriptor's open.
  int access() const { return fAccess; }
  // The name that errors give it: /dev/fd/N.
  static std::string nameOf(int fd) { return "/dev/fd/" + std::to_string(fd); }

private:
  int fAccess;
  bool fAppends;       // the owner opened it with O_APPEND
  IFileSize fStart = 0; // where the owner left it, or the end for ate and app
};

// The record of a borrowed descriptor; its streams use the descriptor as it
// was opened, whatever access they are asked for.
class IBorrowedRecord final : public IFSFileRecord {
public:
  // Throws what IBorrowedStream(fd) throws.
  explicit IBorrowedRecord(int fd);
  ~IBorrowedRecord() override;
  IText path() const override { return IBorrowedStream::nameOf(fDescriptor); }
  IFSFileStream* createStream(int myMode, int otherMode) const override;
  int access() const { return fAccess; }

private:
  int fDescriptor;
  int fAccess;
  mutable std::unique_ptr<IBorrowedStream> fFirst; // checked when made; the first createStream takes it
};

} // namespace kelhost
