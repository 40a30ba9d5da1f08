// The claims of this process, and the one place that follows fork(2).
#include "hostclaims.hpp"

#include "iexcept.hpp"

#include <algorithm>
#include <cstring>
#include <new>
#include <pthread.h>
#include <string>

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
  self.fEntries = 0;
  ++self.fGeneration;
  self.fForks = 0;
  new (&self.fMutex) std::recursive_mutex();
}

IClaimRegistry::IEntry*& IClaimRegistry::bucket(const IKey& file) const {
  const std::size_t hash = std::size_t(file.fInode) * 0x9e3779b97f4a7c15u ^ std::size_t(file.fDevice);
  return fBuckets[(hash ^ (hash >> 29)) & (fBuckets.size() - 1)];
}

unsigned IClaimRegistry::kindsHeld(const IKey& file) const {
  unsigned set = 0;
  for (const IEntry* at = bucket(file); at; at = at->fNext)
    if (at->fFile == file)
      set |= 1u << at->fKind;
  return set;
}

bool IClaimRegistry::hasCarrier(const IKey& file, unsigned kind) const {
  for (const IEntry* at = bucket(file); at; at = at->fNext)
    if (at->fFile == file && at->fKind == kind && at->fCarrier)
      return true;
  return false;
}

void IClaimRegistry::add(IEntry& entry) {
  if (fEntries >= fBuckets.size())
    grow();
  IEntry*& head = bucket(entry.fFile);
  entry.fNext = head;
  head = &entry;
  ++fEntries;
}

IClaimRegistry::IEntry* IClaimRegistry::remove(IEntry& entry) {
  for (IEntry** link = &bucket(entry.fFile); *link; link = &(*link)->fNext) {
    if (*link != &entry)
      continue;
    *link = entry.fNext;
    entry.fNext = nullptr;
    --fEntries;
    if (!entry.fCarrier)
      return nullptr;
    for (IEntry* at = bucket(entry.fFile); at; at = at->fNext)
      if (at->fFile == entry.fFile && at->fKind == entry.fKind)
        return at;
    return nullptr;
  }
  return nullptr;
}

// Doubles the buckets; the chains are spread anew.
void IClaimRegistry::grow() {
  std::vector<IEntry*> old(fBuckets.size() * 2, nullptr);
  old.swap(fBuckets);
  for (IEntry* chain : old) {
    while (chain) {
      IEntry* next = chain->fNext;
      IEntry*& head = bucket(chain->fFile);
      chain->fNext = head;
      head = chain;
      chain = next;
    }
  }
}

} // namespace kelhost
