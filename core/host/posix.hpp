// The POSIX layer of the host code: the system calls it makes (through the
// table of hostcall.hpp, which tests replace), the owner of a descriptor,
// wrappers that retry EINTR and throw what fails with a reason in words, and
// the meaning of open modes.
//
// Private to libkelbase. It knows nothing of what the host record, the byte
// streams and the sharing rules decide with these calls.
#pragma once

#include "fsstream.hpp"
#include "hostcall.hpp"
#include "iaccess.hpp"

#include <cstddef>
#include <string>
#include <sys/types.h>

namespace kelhost {

// Owns one descriptor (or none) and closes it once. Moves hand it on.
class IDescriptor {
public:
  IDescriptor() = default;
  explicit IDescriptor(int descriptor) : fDescriptor(descriptor) {}
  IDescriptor(IDescriptor&& other) noexcept : fDescriptor(other.fDescriptor) { other.fDescriptor = -1; }
  IDescriptor& operator=(IDescriptor&& other) noexcept;
  IDescriptor(const IDescriptor&) = delete;
  IDescriptor& operator=(const IDescriptor&) = delete;
  ~IDescriptor() { reset(); }

  int get() const { return fDescriptor; }
  bool isOpen() const { return fDescriptor >= 0; }

  // Closes the descriptor and reports a failure of close(2) as an
  // IAccessError naming `path`. The descriptor is gone either way: close(2)
  // is never retried, since Linux releases the number even when it fails and
  // a second close could hit a descriptor another thread has just opened.
  // EINTR is no failure for the same reason. Nothing to close does nothing.
  void close(const std::string& path);
  // Closes the descriptor, if any, ignoring a failure.
  void reset() noexcept;
  // Gives the descriptor up unclosed, for an owner that only borrowed it.
  int release() noexcept {
    const int descriptor = fDescriptor;
    fDescriptor = -1;
    return descriptor;
  }

private:
  int fDescriptor = -1;
};

// The system calls with EINTR retried and failures thrown as IAccessError
// with errorId() errno, naming the operation and `path`.
class IPosix {
public:
  // open(2) with O_CLOEXEC added; new files get `mode` less the umask.
  // `operation` names the open in a failure ("open", "create").
  static IDescriptor open(const std::string& path, int flags, mode_t mode = 0666, const char* operation = "open");
  // The same, for a caller that handles some failures itself: 0 with the
  // descriptor in `opened`, or the errno of the failure.
  static int tryOpen(const std::string& path, int flags, mode_t mode, IDescriptor& opened);
  // One read(2) of at most `count` bytes; 0 at the end.
  static std::size_t readSome(int descriptor, void* buffer, std::size_t count, const std::string& path);
  // Writes all `count` bytes, continuing short writes; write(2) taking no
  // bytes is an EIO failure. A failure throws IWriteError, which says how
  // many bytes went out before it: those stay written (nothing is undone,
  // there is no seeking back), so a retry writes only the rest.
  static void writeAll(int descriptor, const void* buffer, std::size_t count, const std::string& path);
  // lseek(2); a position before 0 is refused with EINVAL before the call.
  static off_t seek(int descriptor, off_t offset, int whence, const std::string& path);
  static void truncate(int descriptor, off_t size, const std::string& path);
  static struct stat status(int descriptor, const std::string& path);
  // The status flags of an open descriptor (fcntl F_GETFL); EBADF and the
  // like fail as "attach".
  static int flagsOfDescriptor(int descriptor, const std::string& path);
  // The ios::open_mode access bits (IOpenMode::kIn, kOut) of those flags.
  static int accessOfFlags(int flags);
  // fcntl(2) with a lock command (F_OFD_SETLK, F_OFD_GETLK): 0, or the errno
  // of the failure, for the caller to read (EAGAIN is an answer there).
  static int lock(int descriptor, int command, struct flock& lock);
  // stat(2) of a path: 0, or the errno of the failure.
  static int lookUp(const std::string& path, struct stat& status);

  // Throws the IAccessError for `error`, with the reason in words where the
  // system's text alone would leave the reader guessing.
  [[noreturn]] static void fail(const char* operation, const std::string& path, int error);
};

// The ios::open_mode bits as the host sees them; static_asserts in posix.cpp
// tie them to ios.
struct IOpenMode {
  static constexpr int kIn = 1, kOut = 2, kAte = 4, kApp = 8, kTrunc = 16, kNoCreate = 32, kNoReplace = 64,
                       kBin = 128;

  // The access that `myMode` asks for (IAccess::ofMode); IInvalidParameter
  // naming `path` for a mode that asks for neither reading nor writing.
  static IAccess accessOf(int myMode, const std::string& path);
  // The open(2) flags for `access`: O_RDONLY, O_WRONLY or O_RDWR, with
  // O_APPEND when `myMode` has app, so that every write lands at the file's
  // end as it is at that moment, whoever else writes to it. Never O_TRUNC:
  // the stream cuts once its sharing claim succeeded.
  static int flagsOf(IAccess access, int myMode);
  // SEEK_SET, SEEK_CUR or SEEK_END; IInvalidParameter naming `path` for any other direction.
  static int whenceOf(IFSFileStream::seek_dir dir, const std::string& path);
};

} // namespace kelhost
