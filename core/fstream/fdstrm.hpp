// IDescriptorStream: the byte stream over a descriptor that its owner opened
// and will close; the classic filebuf::attach(fd) reads and writes through it.
//
// It never closes the descriptor: close() only ends its own use. Every
// system call is retried on EINTR and its failure thrown as an IAccessError
// naming the operation and /dev/fd/N. Not safe to use from two threads at once.
#pragma once

#include "fsfilrec.hpp"
#include "fsstream.hpp"

#include <memory>
#include <string>

class IDescriptorStream final : public IFSFileStream {
public:
  // Uses `fd`; throws IAccessError (EBADF) when it is not an open descriptor.
  explicit IDescriptorStream(int fd);
  // Leaves the descriptor open.
  ~IDescriptorStream() override;

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
  int fAccess;
  bool fSeekable;
  bool fClosed = false;
};

// The record of a borrowed descriptor; its streams use the descriptor as it
// was opened, whatever mode they are asked for.
class IDescriptorRecord final : public IFSFileRecord {
public:
  // Throws what IDescriptorStream(fd) throws.
  explicit IDescriptorRecord(int fd);
  ~IDescriptorRecord() override;
  IText path() const override { return IDescriptorStream::nameOf(fDescriptor); }
  IFSFileStream* createStream(int myMode, int otherMode) const override;
  // The access bits (ios::in, ios::out) the descriptor was opened with.
  int access() const { return fAccess; }

private:
  int fDescriptor;
  int fAccess;
  mutable std::unique_ptr<IDescriptorStream> fFirst; // checked when made; the first createStream takes it
};
