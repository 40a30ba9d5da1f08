// IClaimRegistry: the sharing claims of this process, by file, kept in memory
// so that the streams of one kind on one file share one marker lock, and a
// conflict between two streams of this process is refused with no lock call.
//
// The claims are entries that the streams themselves hold (IHostSharing), so
// a claim allocates nothing: the registry only chains them by file, in a hash
// table whose buckets cost a pointer or two per claim.
//
// One registry per process, made at its first claim and never destroyed
// (streams of static objects may close after every other static is gone). A
// child made by fork(2) starts with no claims: the descriptors it inherits
// share their parent's locks, and those claims stay the parent's. Fork is
// followed here alone, by one pthread_atfork registration.
#pragma once

#include <cstddef>
#include <mutex>
#include <sys/types.h>
#include <vector>

namespace kelhost {

class IClaimRegistry {
public:
  struct IKey {
    dev_t fDevice;
    ino_t fInode;
    friend bool operator==(const IKey&, const IKey&) = default;
  };
  // One stream's claim on one file: what it holds, where the registry finds it.
  struct IEntry {
    IKey fFile{};
    int fDescriptor = -1;
    unsigned char fKind = 0;
    bool fCarrier = false; // its description holds the kind's marker for all
    IEntry* fNext = nullptr;
  };

  // This process's registry.
  static IClaimRegistry& instance();

  // Held while a claim is checked and recorded, or released.
  std::unique_lock<std::recursive_mutex> lock() { return std::unique_lock<std::recursive_mutex>(fMutex); }

  // The kinds that streams of this process hold on the file, as a set.
  unsigned kindsHeld(const IKey& file) const;
  // Whether a description of this process holds the marker of `kind`.
  bool hasCarrier(const IKey& file, unsigned kind) const;
  // Records `entry`, which stays where it is until remove().
  void add(IEntry& entry);
  // Forgets `entry`. When it was the carrier and others of its kind remain,
  // returns one of them, to take the marker over; else null.
  IEntry* remove(IEntry& entry);

  // Counted in forks: a child is one generation past its parent, so a claim
  // made before a fork is seen to be a copy in the child.
  unsigned generation() const { return fGeneration; }
  // The forks this process has made: with none since a claim, closing its
  // descriptor lifts the claim's lock with no call of its own.
  unsigned forks() const { return fForks; }

private:
  IClaimRegistry();
  IEntry*& bucket(const IKey& file) const;
  void grow();
  static void beforeFork() noexcept;
  static void afterForkInParent() noexcept;
  static void afterForkInChild() noexcept;

  // Taken across fork(2), so that a child never starts with it held by a
  // thread it does not have; recursive for the one thread that may fork while
  // it holds it: one whose lock call forks, as the tests' rivals do.
  std::recursive_mutex fMutex;
  mutable std::vector<IEntry*> fBuckets; // chains of entries; a power of two of them
  std::size_t fEntries = 0;
  unsigned fGeneration = 1;
  unsigned fForks = 0;
};

} // namespace kelhost
