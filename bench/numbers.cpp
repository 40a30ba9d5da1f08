// Numbers as text: integers out with << v << '\n' and back in with >>,
// a mix of int and 64-bit fields back in with >>, doubles out with << at the
// default precision.
#include "peers.hpp"

#include <charconv>
#include <vector>

namespace kfbench {

namespace {

// Writes `values`, one a line, with each peer's own formatting.
template <class Peer, class Value>
void timeLines(benchmark::State& state, const std::vector<Value>& values, const std::string& expected) {
  timeWriting<Peer>(
      state,
      [&values](auto& out) {
        for (Value v : values)
          out.line(v);
      },
      expected);
}

struct IIntOut : IWorkload {
  static constexpr const char* kName = "int_out";
  template <class Peer> static void run(benchmark::State& state) {
    ICorpus& c = ICorpus::get();
    timeLines<Peer>(state, c.integers(), c.integerText());
  }
};

struct IDoubleOut : IWorkload {
  static constexpr const char* kName = "double_out";
  template <class Peer> static void run(benchmark::State& state) {
    ICorpus& c = ICorpus::get();
    timeLines<Peer>(state, c.doubles(), c.doubleText());
  }
};

struct IIntIn : IWorkload {
  static constexpr const char* kName = "int_in";
  template <class Peer> static void run(benchmark::State& state) {
    ICorpus& c = ICorpus::get();
    timeReading<Peer>(
        state, c.integersFile(), [](auto& in) { return sumIntegers([&in](long long& v) { return in.next(v); }); },
        integersSum(), c.integerText().size());
  }
};

// The mixed file: records of five fields, three ints on one line, then a
// 64-bit value and an int on a line each. The ints keep the sign and the
// size class of the corpus values (small, up to 2^31, large, negative).
constexpr std::size_t kMixedRecord = 5;

int narrowed(long long v) { return static_cast<int>(v % 2147483647); }

struct IMixed {
  std::string fText;
  std::uint64_t fSum = 0;
};

const IMixed& mixed() {
  static const IMixed m = [] {
    IMixed made;
    const std::vector<long long>& values = ICorpus::get().integers();
    std::size_t count = values.size() / kMixedRecord * kMixedRecord;
    made.fText.reserve(count * 11);
    char text[32];
    for (std::size_t i = 0; i < count; ++i) {
      std::size_t field = i % kMixedRecord;
      long long v = field == 3 ? values[i] : narrowed(values[i]);
      made.fSum += static_cast<std::uint64_t>(v);
      char* end = std::to_chars(text, text + sizeof text, v).ptr;
      *end++ = field < 2 ? ' ' : '\n';
      made.fText.append(text, end);
    }
    return made;
  }();
  return m;
}

// The mixed file beside the corpus files, made for one benchmark and
// removed after it (the corpus folder must be empty when it goes).
class IMixedFile {
public:
  IMixedFile() {
    const std::string& output = ICorpus::get().outputFile();
    fPath = output.substr(0, output.rfind('/') + 1) + "mixed";
    writeFileInPieces(fPath, mixed().fText.data(), mixed().fText.size());
  }
  ~IMixedFile() {
    try {
      removeFile(fPath);
    } catch (...) {
      // The folder's removal reports what is left.
    }
  }
  IMixedFile(const IMixedFile&) = delete;
  IMixedFile& operator=(const IMixedFile&) = delete;
  const std::string& path() const { return fPath; }

private:
  std::string fPath;
};

// The stream peers only: >> of int and long long fields in turn.
struct IMixedIn : IWorkload {
  static constexpr const char* kName = "mixed_in";
  template <class Peer> static void run(benchmark::State& state) {
    IMixedFile file;
    timeReading<Peer>(
        state, file.path(),
        [](auto& in) {
          auto& s = in.stream();
          std::uint64_t sum = 0;
          int a, b, c, e;
          long long d;
          while (s >> a >> b >> c >> d >> e)
            sum += static_cast<std::uint64_t>(a) + static_cast<std::uint64_t>(b) + static_cast<std::uint64_t>(c) +
                   static_cast<std::uint64_t>(d) + static_cast<std::uint64_t>(e);
          return sum;
        },
        mixed().fSum, mixed().fText.size());
  }
};

} // namespace

void addNumberBenchmarks() {
  addRuns<IIntOut, IOurs, IStd, IStdio, IRaw, IClassic>();
  addRuns<IIntIn, IOurs, IStd, IStdio, IRaw, IClassic>();
  addRuns<IIntOut, IOursApp, IStdApp>();
  addRuns<IMixedIn, IOurs, IStd>();
  addRuns<IDoubleOut, IOurs, IStd, IStdio, IRaw>();
}

} // namespace kfbench
