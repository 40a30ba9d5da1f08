// The sharing protocol: one marker lock per kind of holder near the top of the
// file's offsets, announced before the look for rivals so that two racing opens
// never both succeed; and the claims of this process, kept in memory.
#include "hostshar.hpp"

#include "iexcept.hpp"
#include "posix.hpp"

#include <algorithm>
#include <cstdint>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <limits>
#include <map>
#include <memory>
#include <mutex>
#include <pthread.h>
#include <random>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <unordered_set>

namespace {

// A kind is what a holder does and what it denies, as bits.
constexpr unsigned kReadsBit = 1;
constexpr unsigned kWritesBit = 2;
constexpr unsigned kDeniesReadingBit = 4;
constexpr unsigned kDeniesWritingBit = 8;
constexpr unsigned kKinds = 16;

constexpr unsigned accessOf(unsigned kind) { return kind & 3u; }
constexpr unsigned deniedOf(unsigned kind) { return kind >> 2; }
constexpr bool clash(unsigned a, unsigned b) {
  return (accessOf(a) & deniedOf(b)) != 0 || (accessOf(b) & deniedOf(a)) != 0;
}

// The kinds lie in the order of a Gray code whose two highest bits are the
// denials: the kinds that deny reading, those that deny writing and those that
// deny either make one run each, so the look of a stream that shares
// everything takes one call. Kinds without access hold nothing and may be
// looked over with their neighbours.
constexpr unsigned kindAt(unsigned position) {
  const unsigned gray = position ^ (position >> 1);
  return ((gray >> 3) & 1u) * kDeniesReadingBit | ((gray >> 2) & 1u) * kDeniesWritingBit |
         ((gray >> 1) & 1u) * kReadsBit | (gray & 1u) * kWritesBit;
}
constexpr unsigned positionOf(unsigned kind) {
  unsigned position = 0;
  while (kindAt(position) != kind)
    ++position;
  return position;
}

// Bytes per kind. A description that reads takes a read lock at the start of
// its kind, which all of them share; one open for writing alone cannot take a
// read lock (EBADF), so it takes a write lock at a random even offset of its
// own, which with 2^31 of them is free at the first try but for a chance of
// one in 200,000 beside 10,000 holders of its kind in other processes.
// Announced, a marker is locked with the byte after it; held, alone.
constexpr off_t kSlots = off_t(1) << 32;

// The kinds end just below the guard byte at the largest off_t but one. Real
// files keep no data that far out (it takes a file of 8 EiB; ext4 stops at
// 16 TiB), so no program's locks on its own records touch the markers, and
// locks past the end of a file are allowed and take no room (fcntl(2)). The
// one lock that does reach them is a lock "to the end of the file" (l_len 0):
// it covers the guard byte, which no marker ever locks, and is reported.
constexpr off_t kGuard = std::numeric_limits<off_t>::max() - 1;
constexpr off_t kRegionStart = kGuard - off_t(kKinds) * kSlots;

constexpr off_t kindStart(unsigned kind) { return kRegionStart + off_t(positionOf(kind)) * kSlots; }

static_assert(positionOf(kReadsBit | kWritesBit) < kKinds && kindAt(positionOf(kDeniesWritingBit)) == kDeniesWritingBit);

// Racing opens that saw each other both step back; each tries again after a
// random pause that grows, up to this many times (about a second in all).
constexpr int kMaxAttempts = 200;
constexpr long kFirstPauseMicros = 100;
constexpr long kLongestPauseMicros = 10000;
// Random offsets a writer tries before it takes the crowd for a foreign lock.
constexpr int kSlotTries = 16;

int systemLock(int descriptor, int command, struct flock* lock) {
  return IHostCalls::current().fcntl(descriptor, command, lock);
}

bool noSuchLocks(int error) { return error == ENOLCK || error == EINVAL || error == EOPNOTSUPP || error == ENOSYS; }

bool inTheWay(int error) { return error == EAGAIN || error == EACCES; } // EACCES: POSIX allows either

[[noreturn]] void refuse(const std::string& path, const std::string& reason) {
  IThrowSystemError("open", path, EBUSY, "sharing violation: " + reason);
}

constexpr char kForeignText[] = "another program holds a record lock that reaches over the whole file";

// Why a holder of `mine` cannot open beside holders of the kinds in `others`
// (a set of kinds, one bit per kind), or null when it can.
const char* clashText(unsigned mine, unsigned others) {
  unsigned seen = 0; // what any of them does or denies
  for (unsigned kind = 0; kind < kKinds; ++kind)
    if (others & (1u << kind))
      seen |= kind;
  if ((mine & kReadsBit) && (seen & kDeniesReadingBit))
    return "the file is open elsewhere with a sharing mode that lets no one else read it";
  if ((mine & kWritesBit) && (seen & kDeniesWritingBit))
    return "the file is open elsewhere with a sharing mode that lets no one else write it";
  if ((mine & kDeniesReadingBit) && (seen & kReadsBit))
    return "the file is open elsewhere for reading, which this open's sharing mode denies";
  if ((mine & kDeniesWritingBit) && (seen & kWritesBit))
    return "the file is open elsewhere for writing, which this open's sharing mode denies";
  return nullptr;
}

// The kinds that hold something and have every bit of `bits`.
unsigned kindsWith(unsigned bits) {
  unsigned set = 0;
  for (unsigned kind = 0; kind < kKinds; ++kind)
    if (accessOf(kind) != 0 && (kind & bits) == bits)
      set |= 1u << kind;
  return set;
}

unsigned clashingKinds(unsigned mine) {
  unsigned set = 0;
  for (unsigned kind = 0; kind < kKinds; ++kind)
    if (accessOf(kind) != 0 && clash(mine, kind))
      set |= 1u << kind;
  return set;
}

struct flock lockOf(short type, off_t start, off_t length) {
  struct flock lock {};
  lock.l_type = type;
  lock.l_whence = SEEK_SET;
  lock.l_start = start;
  lock.l_len = length; // l_pid stays 0, as the F_OFD_ commands require
  return lock;
}

// Whether `lock`, found among the kinds, is a marker: one or two bytes from an
// even offset within one kind.
bool isMarker(const struct flock& lock) {
  if ((lock.l_len != 1 && lock.l_len != 2) || lock.l_start < kRegionStart || lock.l_start >= kGuard)
    return false;
  const off_t offset = (lock.l_start - kRegionStart) % kSlots;
  return offset % 2 == 0 && offset + lock.l_len <= kSlots;
}

// A marker held, not only announced.
bool isHeld(const struct flock& lock) { return lock.l_len == 1; }

// The processes this one descends from, counted: a child made by fork(2)
// counts one more than its parent, so a claim made before a fork is seen to
// be a copy in the child. The forks this process made are counted apart: after
// none, closing a claim's descriptor lifts its lock with no call of its own.
std::atomic<unsigned long> gGeneration{1};
std::atomic<unsigned long> gForks{0};

void beforeFork() noexcept { gForks.fetch_add(1); }
void inChild() noexcept { gGeneration.fetch_add(1); }

unsigned long generation(const std::string& path) {
  static const int watching = ::pthread_atfork(beforeFork, nullptr, inChild);
  if (watching != 0)
    IThrowSystemError("open", path, watching, "the sharing rules cannot follow fork(2)");
  return gGeneration.load();
}

// The streams of one kind on one file in this process, and the one among them
// whose description holds the kind's lock for all.
struct IKindHolders {
  std::unordered_set<int> fDescriptors;
  int fCarrier = -1; // none: the kind's lock went with a failed hand-over
  off_t fMarker = 0;
};

struct IFileClaims {
  IKindHolders fKinds[kKinds];

  unsigned heldKinds() const {
    unsigned set = 0;
    for (unsigned kind = 0; kind < kKinds; ++kind)
      if (!fKinds[kind].fDescriptors.empty())
        set |= 1u << kind;
    return set;
  }
};

// The claims of this process, by file. A child of fork(2) starts a new one
// and leaves its parent's copy alone: a thread that is gone may have held its
// mutex at the fork, and its claims are the parent's.
struct IRegistry {
  std::mutex fMutex;
  std::map<std::pair<dev_t, ino_t>, IFileClaims> fFiles;
  unsigned long fGeneration = 0;
  IRegistry* fParents = nullptr; // the copies left by forks, kept reachable, never used
};

std::mutex gRegistryMutex; // guards gRegistry itself, not the claims in it
std::unique_ptr<IRegistry> gRegistry;

void lockRegistryForFork() noexcept { gRegistryMutex.lock(); }
void unlockRegistryAfterFork() noexcept { gRegistryMutex.unlock(); }

IRegistry& registry(unsigned long now) {
  static const int guarded = ::pthread_atfork(lockRegistryForFork, unlockRegistryAfterFork, unlockRegistryAfterFork);
  (void)guarded; // without it, a fork in the middle of this function could leave the child stuck here
  std::lock_guard<std::mutex> lock(gRegistryMutex);
  if (!gRegistry || gRegistry->fGeneration != now) {
    auto fresh = std::make_unique<IRegistry>();
    fresh->fGeneration = now;
    fresh->fParents = gRegistry.release();
    gRegistry = std::move(fresh);
  }
  return *gRegistry;
}

// The lock calls of one claim on one description.
class IMarkers {
public:
  IMarkers(int descriptor, const std::string& path, IHostSharing::ILockCall lockCall, unsigned kind)
      : fDescriptor(descriptor), fPath(path), fLockCall(lockCall), fKind(kind),
        fType((kind & kReadsBit) ? F_RDLCK : F_WRLCK) {}

  // Announces the kind: 0, or the lock call's errno; a foreign lock in the
  // way is refused.
  int announce() {
    for (int tries = 0; tries < kSlotTries; ++tries) {
      fMarker = kindStart(fKind) + (fType == F_RDLCK ? 0 : randomOffset());
      struct flock lock = lockOf(fType, fMarker, 2);
      if (call(F_OFD_SETLK, lock))
        return 0;
      if (!inTheWay(errno))
        return errno;
      if (fType == F_RDLCK)
        refuse(fPath, kForeignText); // markers never write-lock where readers go
      struct flock other = lockOf(F_WRLCK, fMarker, 2);
      if (!call(F_OFD_GETLK, other))
        return errno;
      if (other.l_type != F_UNLCK && !isMarker(other))
        refuse(fPath, kForeignText);
    }
    refuse(fPath, kForeignText); // every try taken: not by markers, in all likelihood
  }

  // Moves from announced to held.
  void hold() { unlock(fMarker + 1, 1); }

  // Takes the held marker at once, for a claim that exists already.
  void holdDirectly() {
    for (int tries = 0; tries < kSlotTries; ++tries) {
      fMarker = kindStart(fKind) + (fType == F_RDLCK ? 0 : randomOffset());
      struct flock lock = lockOf(fType, fMarker, 1);
      if (call(F_OFD_SETLK, lock))
        return;
      if (!inTheWay(errno) || fType == F_RDLCK)
        break;
    }
    IThrowSystemError("lock", fPath, inTheWay(errno) ? EBUSY : errno,
                      "the sharing markers cannot be handed to another stream of the file");
  }

  // A lock of another description on the kinds in `kinds`, or one whose
  // l_type is F_UNLCK.
  struct flock look(unsigned kinds) {
    unsigned position = 0;
    while (position < kKinds) {
      if (!(kinds & (1u << kindAt(position)))) {
        ++position;
        continue;
      }
      // A run: the kinds of the set, bridged over kinds that hold nothing.
      unsigned end = position + 1, last = position;
      while (end < kKinds && ((kinds & (1u << kindAt(end))) || accessOf(kindAt(end)) == 0)) {
        if (kinds & (1u << kindAt(end)))
          last = end;
        ++end;
      }
      struct flock lock = lockOf(F_WRLCK, kRegionStart + off_t(position) * kSlots, off_t(last + 1 - position) * kSlots);
      if (!call(F_OFD_GETLK, lock))
        IThrowSystemError("lock", fPath, errno, "the sharing markers cannot be tested");
      if (lock.l_type != F_UNLCK)
        return lock;
      position = last + 1;
    }
    return lockOf(F_UNLCK, 0, 0);
  }

  // Refuses when a lock reaches over the guard byte.
  void checkGuard() {
    struct flock lock = lockOf(F_WRLCK, kGuard, 1);
    if (!call(F_OFD_GETLK, lock))
      IThrowSystemError("lock", fPath, errno, "the sharing markers cannot be tested");
    if (lock.l_type != F_UNLCK)
      refuse(fPath, kForeignText);
  }

  void unlock(off_t start, off_t length) {
    struct flock lock = lockOf(F_UNLCK, start, length);
    if (!call(F_OFD_SETLK, lock))
      IThrowSystemError("unlock", fPath, errno, "the sharing markers cannot be released");
  }
  void unlockAll() { unlock(kRegionStart, kGuard - kRegionStart); }

  // For a claim that failed: whatever it took goes, and a failure here would
  // only hide the first one (closing the description drops the locks anyway).
  void unlockQuietly() noexcept {
    struct flock lock = lockOf(F_UNLCK, kRegionStart, kGuard - kRegionStart);
    call(F_OFD_SETLK, lock);
  }

  off_t marker() const { return fMarker; }

private:
  bool call(int command, struct flock& lock) const {
    int result;
    do
      result = fLockCall(fDescriptor, command, &lock);
    while (result != 0 && errno == EINTR);
    return result == 0;
  }

  // An even offset from 2 on; splitmix64 over the clock, the process and the
  // descriptor, so that a parent and its child do not pick alike.
  off_t randomOffset() {
    if (fRandom == 0)
      fRandom = static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()) ^
                (static_cast<std::uint64_t>(gGeneration.load()) << 40) ^ static_cast<std::uint64_t>(fDescriptor);
    std::uint64_t z = (fRandom += 0x9e3779b97f4a7c15u);
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9u;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebu;
    z ^= z >> 31;
    return 2 + 2 * static_cast<off_t>(z % static_cast<std::uint64_t>(kSlots / 2 - 1));
  }

  int fDescriptor;
  const std::string& fPath;
  IHostSharing::ILockCall fLockCall;
  unsigned fKind;
  short fType;
  off_t fMarker = 0;
  std::uint64_t fRandom = 0;
};

enum EAttempt { kHeld, kRacing, kUnprotected };

// One try of the protocol for a kind this process does not hold yet. The
// announcement comes before the look, and stays in place (shortened) while
// the marker is held, so of two conflicting opens the later looker always sees
// the other; a lock it sees that is held refuses it, one that is only
// announced is a racing open, and it steps back.
EAttempt attempt(IMarkers& markers, const std::string& path, unsigned kind) {
  if (const int error = markers.announce(); error != 0) {
    if (!noSuchLocks(error))
      IThrowSystemError("lock", path, error, "the sharing markers cannot be taken");
    if (deniedOf(kind) == 0)
      return kUnprotected;
    IThrowSystemError("open", path, error,
                      "the file system keeps no open file description locks, so no sharing mode that "
                      "denies others reading or writing can be kept; only ios::in | ios::out opens here");
  }
  const struct flock first = markers.look(clashingKinds(kind));
  if (first.l_type == F_UNLCK) {
    markers.hold();
    return kHeld;
  }
  if (!isMarker(first))
    refuse(path, kForeignText);
  // Someone is in the way: a holder refuses this open, with the reason that
  // comes first of those that apply; an announcement alone means a race.
  const struct {
    unsigned fMine, fTheirs;
  } reasons[] = {{kReadsBit, kDeniesReadingBit},
                 {kWritesBit, kDeniesWritingBit},
                 {kDeniesReadingBit, kReadsBit},
                 {kDeniesWritingBit, kWritesBit}};
  for (const auto& reason : reasons) {
    if (!(kind & reason.fMine))
      continue;
    const struct flock other = markers.look(kindsWith(reason.fTheirs));
    if (other.l_type == F_UNLCK)
      continue;
    if (!isMarker(other))
      refuse(path, kForeignText);
    if (isHeld(other))
      refuse(path, clashText(kind, 1u << kindAt(unsigned((other.l_start - kRegionStart) / kSlots))));
  }
  markers.unlock(markers.marker(), 2);
  return kRacing;
}

void pauseBeforeRetry(int attempt, std::minstd_rand& random) {
  const long longest = std::min(kLongestPauseMicros, kFirstPauseMicros << std::min(attempt, 10));
  std::uniform_int_distribution<long> pick(longest / 4, longest);
  std::this_thread::sleep_for(std::chrono::microseconds(pick(random)));
}

} // namespace

IHostSharing IHostSharing::claim(int descriptor, const std::string& path, int access, int granted,
                                 ILockCall lockCall, const struct stat* file) {
  if ((access & kReadWrite) == 0 || (access & ~kReadWrite) != 0)
    throw IInvalidParameter("the sharing check of '" + path + "' was given the access " + std::to_string(access) +
                            ", which is none of read, write, both");
  if (!lockCall)
    lockCall = systemLock;
  struct stat status;
  if (!file) {
    status = IPosix::status(descriptor, path);
    file = &status;
  }
  const unsigned kind = unsigned(access) | (unsigned(~granted & kReadWrite) << 2);
  const unsigned long now = generation(path);
  IRegistry& claims = registry(now);
  const std::pair<dev_t, ino_t> key(file->st_dev, file->st_ino);

  IHostSharing made;
  made.fDescriptor = descriptor;
  made.fLockCall = lockCall;
  made.fDevice = key.first;
  made.fInode = key.second;
  made.fKind = kind;
  made.fGeneration = now;
  made.fForks = gForks.load();

  IMarkers markers(descriptor, path, lockCall, kind);
  std::minstd_rand random;
  for (int tries = 1;; ++tries) {
    std::unique_lock<std::mutex> guard(claims.fMutex);
    auto found = claims.fFiles.find(key);
    if (found != claims.fFiles.end()) {
      // The streams of this process are known here; those of others, and
      // foreign locks, only by the locks.
      IFileClaims& mine = found->second;
      if (const char* why = clashText(kind, mine.heldKinds() & clashingKinds(kind)))
        refuse(path, why);
      IKindHolders& holders = mine.fKinds[kind];
      if (holders.fCarrier >= 0) {
        markers.checkGuard();
        holders.fDescriptors.insert(descriptor);
        made.fPath = path;
        made.fHeld = true;
        return made;
      }
    }
    EAttempt outcome;
    try {
      outcome = attempt(markers, path, kind);
      if (outcome == kHeld) {
        IKindHolders& holders = claims.fFiles[key].fKinds[kind];
        holders.fDescriptors.insert(descriptor);
        holders.fCarrier = descriptor;
        holders.fMarker = markers.marker();
        made.fPath = path;
        made.fHeld = true;
        return made;
      }
    } catch (...) {
      markers.unlockQuietly();
      throw;
    }
    if (outcome == kUnprotected)
      return IHostSharing();
    guard.unlock(); // others may open other files, or this one, meanwhile
    if (tries == kMaxAttempts)
      refuse(path, "other opens of the file kept racing with this one");
    if (tries == 1)
      random.seed(static_cast<unsigned>(now) ^ static_cast<unsigned>(descriptor) ^
                  static_cast<unsigned>(std::chrono::steady_clock::now().time_since_epoch().count()));
    pauseBeforeRetry(tries, random);
  }
}

void IHostSharing::release() {
  if (!fHeld)
    return;
  fHeld = false;
  if (fGeneration != gGeneration.load())
    return; // a child's copy: the claim is the parent's
  IRegistry& claims = registry(fGeneration);
  std::lock_guard<std::mutex> guard(claims.fMutex);
  auto found = claims.fFiles.find({fDevice, fInode});
  if (found == claims.fFiles.end())
    return;
  IKindHolders& holders = found->second.fKinds[fKind];
  holders.fDescriptors.erase(fDescriptor);
  const bool carrier = holders.fCarrier == fDescriptor;
  const bool lastOfKind = holders.fDescriptors.empty();
  if (lastOfKind)
    holders.fCarrier = -1;
  if (found->second.heldKinds() == 0)
    claims.fFiles.erase(found); // holders is gone with it
  if (!carrier)
    return;
  // With no fork since the claim, this descriptor is the description's only
  // one, and closing it lifts the lock; after one, a child may hold a copy.
  const bool closeLifts = fForks == gForks.load();
  IMarkers markers(fDescriptor, fPath, fLockCall, fKind);
  if (!lastOfKind) {
    // Others of the kind stay open: one of them takes the lock over before
    // this one lets it go, so that other processes never see the kind missing.
    const int next = *holders.fDescriptors.begin();
    IMarkers taker(next, fPath, fLockCall, fKind);
    try {
      taker.holdDirectly();
      holders.fCarrier = next;
      holders.fMarker = taker.marker();
    } catch (...) {
      holders.fCarrier = -1; // the next open of the kind takes a lock afresh
      markers.unlockQuietly();
      throw;
    }
  }
  if (!closeLifts)
    markers.unlockAll();
}

void IHostSharing::releaseQuietly() noexcept {
  try {
    release();
  } catch (...) {
    // closing the descriptor lifts the rules as well
  }
}
