// IDescriptorStream: the byte stream over a POSIX descriptor, as the
// path-opened stream (hoststrm.hpp) and the borrowed one (hostdesc.hpp) share
// it, so that the two answer every call alike: the same argument checks, the
// same errors, the same meaning of ate and app.
//
// A count of 0 reads or writes nothing; a negative count is IInvalidParameter.
// Every failure of the system is an IAccessError whose errorId() is errno (a
// write's is an IWriteError, saying how many bytes reached the file); any
// operation after close() is IInvalidRequest. Not safe to use from two
// threads at once.
#pragma once

#include "fsstream.hpp"
#include "posix.hpp"

#include <memory>
#include <string>

struct stat;

namespace kelhost {

class IDescriptorStream : public IFSFileStream {
public:
  // One read(2) of at most `count` bytes; 0 at the end of the file.
  std::ptrdiff_t doRead(void* buffer, int count) override;
  // Writes every byte, continuing short writes, or throws IWriteError; the
  // bytes that reached the file before a failure stay there, once. With app
  // every write lands at the file's end as it is at that moment.
  void doWrite(const void* buffer, int count) override;
  // lseek(2); a position before 0 is refused with EINVAL; a pipe, a socket
  // or a terminal refuses with ESPIPE.
  IFileSize doSeek(IFileSize offset, seek_dir dir) override;
  IFileSize endOfFile() const override;
  // ftruncate(2): cuts the file or extends it with zeros.
  void setEndOfFile(IFileSize size) override;
  // True for a regular file or a block device; false for pipes, FIFOs,
  // sockets and character devices (terminals among them). Where the open did
  // not learn it, the first call asks fstat(2); one closed before that answers true.
  bool canSeek() const override;
  // The descriptor; -1 once closed.
  int descriptor() const override { return fDescriptor.get(); }

  // The name that errors give the file.
  const std::string& path() const { return *fPath; }
  bool isOpen() const { return fDescriptor.isOpen(); }

protected:
  // `path` is shared with the record that names the file, where there is one.
  explicit IDescriptorStream(std::shared_ptr<const std::string> path) : fPath(std::move(path)) {}

  // Learns the open descriptor's kind from `status` and places the stream
  // for the ios::open_mode bits `myMode`: at the end for ate and app (on a
  // file with positions), else where the descriptor stands when `borrowed`,
  // else at 0; returns where. `seekToAppend` makes every write of app seek to
  // the end first, for a descriptor that was not opened with O_APPEND.
  IFileSize place(const struct stat& status, int myMode, bool borrowed, bool seekToAppend);
  // Shares the name with its owner from now on.
  void sharePath(std::shared_ptr<const std::string> path) { fPath = std::move(path); }
  // The descriptor, or IInvalidRequest naming `operation` once closed.
  int live(const char* operation) const;

  IDescriptor fDescriptor; // the borrowed stream releases it unclosed

private:
  enum ESeekable : signed char { kUnknown = -1, kNo, kYes };
  mutable ESeekable fSeekable = kUnknown; // from fstat, at open or at the first canSeek()
  bool fSeekToAppend = false; // app over a descriptor without O_APPEND
  std::shared_ptr<const std::string> fPath;
};

} // namespace kelhost
