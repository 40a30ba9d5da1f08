// IClaimRegistry: the sharing claims of this process, by file, kept in memory
// so that the streams of one kind on one file share one marker lock, and a
// conflict between two streams of this process is refused with no lock call.
//
// One object per process, made at its first claim and never destroyed (streams
// of static objects may close after every other static is gone). A child made
// by fork(2) starts with no claims: the descriptors it inherits share their
// parent's locks, and those claims stay the parent's. Fork is followed here
// alone, by one pthread_atfork registration.
#pragma once

#include <cstddef>
#include <mutex>
#include <sys/types.h>
#include <unordered_map>

namespace kelhost {

class IClaimRegistry {
public:
  struct IKey {
    dev_t fDevice;
    ino_t fInode;
    friend bool operator==(const IKey&, const IKey&) = default;
  };

  // This process's registry.
  static IClaimRegistry& instance();

  // Held while a claim is checked and recorded, or released.
  std::unique_lock<std::recursive_mutex> lock() { return std::unique_lock<std::recursive_mutex>(fMutex); }

  // The kinds that streams of this process hold on the file, as a set.
  unsigned kindsHeld(const IKey& file) const;
  // Whether a description of this process holds the marker of `kind`.
  bool hasCarrier(const IKey& file, unsigned kind) const;
  // Records `descriptor`'s claim of `kind`; a carrier holds the kind's marker.
  void add(const IKey& file, int descriptor, unsigned kind, bool carrier);
  // Forgets `descriptor`'s claim. When it held the marker and others of its
  // kind remain, returns the descriptor of one of them, to take the marker
  // over (recorded as the carrier once takeOver says so); else -1.
  int remove(const IKey& file, int descriptor, bool& wasCarrier);
  void takeOver(const IKey& file, int descriptor);

  // Counted in forks: a child is one generation past its parent, so a claim
  // made before a fork is seen to be a copy in the child.
  unsigned long generation() const { return fGeneration; }
  // The forks this process has made: with none since a claim, closing its
  // descriptor lifts the claim's lock with no call of its own.
  unsigned long forks() const { return fForks; }

private:
  struct IHolder {
    int fDescriptor;
    unsigned char fKind;
    bool fCarrier;
  };
  struct IKeyHash {
    std::size_t operator()(const IKey& key) const noexcept { return std::size_t(key.fInode) * 31u ^ std::size_t(key.fDevice); }
  };

  IClaimRegistry();
  static void beforeFork() noexcept;
  static void afterForkInParent() noexcept;
  static void afterForkInChild() noexcept;

  // Taken across fork(2), so that a child never starts with it held by a
  // thread it does not have; recursive for the one thread that may fork while
  // it holds it: one whose lock call forks, as the tests' rivals do.
  std::recursive_mutex fMutex;
  std::unordered_multimap<IKey, IHolder, IKeyHash> fHolders; // a few words per stream of this process
  unsigned long fGeneration = 1;
  unsigned long fForks = 0;
};

} // namespace kelhost
