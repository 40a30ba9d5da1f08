// The sharing protocol: marker locks at the top of the file's offsets, taken
// in two steps so that two racing opens never both succeed.
#include "hostshar.hpp"

#include "iexcept.hpp"
#include "posix.hpp"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <limits>
#include <random>
#include <thread>
#include <unistd.h>

namespace {

enum EMarker { kReads, kWrites, kDeniesReading, kDeniesWriting, kMarkerCount };

// The marker that conflicts with `marker`: "reads" with "denies reading" and
// so on, in both directions.
EMarker opposite(EMarker marker) { return static_cast<EMarker>(marker ^ 2); }

// Bytes per marker. Descriptions that read share a read lock on the first
// byte; one that only writes may be open for writing alone, which cannot take
// a read lock (EBADF), so it takes a write lock on a byte of its own among the
// rest.
constexpr off_t kSlots = off_t(1) << 20;

// Pending markers (an open between its two steps), then held markers, ending
// just below the largest off_t. Real files keep no data that far out (it
// takes a file of 8 EiB; ext4 stops at 16 TiB), so no program's locks on its
// own records touch them, and locks past the end of a file are allowed and take
// no room (fcntl(2)). The one lock that does reach them is a lock "to the end
// of the file" (l_len 0): it is reported as such.
constexpr off_t kRegionStart = std::numeric_limits<off_t>::max() - 2 * kMarkerCount * kSlots;
constexpr off_t kPendingStart = kRegionStart;
constexpr off_t kHeldStart = kRegionStart + kMarkerCount * kSlots;
constexpr off_t kRegionLength = 2 * kMarkerCount * kSlots;

off_t markerStart(off_t area, EMarker marker) { return area + marker * kSlots; }

// Racing opens that saw each other both step back; each tries again after a
// random pause that grows, up to this many times (about a second in all).
constexpr int kMaxAttempts = 200;
constexpr long kFirstPauseMicros = 100;
constexpr long kLongestPauseMicros = 10000;

int systemLock(int descriptor, int command, struct flock* lock) {
  return IHostCalls::current().fcntl(descriptor, command, lock);
}

bool noSuchLocks(int error) { return error == ENOLCK || error == EINVAL || error == EOPNOTSUPP || error == ENOSYS; }

bool inTheWay(int error) { return error == EAGAIN || error == EACCES; } // EACCES: POSIX allows either

[[noreturn]] void refuse(const std::string& path, const std::string& reason) {
  IThrowSystemError("open", path, EBUSY, "sharing violation: " + reason);
}

const char* conflictText(EMarker heldByOther) {
  switch (heldByOther) {
  case kReads:
    return "the file is open elsewhere for reading, which this open's sharing mode denies";
  case kWrites:
    return "the file is open elsewhere for writing, which this open's sharing mode denies";
  case kDeniesReading:
    return "the file is open elsewhere with a sharing mode that lets no one else read it";
  default:
    return "the file is open elsewhere with a sharing mode that lets no one else write it";
  }
}

constexpr char kForeignText[] = "another program holds a record lock that reaches over the whole file";

// The locks that one claim takes on one description.
class IClaim {
public:
  // A description that reads takes read locks; one that only writes takes
  // write locks, which any description can.
  IClaim(int descriptor, const std::string& path, IHostSharing::ILockCall lockCall, bool readable)
      : fDescriptor(descriptor), fPath(path), fLockCall(lockCall), fReadable(readable) {}

  // Takes a lock on a byte of the marker at `start`: 0, or EAGAIN when a lock
  // that is not a marker's is in the way, or the lock call's errno.
  int hold(off_t start) {
    if (fReadable) {
      struct flock lock = lockOf(F_RDLCK, start, 1);
      return call(F_OFD_SETLK, lock) ? 0 : errno;
    }
    off_t slot = start + 1;
    while (slot < start + kSlots) {
      struct flock lock = lockOf(F_WRLCK, slot, 1);
      if (call(F_OFD_SETLK, lock))
        return 0;
      if (!inTheWay(errno))
        return errno;
      struct flock other = lockOf(F_WRLCK, slot, 1);
      if (!call(F_OFD_GETLK, other))
        return errno;
      if (other.l_type == F_UNLCK)
        continue; // gone in between
      if (isForeign(other, start))
        return EAGAIN;
      slot = other.l_start + other.l_len;
    }
    return EAGAIN; // every slot taken: not by markers, in all likelihood
  }

  // A lock of another description on the marker at `start`, or one whose
  // l_type is F_UNLCK.
  struct flock other(off_t start) { return firstOther(start, kSlots); }

  // Whether another description holds any lock in the pending or the held
  // markers, whichever marker it is on.
  bool anyOther() { return firstOther(kRegionStart, kRegionLength).l_type != F_UNLCK; }

  // Whether `lock`, found on the marker at `start`, reaches outside it.
  static bool isForeign(const struct flock& lock, off_t start) {
    return lock.l_len == 0 || lock.l_start < start || lock.l_start + lock.l_len > start + kSlots;
  }

  void unlock(off_t start, off_t length) {
    struct flock lock = lockOf(F_UNLCK, start, length);
    if (!call(F_OFD_SETLK, lock))
      IThrowSystemError("unlock", fPath, errno, "the sharing markers cannot be released");
  }

  // For a claim that failed: whatever it took goes, and a failure here would
  // only hide the first one (closing the description drops the locks anyway).
  void unlockQuietly() noexcept {
    struct flock lock = lockOf(F_UNLCK, kRegionStart, kRegionLength);
    call(F_OFD_SETLK, lock);
  }

  static struct flock lockOf(short type, off_t start, off_t length) {
    struct flock lock {};
    lock.l_type = type;
    lock.l_whence = SEEK_SET;
    lock.l_start = start;
    lock.l_len = length; // l_pid stays 0, as the F_OFD_ commands require
    return lock;
  }

private:
  struct flock firstOther(off_t start, off_t length) {
    struct flock lock = lockOf(F_WRLCK, start, length);
    if (!call(F_OFD_GETLK, lock))
      IThrowSystemError("lock", fPath, errno, "the sharing markers cannot be tested");
    return lock;
  }

  bool call(int command, struct flock& lock) const {
    int result;
    do
      result = fLockCall(fDescriptor, command, &lock);
    while (result != 0 && errno == EINTR);
    return result == 0;
  }

  int fDescriptor;
  const std::string& fPath;
  IHostSharing::ILockCall fLockCall;
  bool fReadable;
};

void pauseBeforeRetry(int attempt, std::minstd_rand& random) {
  const long longest = std::min(kLongestPauseMicros, kFirstPauseMicros << std::min(attempt, 10));
  std::uniform_int_distribution<long> pick(longest / 4, longest);
  std::this_thread::sleep_for(std::chrono::microseconds(pick(random)));
}

} // namespace

IHostSharing::IHostSharing(int descriptor, std::string path, ILockCall lockCall, pid_t owner)
    : fDescriptor(descriptor), fPath(std::move(path)), fLockCall(lockCall), fOwner(owner) {}

IHostSharing IHostSharing::claim(int descriptor, const std::string& path, int access, int granted,
                                 ILockCall lockCall) {
  if ((access & kReadWrite) == 0 || (access & ~kReadWrite) != 0)
    throw IInvalidParameter("the sharing check of '" + path + "' was given the access " + std::to_string(access) +
                            ", which is none of read, write, both");
  if (!lockCall)
    lockCall = systemLock;

  EMarker mine[kMarkerCount];
  int count = 0;
  if (access & kRead)
    mine[count++] = kReads;
  if (access & kWrite)
    mine[count++] = kWrites;
  if (!(granted & kRead))
    mine[count++] = kDeniesReading;
  if (!(granted & kWrite))
    mine[count++] = kDeniesWriting;

  IClaim claim(descriptor, path, lockCall, (access & kRead) != 0);
  std::minstd_rand random;
  try {
    // Step 1 announces the open on the pending markers and looks for a racing
    // open; step 2 checks the held markers and moves to them. An open that
    // finds no pending rival has announced itself before looking, and holds
    // its markers before it withdraws the announcement, so of two conflicting
    // opens the later looker always sees the other (on one marker or the other).
    //
    // The usual open has the file to itself: one look over both areas at
    // once, made after the announcement, finds no lock of anyone else and
    // stands for all the looks of both steps. It sees the same as they would
    // (an open is on one area or the other from its announcement until it
    // closes), only at a single moment. Anything it finds is sorted out by
    // the looks marker by marker.
    for (int attempt = 1;; ++attempt) {
      for (int i = 0; i < count; ++i) {
        const int error = claim.hold(markerStart(kPendingStart, mine[i]));
        if (error == EAGAIN)
          refuse(path, kForeignText);
        if (error != 0 && attempt == 1 && i == 0 && noSuchLocks(error)) {
          if ((granted & kReadWrite) == kReadWrite)
            return IHostSharing();
          IThrowSystemError("open", path, error,
                            "the file system keeps no open file description locks, so no sharing mode that "
                            "denies others reading or writing can be kept; only ios::in | ios::out opens here");
        }
        if (error != 0)
          IThrowSystemError("lock", path, error, "the sharing markers cannot be taken");
      }

      const bool alone = !claim.anyOther();
      bool racing = false;
      for (int i = 0; i < count && !racing && !alone; ++i) {
        const off_t start = markerStart(kPendingStart, opposite(mine[i]));
        const struct flock other = claim.other(start);
        if (other.l_type != F_UNLCK && IClaim::isForeign(other, start))
          refuse(path, kForeignText);
        racing = other.l_type != F_UNLCK;
      }

      if (!racing) {
        for (int i = 0; i < count && !alone; ++i) {
          const off_t start = markerStart(kHeldStart, opposite(mine[i]));
          const struct flock other = claim.other(start);
          if (other.l_type != F_UNLCK)
            refuse(path, IClaim::isForeign(other, start) ? kForeignText : conflictText(opposite(mine[i])));
        }
        for (int i = 0; i < count; ++i) {
          const int error = claim.hold(markerStart(kHeldStart, mine[i]));
          if (error == EAGAIN)
            refuse(path, kForeignText);
          if (error != 0)
            IThrowSystemError("lock", path, error, "the sharing markers cannot be taken");
        }
        claim.unlock(kPendingStart, kMarkerCount * kSlots);
        return IHostSharing(descriptor, path, lockCall, ::getpid());
      }

      claim.unlock(kPendingStart, kMarkerCount * kSlots);
      if (attempt == kMaxAttempts)
        refuse(path, "other opens of the file kept racing with this one");
      if (attempt == 1)
        random.seed(static_cast<unsigned>(::getpid()) ^ static_cast<unsigned>(descriptor) ^
                    static_cast<unsigned>(std::chrono::steady_clock::now().time_since_epoch().count()));
      pauseBeforeRetry(attempt, random);
    }
  } catch (...) {
    claim.unlockQuietly();
    throw;
  }
}

void IHostSharing::release() {
  if (fOwner == 0)
    return;
  const bool ours = fOwner == ::getpid();
  fOwner = 0;
  if (!ours)
    return;
  IClaim(fDescriptor, fPath, fLockCall, false).unlock(kRegionStart, kRegionLength);
}
