// IHostSharing: the sharing rules that one open file description keeps on its
// file, held as open file description locks on marker bytes of the file.
//
// A description says what it does and what it denies others with four
// markers: "reads", "writes", "denies reading", "denies writing". It holds a
// marker by holding a lock on some byte of the marker's range; F_OFD_GETLK
// shows it the locks of every other description and never its own. An open is
// refused when it wants an access that a holder denies, or denies an access
// that a holder has. The rules bind only programs that use this protocol:
// like every advisory lock, they keep out no one who calls open(2) directly.
//
// The locks belong to the description, not to a process: a child made by
// fork(2) shares them. release() lifts them only in the process that took them,
// so a child closing its copy never lifts its parent's rules; if the parent
// goes first, they last until the child's copy closes too (O_CLOEXEC closes
// it at exec).
#pragma once

#include "kbexport.hpp"

#include <string>
#include <sys/types.h>
#include <utility>

struct flock;

class IHostSharing {
public:
  // Accesses, with the values of ios::in and ios::out.
  enum EAccess { kRead = 1, kWrite = 2, kReadWrite = kRead | kWrite };
  // Makes the lock calls of fcntl(2) (F_OFD_SETLK, F_OFD_GETLK); null means
  // fcntl itself. A test passes one that fails or that lets a rival in.
  using ILockCall = int (*)(int descriptor, int command, struct flock* lock);

  // Holds nothing.
  IHostSharing() = default;
  // One holder per claim: a move hands the markers on, so that only one
  // object can release them.
  IHostSharing(IHostSharing&& other) noexcept { *this = std::move(other); }
  IHostSharing& operator=(IHostSharing&& other) noexcept {
    fDescriptor = other.fDescriptor;
    fPath = std::move(other.fPath);
    fLockCall = other.fLockCall;
    fOwner = other.fOwner;
    other.fOwner = 0;
    return *this;
  }
  IHostSharing(const IHostSharing&) = delete;
  IHostSharing& operator=(const IHostSharing&) = delete;

  // Checks `access` (kRead, kWrite or both: what the stream on `descriptor`
  // does) and the accesses that `granted` lacks (what it denies others; bits
  // other than kRead and kWrite are ignored) against every other holder, then
  // holds the markers. `descriptor` is a fresh open of a regular file and
  // holds no locks yet; it is open for what `access` says (for reading when
  // it has kRead, for writing when it has kWrite), and may be open for more.
  //
  // A conflict throws IAccessError with EBUSY, naming `path` and saying
  // "sharing violation" and why. Where the file system keeps no such locks
  // (the lock call fails with ENOLCK, EINVAL, EOPNOTSUPP or ENOSYS), a claim
  // that denies nothing succeeds and holds nothing, and any other throws
  // IAccessError with that errno. A failed claim leaves no lock held. Not
  // safe to use from two threads at once on one descriptor.
  static IHostSharing claim(int descriptor, const std::string& path, int access, int granted,
                            ILockCall lockCall = nullptr);

  // Lifts the markers if this process took them (see above), else only
  // forgets them. Throws IAccessError when the unlock fails; the markers then
  // go when the description is closed.
  void release();

  bool holds() const { return fOwner != 0; }

private:
  IHostSharing(int descriptor, std::string path, ILockCall lockCall, pid_t owner);

  int fDescriptor = -1;         // the description's descriptor, owned by the stream
  std::string fPath;            // for errors only
  ILockCall fLockCall = nullptr;
  pid_t fOwner = 0;             // the process that took the markers; 0 when none are held
};
