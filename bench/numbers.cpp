// Numbers as text: integers out with << v << '\n' and back in with >>,
// a mix of int and 64-bit fields back in with >>, doubles out with << at the
// default precision.
#include "common.hpp"

#include "ifilestr.hpp"
#include "rawio.hpp"

#include <cerrno>
#include <charconv>
#include <fcntl.h>
#include <fstream>
#include <string>
#include <vector>

namespace {

// A sign, 20 digits and the newline.
constexpr std::size_t kIntegerRoom = 22;
// Ample for %g of any double, and the newline.
constexpr std::size_t kDoubleRoom = 32;

std::uint64_t integersSum() {
  static const std::uint64_t sum = [] {
    std::uint64_t total = 0;
    for (long long v : ICorpus::get().integers())
      total += static_cast<std::uint64_t>(v);
    return total;
  }();
  return sum;
}

void intOutOurs(benchmark::State& state) {
  ICorpus& c = ICorpus::get();
  timeOutput(
      state,
      [&c](const std::string& path) {
        IFileIOStream s(path, ios::out | ios::trunc | ios::bin, 0);
        for (long long v : c.integers())
          s << v << '\n';
        s.close();
      },
      c.integerText());
}

void intOutStd(benchmark::State& state) {
  ICorpus& c = ICorpus::get();
  timeOutput(
      state,
      [&c](const std::string& path) {
        std::fstream f(path, std::ios::out | std::ios::trunc | std::ios::binary);
        for (long long v : c.integers())
          f << v << '\n';
        f.close();
        requireGood(f.good(), "write", path);
      },
      c.integerText());
}

void intOutStdio(benchmark::State& state) {
  ICorpus& c = ICorpus::get();
  timeOutput(
      state,
      [&c](const std::string& path) {
        IStdioFile f(path, "wb");
        FILE* file = f.get();
        for (long long v : c.integers())
          if (std::fprintf(file, "%lld\n", v) < 0)
            throwSystemError("fprintf", path, errno);
        f.close();
      },
      c.integerText());
}

void intOutRaw(benchmark::State& state) {
  ICorpus& c = ICorpus::get();
  timeOutput(
      state,
      [&c](const std::string& path) {
        IDescriptor file(path, O_WRONLY | O_CREAT | O_TRUNC);
        IRawWriter out(file);
        for (long long v : c.integers()) {
          if (out.room() >= kIntegerRoom) {
            char* end = std::to_chars(out.next(), out.end(), v).ptr;
            *end++ = '\n';
            out.commit(end);
          } else {
            char text[kIntegerRoom];
            char* end = std::to_chars(text, text + sizeof text - 1, v).ptr;
            *end++ = '\n';
            out.append(text, static_cast<std::size_t>(end - text));
          }
        }
        out.flush();
        file.close();
      },
      c.integerText());
}

void intInOurs(benchmark::State& state) {
  ICorpus& c = ICorpus::get();
  const std::string& path = c.integersFile();
  timeInput(
      state,
      [&path] {
        IFileIOStream s(path, ios::in | ios::bin, 0);
        return sumIntegers(s);
      },
      integersSum(), c.integerText().size());
}

void intInStd(benchmark::State& state) {
  ICorpus& c = ICorpus::get();
  const std::string& path = c.integersFile();
  timeInput(
      state,
      [&path] {
        std::fstream f(path, std::ios::in | std::ios::binary);
        requireGood(f.good(), "open", path);
        return sumIntegers(f);
      },
      integersSum(), c.integerText().size());
}

void intInStdio(benchmark::State& state) {
  ICorpus& c = ICorpus::get();
  const std::string& path = c.integersFile();
  timeInput(
      state,
      [&path] {
        IStdioFile f(path, "rb");
        FILE* file = f.get();
        std::uint64_t sum = 0;
        long long v;
        while (std::fscanf(file, "%lld", &v) == 1)
          sum += static_cast<std::uint64_t>(v);
        f.close();
        return sum;
      },
      integersSum(), c.integerText().size());
}

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

// Reads the mixed records (three ints, a 64-bit value, an int) to the end; their sum.
template <class Stream> std::uint64_t sumRecords(Stream& s) {
  std::uint64_t sum = 0;
  int a, b, c, e;
  long long d;
  while (s >> a >> b >> c >> d >> e)
    sum += static_cast<std::uint64_t>(a) + static_cast<std::uint64_t>(b) + static_cast<std::uint64_t>(c) +
           static_cast<std::uint64_t>(d) + static_cast<std::uint64_t>(e);
  return sum;
}

void mixedInOurs(benchmark::State& state) {
  IMixedFile file;
  const std::string& path = file.path();
  timeInput(
      state,
      [&path] {
        IFileIOStream s(path, ios::in | ios::bin, 0);
        return sumRecords(s);
      },
      mixed().fSum, mixed().fText.size());
}

void mixedInStd(benchmark::State& state) {
  IMixedFile file;
  const std::string& path = file.path();
  timeInput(
      state,
      [&path] {
        std::fstream f(path, std::ios::in | std::ios::binary);
        requireGood(f.good(), "open", path);
        return sumRecords(f);
      },
      mixed().fSum, mixed().fText.size());
}

bool isDigitOrSign(char c) { return (c >= '0' && c <= '9') || c == '-' || c == '+'; }

void intInRaw(benchmark::State& state) {
  ICorpus& c = ICorpus::get();
  const std::string& path = c.integersFile();
  timeInput(
      state,
      [&path] {
        IDescriptor file(path, O_RDONLY);
        IRawReader in(file);
        std::uint64_t sum = 0;
        long long v = 0;
        for (;;) {
          // White space, across refills.
          for (;;) {
            if (in.fNext == in.fEnd && !in.refill())
              return sum;
            if (*in.fNext != ' ' && (*in.fNext < '\t' || *in.fNext > '\r'))
              break;
            ++in.fNext;
          }
          if (static_cast<std::size_t>(in.fEnd - in.fNext) > kIntegerRoom) {
            // The number ends inside the array: convert it where it lies.
            in.fNext = std::from_chars(in.fNext, in.fEnd, v).ptr;
          } else {
            char text[kIntegerRoom];
            std::size_t length = 0;
            while ((in.fNext < in.fEnd || in.refill()) && isDigitOrSign(*in.fNext) && length < sizeof text)
              text[length++] = *in.fNext++;
            std::from_chars(text, text + length, v);
          }
          sum += static_cast<std::uint64_t>(v);
        }
      },
      integersSum(), c.integerText().size());
}

void doubleOutOurs(benchmark::State& state) {
  ICorpus& c = ICorpus::get();
  timeOutput(
      state,
      [&c](const std::string& path) {
        IFileIOStream s(path, ios::out | ios::trunc | ios::bin, 0);
        for (double v : c.doubles())
          s << v << '\n';
        s.close();
      },
      c.doubleText());
}

void doubleOutStd(benchmark::State& state) {
  ICorpus& c = ICorpus::get();
  timeOutput(
      state,
      [&c](const std::string& path) {
        std::fstream f(path, std::ios::out | std::ios::trunc | std::ios::binary);
        for (double v : c.doubles())
          f << v << '\n';
        f.close();
        requireGood(f.good(), "write", path);
      },
      c.doubleText());
}

void doubleOutStdio(benchmark::State& state) {
  ICorpus& c = ICorpus::get();
  timeOutput(
      state,
      [&c](const std::string& path) {
        IStdioFile f(path, "wb");
        FILE* file = f.get();
        for (double v : c.doubles())
          if (std::fprintf(file, "%g\n", v) < 0)
            throwSystemError("fprintf", path, errno);
        f.close();
      },
      c.doubleText());
}

void doubleOutRaw(benchmark::State& state) {
  ICorpus& c = ICorpus::get();
  timeOutput(
      state,
      [&c](const std::string& path) {
        IDescriptor file(path, O_WRONLY | O_CREAT | O_TRUNC);
        IRawWriter out(file);
        for (double v : c.doubles()) {
          if (out.room() >= kDoubleRoom) {
            char* end = std::to_chars(out.next(), out.end(), v, std::chars_format::general, 6).ptr;
            *end++ = '\n';
            out.commit(end);
          } else {
            char text[kDoubleRoom];
            char* end = std::to_chars(text, text + sizeof text - 1, v, std::chars_format::general, 6).ptr;
            *end++ = '\n';
            out.append(text, static_cast<std::size_t>(end - text));
          }
        }
        out.flush();
        file.close();
      },
      c.doubleText());
}

} // namespace

void addNumberBenchmarks() {
  addRun("int_out", kOurs, intOutOurs);
  addRun("int_out", kStd, intOutStd);
  addRun("int_out", kStdio, intOutStdio);
  addRun("int_out", kRaw, intOutRaw);
  addRun("int_in", kOurs, intInOurs);
  addRun("int_in", kStd, intInStd);
  addRun("int_in", kStdio, intInStdio);
  addRun("int_in", kRaw, intInRaw);
  addRun("mixed_in", kOurs, mixedInOurs);
  addRun("mixed_in", kStd, mixedInStd);
  addRun("double_out", kOurs, doubleOutOurs);
  addRun("double_out", kStd, doubleOutStd);
  addRun("double_out", kStdio, doubleOutStdio);
  addRun("double_out", kRaw, doubleOutRaw);
}
