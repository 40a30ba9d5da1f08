// The out-of-line parts of ios: construction, the user words and the base
// manipulators.
#include "ios.hpp"

#include <atomic>
#include <cstddef>
#include <new>
#include <vector>

// Grows on demand; an index that cannot be served lands on a scratch word
// so that the caller still gets a reference to write through.
struct ios::IUserWords {
  std::vector<long> fLongs;
  std::vector<void*> fPointers;
  long fLongScratch = 0;
  void* fPointerScratch = nullptr;
};

namespace {

std::atomic<int> gNextUserIndex{0};

// Indices this far beyond the last one xalloc handed out are still served,
// for programs that number their words themselves; beyond that an index is
// a mistake, and growing to it could take gigabytes.
constexpr long long kSpareUserWords = 4096;

bool servable(int index) {
  return index >= 0 && index < gNextUserIndex.load(std::memory_order_relaxed) + kSpareUserWords;
}

// The word at `index` of `words`, grown with nulls to reach it; null when
// the index cannot be served or the memory runs out.
template <class T> T* userWord(std::vector<T>& words, int index) {
  if (!servable(index))
    return nullptr;
  std::size_t slot = static_cast<std::size_t>(index);
  try {
    if (slot >= words.size())
      words.resize(slot + 1, T{});
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
  return &words[slot];
}

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

ios::IUserWords* ios::userWords() {
  if (!fUserWords) {
    try {
      fUserWords.reset(new IUserWords);
    } catch (const std::bad_alloc&) {
      return nullptr;
    }
  }
  return fUserWords.get();
}

long& ios::iword(int index) {
  static thread_local long lastResort;
  IUserWords* words = userWords();
  if (long* word = words ? userWord(words->fLongs, index) : nullptr)
    return *word;
  setstate(badbit);
  long& scratch = words ? words->fLongScratch : lastResort;
  scratch = 0;
  return scratch;
}

void*& ios::pword(int index) {
  static thread_local void* lastResort;
  IUserWords* words = userWords();
  if (void** word = words ? userWord(words->fPointers, index) : nullptr)
    return *word;
  setstate(badbit);
  void*& scratch = words ? words->fPointerScratch : lastResort;
  scratch = nullptr;
  return scratch;
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
