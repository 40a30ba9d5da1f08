// The byte stream over a borrowed descriptor, and the host's IFile::borrowing.
#include "hostdesc.hpp"

#include "iexcept.hpp"
#include "ifilesys.hpp"
#include "posix.hpp"

#include <sys/stat.h>

IBorrowedStream::IBorrowedStream(int fd)
    : fDescriptor(fd), fName(nameOf(fd)), fAccess(IPosix::accessOfDescriptor(fd, fName)), fSeekable(false) {
  const struct stat status = IPosix::status(fd, fName);
  fSeekable = S_ISREG(status.st_mode) || S_ISBLK(status.st_mode);
}

IBorrowedStream::~IBorrowedStream() = default;

int IBorrowedStream::checked(const char* operation) const {
  if (fClosed)
    throw IInvalidRequest(std::string(operation) + " of '" + fName + "' after its stream was closed");
  return fDescriptor;
}

void IBorrowedStream::close() { fClosed = true; }

std::ptrdiff_t IBorrowedStream::doRead(void* buffer, int count) {
  const int fd = checked("read");
  if (count <= 0)
    return 0;
  return static_cast<std::ptrdiff_t>(IPosix::readSome(fd, buffer, static_cast<std::size_t>(count), fName));
}

void IBorrowedStream::doWrite(const void* buffer, int count) {
  const int fd = checked("write");
  if (count > 0)
    IPosix::writeAll(fd, buffer, static_cast<std::size_t>(count), fName);
}

IFileSize IBorrowedStream::doSeek(IFileSize offset, seek_dir dir) {
  const int fd = checked("seek");
  return IPosix::seek(fd, static_cast<off_t>(offset), IOpenMode::whenceOf(dir, fName), fName);
}

IFileSize IBorrowedStream::endOfFile() const { return IPosix::status(checked("stat"), fName).st_size; }

void IBorrowedStream::setEndOfFile(IFileSize size) {
  const int fd = checked("truncate");
  if (size < 0)
    throw IInvalidParameter("truncate of '" + fName + "' to " + std::to_string(size) +
                            " bytes: a file size cannot be negative");
  IPosix::truncate(fd, static_cast<off_t>(size), fName);
}

IBorrowedRecord::IBorrowedRecord(int fd)
    : fDescriptor(fd), fAccess(0), fFirst(std::make_unique<IBorrowedStream>(fd)) {
  fAccess = fFirst->access();
}

IBorrowedRecord::~IBorrowedRecord() = default;

IFSFileStream* IBorrowedRecord::createStream(int, int) const {
  if (fFirst)
    return fFirst.release();
  return new IBorrowedStream(fDescriptor);
}

// The host's part of the file objects: a file named by a descriptor.
IFile IFile::borrowing(int descriptor, int* access) {
  auto record = std::make_shared<IBorrowedRecord>(descriptor);
  if (access)
    *access = record->access();
  return IFile(std::move(record));
}
