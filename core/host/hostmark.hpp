// The sharing markers: what a stream does and denies others (its kind), and
// the open file description locks on marker bytes through which the streams
// of all processes see each other's kinds.
//
// Each of the 16 kinds has a range of marker bytes near the top of the file's
// offsets; a description shows its kind by a one-byte lock in that range, and
// F_OFD_GETLK shows it the locks of every other description, never its own.
// An open announces its kind first and looks for clashing kinds after, so of
// two clashing opens the later looker always sees the other.
#pragma once

#include "iaccess.hpp"

#include <string>
#include <sys/types.h>

struct flock;

namespace kelhost {

// A kind is what a holder does and what it denies, as bits.
constexpr unsigned kReadsBit = 1;
constexpr unsigned kWritesBit = 2;
constexpr unsigned kDeniesReadingBit = 4;
constexpr unsigned kDeniesWritingBit = 8;
constexpr unsigned kKinds = 16;

// The kind of a stream that does `access` and grants others `granted`.
constexpr unsigned kindOf(IAccess access, IAccess granted) {
  return access.bits() | (granted.missing().bits() << 2);
}

// The outcome of one try of the protocol.
enum EAttempt { kHeld, kRacing, kUnprotected };

// The lock calls of one claim on one description, through the host's table.
class IMarkers {
public:
  IMarkers(int descriptor, const std::string& path, unsigned kind);

  // One try for a kind this process holds on no description of the file:
  // announce the kind, then look for clashing kinds. Nothing in the way: the
  // announcement stays as the held marker (kHeld). A marker in the way: this
  // open steps back and looks again; a holder is still there and refuses it
  // (IAccessError, EBUSY, "sharing violation" and why), a racing open that
  // saw this one has stepped back too (kRacing: try again later). A file
  // system without these locks gives kUnprotected for a kind that denies
  // nothing and refuses any other. A lock of another program over the
  // markers refuses the open.
  EAttempt attempt();
  // Takes the kind's marker at once, for a kind that this process holds on
  // another description of the file (the hand-over at a close).
  void holdDirectly();
  // Refuses when a lock of another program reaches over the guard byte.
  void checkGuard();
  // Lifts every marker of the description.
  void unlockAll();
  // The same for a claim that failed; a failure here would hide the first.
  void unlockQuietly() noexcept;

private:
  int announce();
  EAttempt attemptAll();
  EAttempt unprotected(int error);
  struct flock look(unsigned kinds);
  void refuseIfHeld();
  void unlock(off_t start, off_t length);
  bool call(int command, struct flock& lock) const;
  off_t randomOffset();

  int fDescriptor;
  const std::string& fPath;
  unsigned fKind;
  short fType;     // F_RDLCK for a kind that reads, else F_WRLCK
  off_t fMarker = 0;
  unsigned long long fRandom = 0;
};

// Why a holder of kind `mine` cannot open beside holders of the kinds in
// `others` (a set, one bit per kind), or null when it can.
const char* clashText(unsigned mine, unsigned others);
// The kinds that clash with `mine`, as a set.
unsigned clashingKinds(unsigned mine);
// Refuses the open of `path` for a sharing violation, saying why.
[[noreturn]] void refuse(const std::string& path, const std::string& reason);

} // namespace kelhost
