// The out-of-line parts of ios: construction, the user words and the base
// manipulators.
#include "ios.hpp"

#include <atomic>
#include <cstddef>
#include <vector>

// Grows on demand; an index that can never be valid lands on a dummy word
// so that the caller still gets a reference to write through.
struct ios::IUserWords {
  std::vector<long> fLongs;
  std::vector<void*> fPointers;
  long fLongDummy = 0;
  void* fPointerDummy = nullptr;
};

namespace {

std::atomic<int> gNextUserIndex{0};

} // namespace

ios::ios()
    : fBuffer(nullptr), fTie(nullptr), fFlags(skipws), fState(badbit), fWidth(0), fPrecision(6),
      fFill(' '), fUserWords(nullptr) {}

ios::ios(streambuf* buffer) : ios() { init(buffer); }

ios::~ios() = default;

void ios::init(streambuf* buffer) {
  fBuffer = buffer;
  fTie = nullptr;
  fFlags = skipws;
  fWidth = 0;
  fPrecision = 6;
  fFill = ' ';
  clear();
}

int ios::xalloc() { return gNextUserIndex.fetch_add(1, std::memory_order_relaxed); }

long& ios::iword(int index) {
  if (!fUserWords)
    fUserWords.reset(new IUserWords);
  if (index < 0) {
    setstate(badbit);
    fUserWords->fLongDummy = 0;
    return fUserWords->fLongDummy;
  }
  std::size_t slot = static_cast<std::size_t>(index);
  if (slot >= fUserWords->fLongs.size())
    fUserWords->fLongs.resize(slot + 1, 0);
  return fUserWords->fLongs[slot];
}

void*& ios::pword(int index) {
  if (!fUserWords)
    fUserWords.reset(new IUserWords);
  if (index < 0) {
    setstate(badbit);
    fUserWords->fPointerDummy = nullptr;
    return fUserWords->fPointerDummy;
  }
  std::size_t slot = static_cast<std::size_t>(index);
  if (slot >= fUserWords->fPointers.size())
    fUserWords->fPointers.resize(slot + 1, nullptr);
  return fUserWords->fPointers[slot];
}

ios& dec(ios& s) {
  s.setf(ios::dec, ios::basefield);
  return s;
}

ios& hex(ios& s) {
  s.setf(ios::hex, ios::basefield);
  return s;
}

ios& oct(ios& s) {
  s.setf(ios::oct, ios::basefield);
  return s;
}
