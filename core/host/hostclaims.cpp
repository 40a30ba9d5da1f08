// The claims of this process, and the one place that follows fork(2).
#include "hostclaims.hpp"

#include "iexcept.hpp"

#include <cstring>
#include <new>
#include <pthread.h>
#include <tuple>

namespace kelhost {

IClaimRegistry& IClaimRegistry::instance() {
  static IClaimRegistry* const registry = new IClaimRegistry(); // never destroyed, see the header
  return *registry;
}

IClaimRegistry::IClaimRegistry() {
  if (const int error = ::pthread_atfork(beforeFork, afterForkInParent, afterForkInChild))
    throw IAccessError(std::string("the sharing rules cannot follow fork(2): ") + std::strerror(error), error);
}

void IClaimRegistry::beforeFork() noexcept {
  IClaimRegistry& self = instance();
  self.fMutex.lock();
  ++self.fForks;
}

void IClaimRegistry::afterForkInParent() noexcept { instance().fMutex.unlock(); }

// The child's only thread is not the one that took the mutex (its thread id
// differs), so the mutex is made anew rather than unlocked.
void IClaimRegistry::afterForkInChild() noexcept {
  IClaimRegistry& self = instance();
  self.fHolders.clear();
  ++self.fGeneration;
  self.fForks = 0;
  new (&self.fMutex) std::recursive_mutex();
}

unsigned IClaimRegistry::kindsHeld(const IKey& file) const {
  unsigned set = 0;
  const auto [first, last] = fHolders.equal_range(file);
  for (auto at = first; at != last; ++at)
    set |= 1u << at->second.fKind;
  return set;
}

bool IClaimRegistry::hasCarrier(const IKey& file, unsigned kind) const {
  const auto [first, last] = fHolders.equal_range(file);
  for (auto at = first; at != last; ++at)
    if (at->second.fKind == kind && at->second.fCarrier)
      return true;
  return false;
}

void IClaimRegistry::add(const IKey& file, int descriptor, unsigned kind, bool carrier) {
  fHolders.emplace(file, IHolder{descriptor, static_cast<unsigned char>(kind), carrier});
}

int IClaimRegistry::remove(const IKey& file, int descriptor, bool& wasCarrier) {
  wasCarrier = false;
  auto [first, last] = fHolders.equal_range(file);
  for (auto at = first; at != last; ++at) {
    if (at->second.fDescriptor != descriptor)
      continue;
    const unsigned kind = at->second.fKind;
    wasCarrier = at->second.fCarrier;
    fHolders.erase(at);
    if (!wasCarrier)
      return -1;
    std::tie(first, last) = fHolders.equal_range(file);
    for (auto next = first; next != last; ++next)
      if (next->second.fKind == kind)
        return next->second.fDescriptor;
    return -1;
  }
  return -1;
}

void IClaimRegistry::takeOver(const IKey& file, int descriptor) {
  const auto [first, last] = fHolders.equal_range(file);
  for (auto at = first; at != last; ++at)
    if (at->second.fDescriptor == descriptor)
      at->second.fCarrier = true;
}

} // namespace kelhost
