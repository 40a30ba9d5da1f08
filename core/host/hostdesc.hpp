// IBorrowedStream: the byte stream over a descriptor that its owner opened
// and will close, and IBorrowedRecord, the record that makes it. A file object
// made by IFile::borrowing names such a record.
//
// The stream never closes the descriptor: close() only ends its own use.
// Its failures are IAccessErrors naming the operation and /dev/fd/N. Not
// safe to use from two threads at once.
#pragma once

#include "fsfilrec.hpp"
#include "fsstream.hpp"

#include <memory>
#include <string>

class IBorrowedStream final : public IFSFileStream {
public:
  // Uses `fd`; throws IAccessError (EBADF) when it is not an open descriptor.
  explicit IBorrowedStream(int fd);
  // Leaves the descriptor open.
  ~IBorrowedStream() override;

  void close() override;
  // One read(2) of at most `count` bytes; 0 at the end of the input.
  std::ptrdiff_t doRead(void* buffer, int count) override;
  // Writes every byte, continuing short writes.
  void doWrite(const void* buffer, int count) override;
  IFileSize doSeek(IFileSize offset, seek_dir dir) override;
  IFileSize endOfFile() const override;
  void setEndOfFile(IFileSize size) override;
  bool canSeek() const override { return fSeekable; }
  int descriptor() const override { return fClosed ? -1 : fDescriptor; }

  // The ios::open_mode access bits (in, out) of the descriptor's open.
  int access() const { return fAccess; }
  // The name that errors give it: /dev/fd/N.
  static std::string nameOf(int fd) { return "/dev/fd/" + std::to_string(fd); }

private:
  int checked(const char* operation) const; // throws IInvalidRequest once closed

  int fDescriptor;
  std::string fName; // for errors
  int fAccess;
  bool fSeekable;
  bool fClosed = false;
};

// The record of a borrowed descriptor; its streams use the descriptor as it
// was opened, whatever mode they are asked for.
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
