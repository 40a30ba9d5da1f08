// IHostSharing: the sharing rules that one open file description keeps on its
// file, held as open file description locks on marker bytes of the file.
//
// What a stream does and what it denies others make its kind: reads, writes,
// denies reading, denies writing, any mix with at least one access. Each kind
// has a range of marker bytes; a description shows its kind by a lock in that
// range, and F_OFD_GETLK shows it the locks of every other description and
// never its own. An open is refused when it wants an access that a holder
// denies, or denies an access that a holder has. The rules bind only programs
// that use this protocol: like every advisory lock, they keep out no one who
// calls open(2) directly.
//
// Within one process the claims on a file are kept in memory as well, and one
// description per kind holds the lock for all of that kind's streams: an open
// beside holders of its own kind, or refused by a stream of its own process,
// takes no lock, and the file's locks grow with the processes that share it,
// not with the streams. When that description's stream closes while others of
// its kind remain open, the lock moves to one of theirs first.
//
// The locks belong to the description, not to a process: a child made by
// fork(2) shares them. release() lifts them only in the process that took them,
// so a child closing its copy never lifts its parent's rules; if the parent
// goes first, they last until the child's copy closes too (O_CLOEXEC closes
// it at exec). A child starts with no claims of its own in memory.
#pragma once

#include "kbexport.hpp"

#include <string>
#include <sys/types.h>
#include <utility>

struct flock;
struct stat;

class IHostSharing {
public:
  // Accesses, with the values of ios::in and ios::out.
  enum EAccess { kRead = 1, kWrite = 2, kReadWrite = kRead | kWrite };
  // Makes the lock calls of fcntl(2) (F_OFD_SETLK, F_OFD_GETLK); null means
  // fcntl itself. A test passes one that fails or that lets a rival in.
  using ILockCall = int (*)(int descriptor, int command, struct flock* lock);

  // Holds nothing.
  IHostSharing() = default;
  // One holder per claim: a move hands the claim on, so that only one object
  // can release it.
  IHostSharing(IHostSharing&& other) noexcept { take(other); }
  IHostSharing& operator=(IHostSharing&& other) noexcept {
    if (this != &other) {
      releaseQuietly();
      take(other);
    }
    return *this;
  }
  IHostSharing(const IHostSharing&) = delete;
  IHostSharing& operator=(const IHostSharing&) = delete;
  // Releases what is still held, dropping a failure (closing the descriptor
  // lifts the locks anyway).
  ~IHostSharing() { releaseQuietly(); }

  // Checks `access` (kRead, kWrite or both: what the stream on `descriptor`
  // does) and the accesses that `granted` lacks (what it denies others; bits
  // other than kRead and kWrite are ignored) against every other holder, then
  // holds the claim. `descriptor` is a fresh open of a regular file and holds
  // no locks yet; it is open for what `access` says (for reading when it has
  // kRead, for writing when it has kWrite), and may be open for more. It
  // must stay open until release(). `file` is its fstat(2), when the caller
  // has it; null makes the claim ask.
  //
  // A conflict throws IAccessError with EBUSY, naming `path` and saying
  // "sharing violation" and why. Where the file system keeps no such locks
  // (the lock call fails with ENOLCK, EINVAL, EOPNOTSUPP or ENOSYS), a claim
  // that denies nothing succeeds and holds nothing, and any other throws
  // IAccessError with that errno. A failed claim leaves no lock held. Safe
  // to call from several threads at once, each on its own descriptor.
  static IHostSharing claim(int descriptor, const std::string& path, int access, int granted,
                            ILockCall lockCall = nullptr, const struct stat* file = nullptr);

  // Ends the claim if this process made it (see above), else only forgets
  // it; call it before the descriptor is closed. Throws IAccessError when a
  // lock call fails; the claim is over all the same, and its lock goes when
  // the description is closed.
  void release();

  bool holds() const { return fHeld; }

private:
  void take(IHostSharing& other) noexcept {
    fDescriptor = other.fDescriptor;
    fPath = std::move(other.fPath);
    fLockCall = other.fLockCall;
    fDevice = other.fDevice;
    fInode = other.fInode;
    fKind = other.fKind;
    fGeneration = other.fGeneration;
    fForks = other.fForks;
    fHeld = other.fHeld;
    other.fHeld = false;
  }
  void releaseQuietly() noexcept;

  int fDescriptor = -1;          // the description's descriptor, owned by the stream
  std::string fPath;             // for errors only
  ILockCall fLockCall = nullptr;
  dev_t fDevice = 0;             // the file, as the claims in memory know it
  ino_t fInode = 0;
  unsigned fKind = 0;            // what it does and denies
  unsigned long fGeneration = 0; // the process that made the claim, counted in forks
  unsigned long fForks = 0;      // the forks that process had made by then
  bool fHeld = false;
};
