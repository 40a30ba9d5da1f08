// The system calls of the benchmarks' own side: the raw peers and the files
// that every peer reads. Each call is retried on EINTR and a failure throws
// std::system_error naming the operation, the path and the error.
#pragma once

#include <cstddef>
#include <string>
#include <sys/types.h>

[[noreturn]] void throwSystemError(const char* operation, const std::string& path, int error);

// IDescriptor: an owned file descriptor and the path that its errors name.
class IDescriptor {
public:
  IDescriptor(const std::string& path, int flags);
  ~IDescriptor();
  IDescriptor(const IDescriptor&) = delete;
  IDescriptor& operator=(const IDescriptor&) = delete;

  int fd() const { return fDescriptor; }
  // One read(2) of at most `count` bytes; 0 at the end of the file.
  std::size_t readSome(void* buffer, std::size_t count);
  std::size_t preadSome(void* buffer, std::size_t count, off_t offset);
  // Every byte, continuing short writes.
  void writeAll(const void* buffer, std::size_t count);
  off_t seek(off_t offset, int whence);
  off_t size() const;
  void syncData();
  // Reports a failing close(2); never retried.
  void close();

private:
  int fDescriptor;
  std::string fPath;
};

// Writes `count` bytes to a new file at `path` in 64 KiB pieces, then
// syncs it, so that it sits clean in the page cache.
void writeFileInPieces(const std::string& path, const char* data, std::size_t count);
// The whole file.
std::string readWholeFile(const std::string& path);
// Removes the file if it exists.
void removeFile(const std::string& path);
