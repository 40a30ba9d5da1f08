// The marker layout near the top of the file's offsets, and the lock calls
// that announce, look for and lift the markers.
#include "hostmark.hpp"

#include "iexcept.hpp"
#include "posix.hpp"

#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <fcntl.h>
#include <limits>

namespace kelhost {
namespace {

constexpr unsigned accessBits(unsigned kind) { return kind & 3u; }
constexpr unsigned deniedBits(unsigned kind) { return kind >> 2; }
constexpr bool clash(unsigned a, unsigned b) {
  return (accessBits(a) & deniedBits(b)) != 0 || (accessBits(b) & deniedBits(a)) != 0;
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
constexpr unsigned findPosition(unsigned kind) {
  unsigned position = 0;
  while (kindAt(position) != kind)
    ++position;
  return position;
}

// The layout's sums, worked out once by the compiler: an open looks them up.
template <class IFunction> constexpr std::array<unsigned, kKinds> tableOf(IFunction function) {
  std::array<unsigned, kKinds> table{};
  for (unsigned kind = 0; kind < kKinds; ++kind)
    table[kind] = function(kind);
  return table;
}
constexpr std::array<unsigned, kKinds> kPositions = tableOf(findPosition);
constexpr std::array<unsigned, kKinds> kKindsAt = tableOf(kindAt);
constexpr unsigned positionOf(unsigned kind) { return kPositions[kind]; }

// Bytes per kind. A description that reads takes a read lock at the start of
// its kind, which all of them share; one open for writing alone cannot take a
// read lock (EBADF), so it takes a write lock at a random even offset of its
// own, which with 2^31 of them is free at the first try but for a chance of
// one in 200,000 beside 10,000 holders of its kind in other processes.
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

// A kind that writes and denies others both reading and writing clashes with
// every kind that holds anything, so one write lock over all the kinds' ranges
// announces it, looks for the others and holds it, in one atomic call: it
// succeeds only where no marker lies, and every later open meets it.
constexpr unsigned kExclusive = kReadsBit | kWritesBit | kDeniesReadingBit | kDeniesWritingBit;
constexpr off_t kWholeRegion = kGuard - kRegionStart;
constexpr bool takesAll(unsigned kind) { return (kind & kWritesBit) && (kind >> 2) == 3; }
static_assert(positionOf(kReadsBit | kWritesBit) < kKinds && kindAt(positionOf(kDeniesWritingBit)) == kDeniesWritingBit);

// Random offsets a writer tries before it takes the crowd for a foreign lock.
constexpr int kSlotTries = 16;

constexpr char kForeignText[] = "another program holds a record lock that reaches over the whole file";

bool noSuchLocks(int error) { return error == ENOLCK || error == EINVAL || error == EOPNOTSUPP || error == ENOSYS; }
bool inTheWay(int error) { return error == EAGAIN || error == EACCES; } // EACCES: POSIX allows either

struct flock lockOf(short type, off_t start, off_t length) {
  struct flock lock {};
  lock.l_type = type;
  lock.l_whence = SEEK_SET;
  lock.l_start = start;
  lock.l_len = length; // l_pid stays 0, as the F_OFD_ commands require
  return lock;
}

bool coversAll(const struct flock& lock) { return lock.l_start == kRegionStart && lock.l_len == kWholeRegion; }

// Whether `lock`, found among the kinds, is a marker: one byte at an even
// offset within one kind, or the one lock over all of them of a kind that
// takes all.
bool isMarker(const struct flock& lock) {
  if (coversAll(lock))
    return true;
  if (lock.l_len != 1 || lock.l_start < kRegionStart || lock.l_start >= kGuard)
    return false;
  return (lock.l_start - kRegionStart) % kSlots % 2 == 0;
}

// The kind of a marker. Of the two kinds that take all, the one that also
// reads stands for both: every open clashes with either for the same reason.
unsigned kindOfMarker(const struct flock& lock) {
  if (coversAll(lock))
    return kExclusive;
  return kindAt(static_cast<unsigned>((lock.l_start - kRegionStart) / kSlots));
}

// The kinds that hold something and have every bit of `bits`.
constexpr unsigned findKindsWith(unsigned bits) {
  unsigned set = 0;
  for (unsigned kind = 0; kind < kKinds; ++kind)
    if (accessBits(kind) != 0 && (kind & bits) == bits)
      set |= 1u << kind;
  return set;
}
constexpr std::array<unsigned, kKinds> kKindsWith = tableOf(findKindsWith);
unsigned kindsWith(unsigned bits) { return kKindsWith[bits]; }

constexpr unsigned findClashing(unsigned mine) {
  unsigned set = 0;
  for (unsigned kind = 0; kind < kKinds; ++kind)
    if (accessBits(kind) != 0 && clash(mine, kind))
      set |= 1u << kind;
  return set;
}
constexpr std::array<unsigned, kKinds> kClashing = tableOf(findClashing);

} // namespace

void refuse(const std::string& path, const std::string& reason) {
  IThrowSystemError("open", path, EBUSY, "sharing violation: " + reason);
}

const char* clashText(unsigned mine, unsigned others) {
  if (others == 0)
    return nullptr;
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

unsigned clashingKinds(unsigned mine) { return kClashing[mine]; }

IMarkers::IMarkers(int descriptor, const std::string& path, unsigned kind)
    : fDescriptor(descriptor), fPath(path), fKind(kind), fType((kind & kReadsBit) ? F_RDLCK : F_WRLCK) {}

EAttempt IMarkers::attempt() {
  if (takesAll(fKind))
    return attemptAll();
  if (const int error = announce(); error != 0)
    return unprotected(error);
  const struct flock first = look(clashingKinds(fKind));
  if (first.l_type == F_UNLCK)
    return kHeld;
  if (!isMarker(first))
    refuse(fPath, kForeignText);
  // A holder, or an open racing this one: step back and look again. A holder
  // is still there; a racer that saw this open steps back as well, and of two
  // that see each other at most one is refused, since each looks again only
  // after its own marker is gone.
  unlock(fMarker, 1);
  refuseIfHeld();
  return kRacing;
}

// The one-call try of a kind that takes all: a marker in the way refuses it
// if it is still there at a second look, as in attempt().
EAttempt IMarkers::attemptAll() {
  struct flock all = lockOf(F_WRLCK, kRegionStart, kWholeRegion);
  if (call(F_OFD_SETLK, all)) {
    fMarker = kRegionStart;
    return kHeld;
  }
  if (const int error = errno; !inTheWay(error))
    return unprotected(error);
  refuseIfHeld();
  return kRacing;
}

// A lock call that failed for `error` on taking a marker: a file system
// without these locks leaves a kind that denies nothing unprotected and
// refuses any other; any other error is thrown.
EAttempt IMarkers::unprotected(int error) {
  if (!noSuchLocks(error))
    IThrowSystemError("lock", fPath, error, "the sharing markers cannot be taken");
  if (deniedBits(fKind) == 0)
    return kUnprotected;
  IThrowSystemError("open", fPath, error,
                    "the file system keeps no open file description locks, so no sharing mode that "
                    "denies others reading or writing can be kept; only ios::in | ios::out opens here");
}

// Refuses with the reason that comes first of those that apply.
void IMarkers::refuseIfHeld() {
  const struct {
    unsigned fMine, fTheirs;
  } reasons[] = {{kReadsBit, kDeniesReadingBit},
                 {kWritesBit, kDeniesWritingBit},
                 {kDeniesReadingBit, kReadsBit},
                 {kDeniesWritingBit, kWritesBit}};
  for (const auto& reason : reasons) {
    if (!(fKind & reason.fMine))
      continue;
    const struct flock other = look(kindsWith(reason.fTheirs));
    if (other.l_type == F_UNLCK)
      continue;
    if (!isMarker(other))
      refuse(fPath, kForeignText);
    refuse(fPath, clashText(fKind, 1u << kindOfMarker(other)));
  }
}

// Announces the kind: 0, or the lock call's errno; a foreign lock in the way
// is refused.
int IMarkers::announce() {
  for (int tries = 0; tries < kSlotTries; ++tries) {
    fMarker = kindStart(fKind) + (fType == F_RDLCK ? 0 : randomOffset());
    struct flock lock = lockOf(fType, fMarker, 1);
    if (call(F_OFD_SETLK, lock))
      return 0;
    if (!inTheWay(errno))
      return errno;
    struct flock other = lockOf(F_WRLCK, fMarker, 1);
    if (!call(F_OFD_GETLK, other))
      return errno;
    // The lock of a kind that takes all is held, never only announced.
    if (other.l_type != F_UNLCK && coversAll(other))
      refuse(fPath, clashText(fKind, 1u << kExclusive));
    // Markers never write-lock where readers go.
    if (fType == F_RDLCK || (other.l_type != F_UNLCK && !isMarker(other)))
      refuse(fPath, kForeignText);
  }
  refuse(fPath, kForeignText); // every try taken: not by markers, in all likelihood
}

void IMarkers::holdDirectly() {
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
struct flock IMarkers::look(unsigned kinds) {
  unsigned position = 0;
  while (position < kKinds) {
    if (!(kinds & (1u << kKindsAt[position]))) {
      ++position;
      continue;
    }
    // A run: the kinds of the set, bridged over kinds that hold nothing.
    unsigned end = position + 1, last = position;
    for (; end < kKinds && ((kinds & (1u << kKindsAt[end])) || accessBits(kKindsAt[end]) == 0); ++end)
      if (kinds & (1u << kKindsAt[end]))
        last = end;
    struct flock lock = lockOf(F_WRLCK, kRegionStart + off_t(position) * kSlots, off_t(last + 1 - position) * kSlots);
    if (!call(F_OFD_GETLK, lock))
      IThrowSystemError("lock", fPath, errno, "the sharing markers cannot be tested");
    if (lock.l_type != F_UNLCK)
      return lock;
    position = last + 1;
  }
  return lockOf(F_UNLCK, 0, 0);
}

void IMarkers::checkGuard() {
  struct flock lock = lockOf(F_WRLCK, kGuard, 1);
  if (!call(F_OFD_GETLK, lock))
    IThrowSystemError("lock", fPath, errno, "the sharing markers cannot be tested");
  if (lock.l_type != F_UNLCK)
    refuse(fPath, kForeignText);
}

void IMarkers::unlock(off_t start, off_t length) {
  struct flock lock = lockOf(F_UNLCK, start, length);
  if (!call(F_OFD_SETLK, lock))
    IThrowSystemError("unlock", fPath, errno, "the sharing markers cannot be released");
}

void IMarkers::unlockAll() { unlock(kRegionStart, kGuard - kRegionStart); }

void IMarkers::unlockQuietly() noexcept {
  struct flock lock = lockOf(F_UNLCK, kRegionStart, kGuard - kRegionStart);
  call(F_OFD_SETLK, lock);
}

// True when the call succeeded; else errno holds its error.
bool IMarkers::call(int command, struct flock& lock) const {
  const int error = IPosix::lock(fDescriptor, command, lock);
  errno = error;
  return error == 0;
}

// An even offset from 2 on; splitmix64 over the clock, a count of the claims
// made and the descriptor, so that two claims, or a parent and its child, do
// not pick alike.
off_t IMarkers::randomOffset() {
  static std::atomic<std::uint64_t> claims{0};
  if (fRandom == 0)
    fRandom = static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()) ^
              (claims.fetch_add(1) << 40) ^ static_cast<std::uint64_t>(fDescriptor);
  std::uint64_t z = (fRandom += 0x9e3779b97f4a7c15u);
  z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9u;
  z = (z ^ (z >> 27)) * 0x94d049bb133111ebu;
  z ^= z >> 31;
  return 2 + 2 * static_cast<off_t>(z % static_cast<std::uint64_t>(kSlots / 2 - 1));
}

} // namespace kelhost
