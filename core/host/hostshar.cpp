// A claim of the sharing rules: settled in memory against the streams of this
// process, and by the markers against those of others.
#include "hostshar.hpp"

#include "hostmark.hpp"
#include "iexcept.hpp"
#include "posix.hpp"

#include <algorithm>
#include <chrono>
#include <random>
#include <sys/stat.h>
#include <thread>
#include <utility>

namespace kelhost {
namespace {

// Racing opens that saw each other both step back; each tries again after a
// random pause that grows, up to this many times (about a second in all).
constexpr int kMaxAttempts = 200;
constexpr long kFirstPauseMicros = 100;
constexpr long kLongestPauseMicros = 10000;

void pauseBeforeRetry(int attempt, std::minstd_rand& random) {
  if (attempt == 1)
    random.seed(static_cast<unsigned>(std::chrono::steady_clock::now().time_since_epoch().count()));
  const long longest = std::min(kLongestPauseMicros, kFirstPauseMicros << std::min(attempt, 10));
  std::uniform_int_distribution<long> pick(longest / 4, longest);
  std::this_thread::sleep_for(std::chrono::microseconds(pick(random)));
}

} // namespace

IHostSharing::IHostSharing(int descriptor, const IClaimRegistry::IKey& file, unsigned kind)
    : fDescriptor(descriptor), fFile(file), fKind(kind), fGeneration(IClaimRegistry::instance().generation()),
      fForks(IClaimRegistry::instance().forks()) {}

IHostSharing& IHostSharing::operator=(IHostSharing&& other) noexcept {
  if (this != &other) {
    releaseQuietly();
    fDescriptor = other.fDescriptor;
    fFile = other.fFile;
    fKind = other.fKind;
    fGeneration = other.fGeneration;
    fForks = other.fForks;
    fHeld = std::exchange(other.fHeld, false);
  }
  return *this;
}

IHostSharing IHostSharing::claim(int descriptor, const std::string& path, IAccess access, IAccess granted,
                                 const struct stat* file) {
  if (!access.any())
    throw IInvalidParameter("the sharing check of '" + path + "' was given the access " +
                            std::to_string(access.bits()) + ", which is none of read, write, both");
  struct stat status;
  if (!file) {
    status = IPosix::status(descriptor, path);
    file = &status;
  }
  IClaimRegistry& claims = IClaimRegistry::instance();
  const unsigned kind = kindOf(access, granted);
  IHostSharing made(descriptor, {file->st_dev, file->st_ino}, kind);
  IMarkers markers(descriptor, path, kind);
  std::minstd_rand random;
  for (int tries = 1;; ++tries) {
    auto guard = claims.lock();
    // The streams of this process are known here; those of others, and
    // foreign locks, only by the locks.
    if (const char* why = clashText(kind, claims.kindsHeld(made.fFile) & clashingKinds(kind)))
      refuse(path, why);
    if (claims.hasCarrier(made.fFile, kind)) {
      markers.checkGuard();
      claims.add(made.fFile, descriptor, kind, false);
      made.fHeld = true;
      return made;
    }
    EAttempt outcome;
    try {
      outcome = markers.attempt();
    } catch (...) {
      markers.unlockQuietly();
      throw;
    }
    if (outcome == kUnprotected)
      return IHostSharing();
    if (outcome == kHeld) {
      claims.add(made.fFile, descriptor, kind, true);
      made.fHeld = true;
      return made;
    }
    guard.unlock(); // others may open other files, or this one, meanwhile
    if (tries == kMaxAttempts)
      refuse(path, "other opens of the file kept racing with this one");
    pauseBeforeRetry(tries, random);
  }
}

void IHostSharing::release(const std::string& path) {
  if (!fHeld)
    return;
  fHeld = false;
  IClaimRegistry& claims = IClaimRegistry::instance();
  auto guard = claims.lock();
  if (fGeneration != claims.generation())
    return; // a child's copy: the claim is the parent's
  bool carrier = false;
  const int next = claims.remove(fFile, fDescriptor, carrier);
  if (!carrier)
    return;
  IMarkers markers(fDescriptor, path, fKind);
  if (next >= 0) {
    // Others of the kind stay open: one of them takes the lock over before
    // this one lets it go, so that other processes never see the kind missing.
    try {
      IMarkers(next, path, fKind).holdDirectly();
      claims.takeOver(fFile, next);
    } catch (...) {
      markers.unlockQuietly(); // the next open of the kind takes a lock afresh
      throw;
    }
  }
  // With no fork since the claim, this descriptor is the description's only
  // one, and closing it lifts the lock; after one, a child may hold a copy.
  if (fForks != claims.forks())
    markers.unlockAll();
}

void IHostSharing::releaseQuietly() noexcept {
  try {
    release(std::string());
  } catch (...) {
    // closing the descriptor lifts the rules as well
  }
}

} // namespace kelhost
