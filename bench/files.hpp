// The files of the benchmark's own side: the inputs every peer reads, the
// checks of what a peer wrote, and the standard descriptors moved onto them.
// Descriptors and their reads and writes are the library's host layer
// (posix.hpp); what it lacks (fdatasync, pread, unlink, dup) is here, each
// call retried on EINTR and a failure thrown as std::system_error naming
// the operation, the path and the error.
#pragma once

#include "posix.hpp"

#include <cerrno>
#include <cstddef>
#include <string>
#include <sys/types.h>

namespace kfbench {

using kelhost::IDescriptor;
using kelhost::IPosix;

[[noreturn]] void throwSystemError(const char* operation, const std::string& path, int error);

// Calls `call` until it ends with something other than EINTR.
template <class Call> auto retried(Call call) {
  for (;;) {
    const auto result = call();
    if (result >= 0 || errno != EINTR)
      return result;
  }
}

// One pread(2) of at most `count` bytes at `offset`; 0 at the end of the file.
std::size_t readAt(const IDescriptor& file, void* buffer, std::size_t count, off_t offset, const std::string& path);
// Writes `count` bytes to a new file at `path` in 64 KiB pieces, then
// syncs it, so that it sits clean in the page cache.
void writeFileInPieces(const std::string& path, const char* data, std::size_t count);
// The whole file.
std::string readWholeFile(const std::string& path);
// Removes the file if it exists.
void removeFile(const std::string& path);

// IMovedDescriptor: descriptor `target` (0 or 1) moved onto `path` while the object lives.
class IMovedDescriptor {
public:
  IMovedDescriptor(int target, const std::string& path, int flags);
  ~IMovedDescriptor();
  IMovedDescriptor(const IMovedDescriptor&) = delete;
  IMovedDescriptor& operator=(const IMovedDescriptor&) = delete;

private:
  int fTarget;
  IDescriptor fSaved;
};

} // namespace kfbench
