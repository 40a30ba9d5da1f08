// The system calls of the host layer and of the runtime's descriptor buffer,
// through one table that tests replace, and the retrying that both need.
//
// Header only, so that libkelbase (under IPosix) and libkelrt (under
// IDescriptorBuf, which throws nothing) share one source without one library
// needing the other: each shared object keeps a copy of the table, hidden in
// it, and a program linking the static archives has one, which a test's
// script thus reaches in both.
#pragma once

#include <cerrno>
#include <cstddef>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

namespace kelhost {

// One pointer per system call. current() is the table in use; a test
// replaces entries to script EINTR, short transfers, failures and answers,
// and puts system() back when it is done.
struct IHostCalls {
  int (*open)(const char* path, int flags, mode_t mode);
  int (*close)(int descriptor);
  ssize_t (*read)(int descriptor, void* buffer, std::size_t count);
  ssize_t (*write)(int descriptor, const void* buffer, std::size_t count);
  off_t (*lseek)(int descriptor, off_t offset, int whence);
  int (*ftruncate)(int descriptor, off_t size);
  int (*fstat)(int descriptor, struct stat* status);
  int (*stat)(const char* path, struct stat* status);
  int (*fcntl)(int descriptor, int command, struct flock* lock); // the lock commands, and F_GETFL with a null lock

  static IHostCalls& current() { return fCurrent; }
  static const IHostCalls& system() { return kSystem; }

private:
  static int systemOpen(const char* path, int flags, mode_t mode) { return ::open(path, flags, mode); }
  static int systemClose(int descriptor) { return ::close(descriptor); }
  static ssize_t systemRead(int descriptor, void* buffer, std::size_t count) {
    return ::read(descriptor, buffer, count);
  }
  static ssize_t systemWrite(int descriptor, const void* buffer, std::size_t count) {
    return ::write(descriptor, buffer, count);
  }
  static off_t systemSeek(int descriptor, off_t offset, int whence) { return ::lseek(descriptor, offset, whence); }
  static int systemTruncate(int descriptor, off_t size) { return ::ftruncate(descriptor, size); }
  static int systemFstat(int descriptor, struct stat* status) { return ::fstat(descriptor, status); }
  static int systemStat(const char* path, struct stat* status) { return ::stat(path, status); }
  static int systemFcntl(int descriptor, int command, struct flock* lock) {
    return ::fcntl(descriptor, command, lock);
  }

  static const IHostCalls kSystem;
  static IHostCalls fCurrent;
};

inline constexpr IHostCalls IHostCalls::kSystem = {systemOpen,     systemClose, systemRead, systemWrite, systemSeek,
                                                   systemTruncate, systemFstat, systemStat, systemFcntl};
inline IHostCalls IHostCalls::fCurrent = IHostCalls::kSystem;

// The calls of the current table with EINTR retried, throwing nothing.
struct IHostRetry {
  // Calls `call` until it ends with something other than EINTR.
  template <class ICall> static auto call(ICall call) {
    for (;;) {
      const auto result = call();
      if (result >= 0 || errno != EINTR)
        return result;
    }
  }

  // One read(2): the count read, 0 at the end, -1 with errno on failure.
  static ssize_t read(int descriptor, void* buffer, std::size_t count) {
    return call([&] { return IHostCalls::current().read(descriptor, buffer, count); });
  }

  // Writes all `count` bytes, continuing short writes: the count written,
  // less on failure, with `error` its errno, or 0 when write(2) took no
  // bytes (for a non-zero count that would loop for ever).
  static std::size_t writeAll(int descriptor, const void* buffer, std::size_t count, int& error) {
    const char* next = static_cast<const char*>(buffer);
    std::size_t left = count;
    error = 0;
    while (left > 0) {
      const ssize_t done = call([&] { return IHostCalls::current().write(descriptor, next, left); });
      if (done <= 0) {
        error = done < 0 ? errno : 0;
        break;
      }
      next += done;
      left -= static_cast<std::size_t>(done);
    }
    return count - left;
  }

  static off_t seek(int descriptor, off_t offset, int whence) {
    return call([&] { return IHostCalls::current().lseek(descriptor, offset, whence); });
  }
};

} // namespace kelhost
