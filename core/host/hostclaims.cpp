// The claims of this process, and the one place that follows fork(2).
#include "hostclaims.hpp"

#include "iexcept.hpp"
#include "hostcall.hpp"

#include <algorithm>
#include <cstring>
#include <new>
#include <pthread.h>
#include <string>
#include <sys/stat.h>
#include <utility>

namespace kelhost {

IClaimRegistry& IClaimRegistry::instance() {
  static IClaimRegistry* const registry = new IClaimRegistry(); // never destroyed, see the header
  return *registry;
}

IClaimRegistry::IClaimRegistry() : fBuckets(64, nullptr) {
  if (const int error = ::pthread_atfork(beforeFork, afterForkInParent, afterForkInChild))
    throw IAccessError(std::string("the sharing rules cannot follow fork(2): ") + std::strerror(error), error);
}

void IClaimRegistry::beforeFork() noexcept {
  IClaimRegistry& self = instance();
  self.fMutex.lock();
  ++self.fForks;
}

void IClaimRegistry::afterForkInParent() noexcept { instance().fMutex.unlock(); }

// The entries belong to the parent's streams, and the child's only thread is
// not the one that took the mutex (its thread id differs), so the chains are
// dropped and the mutex is made anew rather than unlocked.
void IClaimRegistry::afterForkInChild() noexcept {
  IClaimRegistry& self = instance();
  std::fill(self.fBuckets.begin(), self.fBuckets.end(), nullptr);
  self.fHeads = 0;
  self.fUnnamed = nullptr;
  ++self.fGeneration;
  self.fForks = 0;
  new (&self.fMutex) std::recursive_mutex();
}

IClaimRegistry::IEntry*& IClaimRegistry::bucket(const IKey& file) const {
  const std::size_t hash = std::size_t(file.fInode) * 0x9e3779b97f4a7c15u ^ std::size_t(file.fDevice);
  return fBuckets[(hash ^ (hash >> 29)) & (fBuckets.size() - 1)];
}

// The link in the chain that points at the head of the group of `kind` on
// the file, or null when there is none.
IClaimRegistry::IEntry** IClaimRegistry::headLink(const IKey& file, unsigned kind) const {
  for (IEntry** link = &bucket(file); *link; link = &(*link)->fNext)
    if ((*link)->file() == file && (*link)->fKind == kind)
      return link;
  return nullptr;
}

unsigned IClaimRegistry::kindsHeld(const IKey& file) const {
  unsigned set = 0;
  for (const IEntry* head = bucket(file); head; head = head->fNext)
    if (head->file() == file)
      set |= 1u << head->fKind;
  return set;
}

bool IClaimRegistry::hasCarrier(const IKey& file, unsigned kind) const {
  IEntry** link = headLink(file, kind);
  return link && (*link)->fCarrier;
}

void IClaimRegistry::add(IEntry& entry) {
  IEntry** link = headLink(entry.file(), entry.fKind);
  if (!link || entry.fCarrier) {
    // A new head: in front of the group, whose old head becomes its first member.
    if (!link && fHeads >= fBuckets.size()) {
      grow();
      link = headLink(entry.file(), entry.fKind);
    }
    IEntry* old = link ? *link : nullptr;
    IEntry*& place = link ? *link : bucket(entry.file());
    entry.fHead = true;
    entry.fNext = old ? old->fNext : place;
    entry.fLink = old;
    if (old) {
      old->fHead = false;
      old->fNext = std::exchange(old->fLink, &entry);
      if (old->fNext)
        old->fNext->fLink = old;
    } else {
      ++fHeads;
    }
    place = &entry;
    return;
  }
  // A member, first after the head.
  IEntry* head = *link;
  entry.fHead = false;
  entry.fNext = head->fLink;
  entry.fLink = head;
  if (entry.fNext)
    entry.fNext->fLink = &entry;
  head->fLink = &entry;
}

void IClaimRegistry::addUnnamed(IEntry& entry) {
  entry.fHead = true;
  fUnnamed = &entry;
}

void IClaimRegistry::nameFirst() {
  if (!fUnnamed)
    return;
  IEntry& entry = *std::exchange(fUnnamed, nullptr);
  struct stat status;
  if (IHostRetry::call([&] { return IHostCalls::current().fstat(entry.fDescriptor, &status); }) == 0) {
    entry.setFile({status.st_ino, static_cast<std::uint32_t>(status.st_dev)});
  } else {
    // Another stream's failure is not this open's: filed under inode 0,
    // which no file has, the claim meets no other in memory, and its marker
    // still keeps it from clashing opens, this process's among them.
    entry.setFile({0, static_cast<std::uint32_t>(entry.fDescriptor)});
  }
  add(entry);
}

IClaimRegistry::IEntry* IClaimRegistry::remove(IEntry& entry) {
  if (&entry == fUnnamed) {
    // Alone in the registry: no member follows it.
    fUnnamed = nullptr;
    entry.fHead = false;
    return nullptr;
  }
  if (!entry.fHead) {
    IEntry* before = entry.fLink;
    (before->fHead ? before->fLink : before->fNext) = entry.fNext;
    if (entry.fNext)
      entry.fNext->fLink = before;
    entry.fNext = entry.fLink = nullptr;
    return nullptr;
  }
  IEntry** link = headLink(entry.file(), entry.fKind);
  IEntry* next = entry.fLink; // the first member takes the head's place
  if (next) {
    next->fHead = true;
    next->fLink = std::exchange(next->fNext, entry.fNext);
    if (next->fLink)
      next->fLink->fLink = next;
    *link = next;
  } else {
    *link = entry.fNext;
    --fHeads;
  }
  entry.fNext = entry.fLink = nullptr;
  entry.fHead = false;
  return entry.fCarrier ? next : nullptr;
}

// Doubles the buckets; the chains of heads are spread anew.
void IClaimRegistry::grow() {
  std::vector<IEntry*> old(fBuckets.size() * 2, nullptr);
  old.swap(fBuckets);
  for (IEntry* chain : old) {
    while (chain) {
      IEntry* next = chain->fNext;
      IEntry*& head = bucket(chain->file());
      chain->fNext = head;
      head = chain;
      chain = next;
    }
  }
}

} // namespace kelhost
