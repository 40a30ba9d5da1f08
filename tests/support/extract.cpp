// Runs one list of extractions on the runtime's istream and on the standard
// stream, and says where they part.
#include "extract.hpp"

#include "istream.hpp"
#include "iostring.hpp"
#include "stdflags.hpp"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <sstream>
#include <type_traits>
#include <vector>

namespace {

// Hands out the input in get areas of `chunk` bytes, each a fresh array of
// exactly that size: a read past an area, or through a pointer into an area
// already handed back, is caught by the address sanitizer.
class IChunkBuf : public streambuf {
public:
  IChunkBuf(std::string text, std::size_t chunk) : fText(std::move(text)), fChunk(chunk ? chunk : fText.size()) {}

protected:
  int underflow() override {
    if (gptr() < egptr())
      return static_cast<unsigned char>(*gptr());
    if (fNext >= fText.size()) {
      setg(nullptr, nullptr, nullptr);
      fArea.reset();
      return EOF;
    }
    std::size_t n = std::min(fChunk, fText.size() - fNext);
    fArea = std::make_unique<char[]>(n);
    std::memcpy(fArea.get(), fText.data() + fNext, n);
    fNext += n;
    setg(fArea.get(), fArea.get(), fArea.get() + n);
    return static_cast<unsigned char>(*gptr());
  }

private:
  std::string fText;
  std::size_t fChunk;
  std::size_t fNext = 0;
  std::unique_ptr<char[]> fArea;
};

// One extraction on both streams.
struct ISides {
  istream& fOurs;
  std::istream& fTheirs;
  std::string& fDifference;
  std::string fWhat;

  void differ(const std::string& what) {
    if (fDifference.empty())
      fDifference = fWhat + ": " + what;
  }
  void compareState(bool counted) {
    int ours = fOurs.rdstate();
    int theirs = fromStdState(fTheirs.rdstate());
    if (ours != theirs)
      differ("state " + describeState(ours) + ", the standard stream's " + describeState(theirs));
    if (counted && fOurs.gcount() != fTheirs.gcount())
      differ("gcount " + std::to_string(fOurs.gcount()) + ", the standard stream's " +
             std::to_string(fTheirs.gcount()));
  }
  template <class T> void value(const T& ours, const T& theirs) {
    if (!sameValue(ours, theirs))
      differ("value " + show(ours) + ", the standard stream's " + show(theirs));
  }
  // A formatted extraction into a T that starts as `initial` on both sides.
  template <class T> void extract(T initial) {
    T a = initial, b = initial;
    fOurs >> a;
    fTheirs >> b;
    b = classicNumber(b, initial, fTheirs.rdstate());
    if constexpr (std::is_same_v<T, char> || std::is_same_v<T, signed char> || std::is_same_v<T, unsigned char>)
      value(static_cast<int>(a), static_cast<int>(b));
    else
      value(a, b);
    compareState(false);
  }
};

const char* const kOpNames[] = {"char",
                                "signed char",
                                "unsigned char",
                                "short",
                                "unsigned short",
                                "int",
                                "unsigned",
                                "long",
                                "unsigned long",
                                "long long",
                                "unsigned long long",
                                "bool",
                                "float",
                                "double",
                                "long double",
                                "string",
                                "char[8]",
                                "getline string",
                                "getline array",
                                "get array",
                                "ignore",
                                "read",
                                "get",
                                "peek",
                                "ws",
                                "clear"};
constexpr int kOpCount = sizeof kOpNames / sizeof kOpNames[0];

char delimiterOf(unsigned param) { return "\n 0x"[param % 4]; }

} // namespace

std::string compareExtractors(const std::uint8_t* data, std::size_t size) {
  if (size < 3)
    return {};
  static const long kBases[] = {0, ios::dec, ios::oct, ios::hex};
  long flags = kBases[data[0] & 3] | ((data[0] & 4) ? 0 : ios::skipws);
  const std::size_t chunk = data[1];
  const std::size_t count = 1 + data[2] % 16;
  std::size_t used = 3;
  std::vector<std::pair<int, unsigned>> ops;
  while (ops.size() < count && used + 2 <= size) {
    ops.emplace_back(data[used] % kOpCount, data[used + 1]);
    used += 2;
  }
  std::string input(reinterpret_cast<const char*>(data) + used, size - used);

  IChunkBuf buffer(input, chunk);
  istream ours(&buffer);
  ours.flags(flags);
  std::istringstream theirs(input);
  theirs.flags(toStdFlags(flags));

  std::string difference;
  std::string trail = "flags " + describeFlags(flags) + ", areas of " + std::to_string(chunk) + ", input " +
                      quoted(input.size() > 300 ? input.substr(0, 300) + "..." : input) + "; ";
  for (std::size_t i = 0; i < ops.size() && difference.empty(); ++i) {
    const auto [op, param] = ops[i];
    ISides both{ours, theirs, difference,
                trail + "extraction " + std::to_string(i) + " (" + kOpNames[op] + ", " + std::to_string(param) + ")"};
    switch (op) {
    case 0:
      both.extract<char>('?');
      break;
    case 1:
      both.extract<signed char>('?');
      break;
    case 2:
      both.extract<unsigned char>('?');
      break;
    case 3:
      both.extract<short>(77);
      break;
    case 4:
      both.extract<unsigned short>(77);
      break;
    case 5:
      both.extract<int>(77);
      break;
    case 6:
      both.extract<unsigned>(77);
      break;
    case 7:
      both.extract<long>(77);
      break;
    case 8:
      both.extract<unsigned long>(77);
      break;
    case 9:
      both.extract<long long>(77);
      break;
    case 10:
      both.extract<unsigned long long>(77);
      break;
    case 11:
      both.extract<bool>(true);
      break;
    case 12:
      both.extract<float>(7.5f);
      break;
    case 13:
      both.extract<double>(7.5);
      break;
    case 14:
      both.extract<long double>(7.5L);
      break;
    case 15:
      ours.width(static_cast<int>(param % 8));
      theirs.width(param % 8);
      both.extract<std::string>("unchanged");
      both.value(ours.width(), static_cast<int>(theirs.width()));
      break;
    case 16: {
      char a[8] = "-------", b[8] = "-------";
      ours.width(static_cast<int>(param % 10));
      theirs.width(param % 10);
      ours >> a;
      theirs >> b;
      both.value(std::string(a, 8), std::string(b, 8));
      both.compareState(false);
      both.value(ours.width(), static_cast<int>(theirs.width()));
      break;
    }
    case 17: {
      std::string a = "unchanged", b = "unchanged";
      getline(ours, a, delimiterOf(param));
      std::getline(theirs, b, delimiterOf(param));
      both.value(a, b);
      both.compareState(false);
      break;
    }
    case 18:
    case 19: {
      const int n = static_cast<int>(param % 24);
      std::string a(32, '#'), b(32, '#');
      if (op == 18) {
        ours.getline(a.data(), n, delimiterOf(param / 24));
        theirs.getline(b.data(), n, delimiterOf(param / 24));
      } else {
        ours.get(a.data(), n, delimiterOf(param / 24));
        theirs.get(b.data(), n, delimiterOf(param / 24));
      }
      both.value(a, b);
      both.compareState(true);
      break;
    }
    case 20: {
      const int n = param < 200 ? static_cast<int>(param % 50) : static_cast<int>(param) * 40;
      const int delim = param % 3 == 0 ? EOF : static_cast<unsigned char>(delimiterOf(param / 3));
      ours.ignore(n, delim);
      theirs.ignore(n, delim == EOF ? std::char_traits<char>::eof() : delim);
      both.compareState(true);
      break;
    }
    case 21: {
      const int n = static_cast<int>(param % 40);
      std::string a(40, '#'), b(40, '#');
      ours.read(a.data(), n);
      theirs.read(b.data(), n);
      both.value(a, b);
      both.compareState(true);
      break;
    }
    case 22:
      both.value(ours.get(), static_cast<int>(theirs.get()));
      both.compareState(true);
      break;
    case 23:
      both.value(ours.peek(), static_cast<int>(theirs.peek()));
      both.compareState(true);
      break;
    case 24:
      ours >> ws;
      theirs >> std::ws;
      both.compareState(false);
      break;
    default:
      ours.clear();
      theirs.clear();
      break;
    }
  }
  if (difference.empty()) {
    ours.clear();
    theirs.clear();
    std::string a, b;
    for (int c; (c = ours.get()) != EOF;)
      a += static_cast<char>(c);
    for (int c; (c = theirs.get()) != EOF;)
      b += static_cast<char>(c);
    if (a != b)
      difference = trail + "the unread rest " + quoted(a) + ", the standard stream's " + quoted(b);
  }
  return difference;
}
