// The byte stream over a borrowed descriptor, and the host's IFile::borrowing.
#include "hostdesc.hpp"

#include "ifilesys.hpp"

#include <fcntl.h>
#include <sys/stat.h>

namespace kelhost {

IBorrowedStream::IBorrowedStream(int fd)
    : IDescriptorStream(std::make_shared<const std::string>(nameOf(fd))), fAccess(0), fAppends(false) {
  fDescriptor = IDescriptor(fd);
  try {
    const int flags = IPosix::flagsOfDescriptor(fd, path());
    fAccess = IPosix::accessOfFlags(flags);
    fAppends = (flags & O_APPEND) != 0;
  } catch (...) {
    fDescriptor.release();
    throw;
  }
}

IBorrowedStream::~IBorrowedStream() { fDescriptor.release(); }

void IBorrowedStream::close() { fDescriptor.release(); }

void IBorrowedStream::start(int myMode) {
  fStart = place(IPosix::status(live("open"), path()), myMode, true, !fAppends);
}

IBorrowedRecord::IBorrowedRecord(int fd)
    : fDescriptor(fd), fAccess(0), fFirst(std::make_unique<IBorrowedStream>(fd)) {
  fAccess = fFirst->access();
}

IBorrowedRecord::~IBorrowedRecord() = default;

IFSFileStream* IBorrowedRecord::createStream(int myMode, int) const {
  std::unique_ptr<IBorrowedStream> stream = fFirst ? std::move(fFirst) : std::make_unique<IBorrowedStream>(fDescriptor);
  stream->start(myMode);
  return stream.release();
}

} // namespace kelhost

// The host's part of the file objects: a file named by a descriptor.
IFile IFile::borrowing(int descriptor, int* access) {
  auto record = std::make_shared<kelhost::IBorrowedRecord>(descriptor);
  if (access)
    *access = record->access();
  return IFile(std::move(record));
}
