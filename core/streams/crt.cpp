// The runtime keeps no global state that needs setting up; start-up and
// shut-down only count their nesting.
#include "crt.hpp"

#include <atomic>
#include <climits>

namespace {

std::atomic<int> gInitCount{0};

} // namespace

extern "C" int _CRT_init(void) {
  int count = gInitCount.load(std::memory_order_relaxed);
  do {
    if (count == INT_MAX)
      return -1;
  } while (!gInitCount.compare_exchange_weak(count, count + 1, std::memory_order_relaxed));
  return 0;
}

extern "C" void _CRT_term(void) {
  int count = gInitCount.load(std::memory_order_relaxed);
  while (count > 0 && !gInitCount.compare_exchange_weak(count, count - 1, std::memory_order_relaxed)) {
  }
}
