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

void IHostSharing::claim(int descriptor, const std::string& path, IAccess access, IAccess granted,
                         const struct stat* file) {
  if (!access.any())
    throw IInvalidParameter("the sharing check of '" + path + "' was given the access " +
                            std::to_string(access.bits()) + ", which is none of read, write, both");
  fEntry = IClaimRegistry::IEntry{};
  fEntry.fDescriptor = descriptor;
  fEntry.fKind = static_cast<std::uint8_t>(kindOf(access, granted));
  if (file && !lookUp(*file))
    return;
  IMarkers markers(descriptor, path, fEntry.fKind);
  std::minstd_rand random;
  for (int tries = 1; !settle(markers, path); ++tries) {
    if (tries == kMaxAttempts)
      refuse(path, "other opens of the file kept racing with this one");
    pauseBeforeRetry(tries, random);
  }
}

// Names the claim's file; false for a file that is not regular, which is
// shared as the system shares it.
bool IHostSharing::lookUp(const struct stat& file) {
  if (!S_ISREG(file.st_mode))
    return false;
  fEntry.setFile({file.st_ino, static_cast<std::uint32_t>(file.st_dev)});
  return true;
}

bool IHostSharing::lookUp(const std::string& path) { return lookUp(IPosix::status(fEntry.fDescriptor, path)); }

// One try, under the registry's lock: true once the claim is settled, held,
// unprotected (where the file system keeps no locks) or not needed (the file
// is not regular); false after a race.
bool IHostSharing::settle(IMarkers& markers, const std::string& path) {
  IClaimRegistry& claims = IClaimRegistry::instance();
  auto guard = claims.lock();
  const unsigned kind = fEntry.fKind;
  // The streams of this process are known here by their files; those of
  // others, and foreign locks, only by the locks.
  if (!claims.empty()) {
    claims.nameFirst(); // the one claim that was alone so far, so that the two compare
    if (!fEntry.fNamed && !lookUp(path))
      return true;
  }
  if (fEntry.fNamed) {
    if (const char* why = clashText(kind, claims.kindsHeld(fEntry.file()) & clashingKinds(kind)))
      refuse(path, why);
    fEntry.fCarrier = !claims.hasCarrier(fEntry.file(), kind);
  } else {
    fEntry.fCarrier = true; // no claim of this process to share a marker with
  }
  EAttempt outcome = kHeld;
  try {
    if (fEntry.fCarrier)
      outcome = markers.attempt();
    else
      markers.checkGuard();
  } catch (...) {
    if (fEntry.fCarrier)
      markers.unlockQuietly();
    // What the markers met counts only on a regular file.
    if (!fEntry.fNamed && !lookUp(path))
      return true;
    throw;
  }
  if (outcome == kRacing && !fEntry.fNamed && !lookUp(path))
    return true; // the marker is stepped back already
  if (outcome == kHeld) {
    fEntry.fGeneration = claims.generation();
    fEntry.fForks = claims.forks();
    fEntry.fHeld = true;
    if (fEntry.fNamed)
      claims.add(fEntry);
    else
      claims.addUnnamed(fEntry);
  }
  return outcome != kRacing;
}

void IHostSharing::release(const std::string& path) {
  if (!fEntry.fHeld)
    return; // never held, or released already: the destructor after a close
  IClaimRegistry& claims = IClaimRegistry::instance();
  auto guard = claims.lock();
  fEntry.fHeld = false;
  if (fEntry.fGeneration != claims.generation())
    return; // a child's copy: the claim is the parent's
  IClaimRegistry::IEntry* next = claims.remove(fEntry);
  if (!fEntry.fCarrier)
    return;
  IMarkers markers(fEntry.fDescriptor, path, fEntry.fKind);
  if (next) {
    // Others of the kind stay open: one of them takes the lock over before
    // this one lets it go, so that other processes never see the kind missing.
    try {
      IMarkers(next->fDescriptor, path, fEntry.fKind).holdDirectly();
      next->fCarrier = true;
    } catch (...) {
      markers.unlockQuietly(); // the next open of the kind takes a lock afresh
      throw;
    }
  }
  // With no fork since the claim, this descriptor is the description's only
  // one, and closing it lifts the lock; after one, a child may hold a copy.
  if (fEntry.fForks != claims.forks())
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
