// IHostFileStream: the byte stream over a POSIX file descriptor.
//
// The stream owns its descriptor and keeps the path only so that its errors
// can name it. On a regular file it keeps the sharing rules of its open
// (hostshar.hpp) until it is closed or deleted; devices, pipes and sockets are
// shared as the system shares them. Every failure of the system is thrown as
// an IAccessError whose errorId() is errno; any operation after close()
// throws IInvalidRequest. Not safe to use from two threads at once.
#pragma once

#include "fsstream.hpp"
#include "hostshar.hpp"
#include "posix.hpp"

#include <memory>
#include <string>

class IHostFileStream : public IFSFileStream {
public:
  // Opens `path` (which must exist) for the ios::open_mode bits `myMode`: it
  // reads for in and writes for out, app or trunc (IInvalidParameter for a
  // mode that asks for neither), and grants others what `otherMode` holds of
  // ios::in and ios::out. The file is opened once, as open(2) would open it
  // for that access, and a directory is refused with EISDIR. On a regular
  // file the open then claims its sharing rules, a conflict being an
  // IAccessError (EBUSY, "sharing violation"); only once that claim holds
  // does trunc cut the file, so an open refused for any reason changes no
  // byte. On other files trunc does nothing, as O_TRUNC does there. ate and
  // app place the stream at the end, once: app is no O_APPEND, and a write
  // after a seek lands where the stream stands. A failed open leaves no
  // descriptor and no lock behind.
  static std::unique_ptr<IHostFileStream> open(const std::string& path, int myMode, int otherMode);

  // Lifts the sharing rules, closes a descriptor that is still open and
  // ignores any failure.
  ~IHostFileStream() override;

  // Lifts the sharing rules and releases the descriptor; a failing close(2)
  // is reported once, the descriptor is gone anyway and close(2) is never
  // retried. When lifting the rules fails, that is reported first; closing
  // the descriptor lifts them all the same.
  void close() override;
  // One read(2) of at most `count` bytes; 0 at the end of the file (and for a count of 0).
  std::ptrdiff_t doRead(void* buffer, int count) override;
  // Writes every byte, continuing short writes, or throws; a failure after
  // a part was written steps back over that part, so that a retry writes
  // each byte once.
  void doWrite(const void* buffer, int count) override;
  // lseek(2); a position before 0 is refused with EINVAL.
  IFileSize doSeek(IFileSize offset, seek_dir dir) override;
  IFileSize endOfFile() const override;
  // ftruncate(2): cuts the file or extends it with zeros.
  void setEndOfFile(IFileSize size) override;
  // True for a regular file or a block device; false for pipes, FIFOs,
  // sockets and character devices (terminals among them).
  bool canSeek() const override { return fSeekable; }

  const std::string& path() const { return fPath; }
  // The access granted to other users, as given when the stream was made.
  int otherMode() const { return fOtherMode; }
  bool isOpen() const { return fDescriptor.isOpen(); }
  // The descriptor; -1 once closed.
  int descriptor() const override { return fDescriptor.get(); }

private:
  IHostFileStream(std::string path, int otherMode);
  int descriptor(const char* operation) const; // throws IInvalidRequest once closed

  IDescriptor fDescriptor;
  std::string fPath;
  int fOtherMode;
  bool fSeekable = true; // decided by fstat at open
  IHostSharing fSharing; // the markers held on fDescriptor; none on a file that is not regular
};
