// IClaimRegistry: the sharing claims of this process, by file, kept in memory
// so that the streams of one kind on one file share one marker lock, and a
// conflict between two streams of this process is refused with no lock call.
//
// The claims are entries that the streams themselves hold (IHostSharing), so
// a claim allocates nothing. The streams of one kind on one file make a group:
// its head is in a hash table's chain, the others hang from it in a list that
// loses any member in constant time, so an open or a close costs the same
// beside ten thousand streams of the file as beside one.
//
// A claim made while the registry is empty need not say which file it is on:
// nothing here can clash with it yet. It is looked up (fstat(2) of its
// descriptor) only when a second claim comes, so that a program that opens
// one file at a time never pays for the lookup.
//
// One registry per process, made at its first claim and never destroyed
// (streams of static objects may close after every other static is gone). A
// child made by fork(2) starts with no claims: the descriptors it inherits
// share their parent's locks, and those claims stay the parent's. Fork is
// followed here alone, by one pthread_atfork registration.
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <sys/types.h>
#include <vector>

namespace kelhost {

class IClaimRegistry {
public:
  // The file, as fstat(2) names it: Linux encodes st_dev in 32 bits.
  struct IKey {
    ino_t fInode;
    std::uint32_t fDevice;
    friend bool operator==(const IKey&, const IKey&) = default;
  };
  // One stream's claim on one file: what it holds, where the registry finds
  // it, and the process that made it.
  struct IEntry {
    ino_t fInode = 0;           // the file, as IKey says, unpadded
    std::uint32_t fDevice = 0;
    int fDescriptor = -1;
    IEntry* fNext = nullptr; // a head: the next head in the chain; a member: the next member
    IEntry* fLink = nullptr; // a head: its first member; a member: the one before it
    std::uint32_t fForks = 0;       // the forks the claiming process had made by then
    std::uint16_t fGeneration = 0;  // the process that made the claim, counted in forks
    // Written by the claim's own stream alone, so that it may read them
    // without the lock while other streams write the byte after them.
    std::uint8_t fKind : 4 = 0;
    bool fHeld : 1 = false; // held by this process; see IHostSharing
    std::uint8_t : 0;
    // Written by other streams' opens and closes too, under the lock.
    bool fCarrier : 1 = false; // its description holds the kind's marker for all
    bool fHead : 1 = false;    // it heads its group
    bool fNamed : 1 = false;   // fInode and fDevice are known

    IKey file() const { return {fInode, fDevice}; }
    void setFile(const IKey& key) {
      fInode = key.fInode;
      fDevice = key.fDevice;
      fNamed = true;
    }
  };

  // This process's registry.
  static IClaimRegistry& instance();

  // Held while a claim is checked and recorded, or released.
  std::unique_lock<std::recursive_mutex> lock() { return std::unique_lock<std::recursive_mutex>(fMutex); }

  // The kinds that streams of this process hold on the file, as a set.
  unsigned kindsHeld(const IKey& file) const;
  // Whether a description of this process holds the marker of `kind`.
  bool hasCarrier(const IKey& file, unsigned kind) const;
  // Whether no claim of this process is recorded.
  bool empty() const { return fHeads == 0 && !fUnnamed; }
  // Records `entry`, which stays where it is until remove(); a carrier heads
  // its group.
  void add(IEntry& entry);
  // Records `entry` without its file, in an empty registry; it is looked up
  // by nameFirst() when the next claim comes.
  void addUnnamed(IEntry& entry);
  // Looks up the file of the claim that addUnnamed() recorded, if there is
  // one, and files it as add() does; where fstat(2) fails, under a file of
  // its own.
  void nameFirst();
  // Forgets `entry`. When it was the carrier and others of its kind remain,
  // returns the one that heads the group now, to take the marker over; else null.
  IEntry* remove(IEntry& entry);

  // Counted in forks: a child is one generation past its parent, so a claim
  // made before a fork is seen to be a copy in the child.
  std::uint16_t generation() const { return fGeneration; }
  // The forks this process has made: with none since a claim, closing its
  // descriptor lifts the claim's lock with no call of its own.
  std::uint32_t forks() const { return fForks; }

private:
  IClaimRegistry();
  IEntry*& bucket(const IKey& file) const;
  IEntry** headLink(const IKey& file, unsigned kind) const;
  void grow();
  static void beforeFork() noexcept;
  static void afterForkInParent() noexcept;
  static void afterForkInChild() noexcept;

  // Taken across fork(2), so that a child never starts with it held by a
  // thread it does not have; recursive for the one thread that may fork while
  // it holds it: one whose lock call forks, as the tests' rivals do.
  std::recursive_mutex fMutex;
  mutable std::vector<IEntry*> fBuckets; // chains of group heads; a power of two of them
  std::size_t fHeads = 0;
  IEntry* fUnnamed = nullptr; // the only claim, while its file is not known
  std::uint16_t fGeneration = 1;
  std::uint32_t fForks = 0;
};

} // namespace kelhost
