// IHostSharing: the sharing rules that one open file description keeps on its
// file: what its stream does, and what it denies others.
//
// The rules of all processes meet in open file description locks on marker
// bytes of the file (hostmark.hpp); those of this process meet in memory as
// well (hostclaims.hpp), where one description per kind holds the lock for all
// of that kind's streams: an open beside holders of its own kind, or refused
// by a stream of its own process, takes no lock, and the file's locks grow
// with the processes that share it, not with the streams. When that
// description's stream closes while others of its kind remain open, the lock
// moves to one of theirs first. An open is refused when it wants an access
// that a holder denies, or denies an access that a holder has. The rules bind
// only programs that use this protocol: like every advisory lock, they keep
// out no one who calls open(2) directly.
//
// The locks belong to the description, not to a process: a child made by
// fork(2) shares them. release() lifts them only in the process that took them,
// so a child closing its copy never lifts its parent's rules; if the parent
// goes first, they last until the child's copy closes too (O_CLOEXEC closes
// it at exec). A child starts with no claims of its own in memory.
#pragma once

#include "hostclaims.hpp"
#include "iaccess.hpp"

#include <string>

struct stat;

namespace kelhost {

class IMarkers;

class IHostSharing {
public:
  // Holds nothing.
  IHostSharing() = default;
  // The registry knows the claim where it is: it neither moves nor copies.
  IHostSharing(const IHostSharing&) = delete;
  IHostSharing& operator=(const IHostSharing&) = delete;
  // Releases what is still held, dropping a failure (closing the descriptor
  // lifts the locks anyway).
  ~IHostSharing() { releaseQuietly(); }

  // Checks `access` (what the stream on `descriptor` does) and what `granted`
  // lacks (what it denies others) against every other holder, then holds the
  // claim, here. `descriptor` is a fresh open that holds no locks yet; it is
  // open for what `access` says, and may be open for more. It must stay open
  // until release(). This object holds nothing yet.
  //
  // `file` is the descriptor's fstat(2), which the caller has where the
  // descriptor may be a directory: only a regular file is claimed. With null,
  // the claim asks fstat(2) only when it must: when this process holds other
  // claims, or when the markers meet another's. Until then it takes the
  // markers on whatever the descriptor is, a device or a FIFO too, and holds
  // them; other streams are not hindered by that, since an open that meets
  // markers looks at its own file before it refuses, and one whose file is
  // not regular drops its own and ends unclaimed (holds() is false).
  //
  // A conflict throws IAccessError with EBUSY, naming `path` and saying
  // "sharing violation" and why. Where the file system keeps no such locks
  // (the lock call fails with ENOLCK, EINVAL, EOPNOTSUPP or ENOSYS), a claim
  // that denies nothing succeeds and holds nothing, and any other throws
  // IAccessError with that errno. IInvalidParameter for an access of neither
  // reading nor writing. A failed claim leaves no lock held. Safe to call from
  // several threads at once, each on its own descriptor.
  void claim(int descriptor, const std::string& path, IAccess access, IAccess granted,
             const struct stat* file = nullptr);

  // Ends the claim if this process made it (see above), else only forgets
  // it; call it before the descriptor is closed. Throws IAccessError naming
  // `path` when a lock call fails; the claim is over all the same, and its
  // lock goes when the description is closed.
  void release(const std::string& path);

  bool holds() const { return fEntry.fHeld; }

private:
  bool settle(IMarkers& markers, const std::string& path);
  bool lookUp(const struct stat& file);
  bool lookUp(const std::string& path);
  void releaseQuietly() noexcept;

  IClaimRegistry::IEntry fEntry; // the claim; in the registry while held by this process
};

} // namespace kelhost
