#include "corpus.hpp"

#include "files.hpp"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <stdexcept>
#include <sys/resource.h>
#include <unistd.h>

namespace kfbench {

namespace {

std::unique_ptr<ICorpus> theCorpus;

// splitmix64: the same numbers on every machine and every run.
class IRandom {
public:
  explicit IRandom(std::uint64_t seed) : fState(seed) {}
  std::uint64_t next() {
    std::uint64_t z = (fState += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }

private:
  std::uint64_t fState;
};

} // namespace

void ICorpus::setUp(const std::string& parentFolder, std::size_t mebibytes) {
  std::string pattern = parentFolder + "/kfbench.XXXXXX";
  if (!::mkdtemp(pattern.data()))
    throwSystemError("mkdtemp", pattern, errno);
  theCorpus.reset(new ICorpus(pattern, mebibytes));
}

void ICorpus::tearDown() {
  if (!theCorpus)
    return;
  ICorpus& c = *theCorpus;
  for (const std::string* path : {&c.fCharsFile, &c.fIntegersFile, &c.fLinesFile, &c.fWalkFile, &c.fOutputFile})
    if (!path->empty())
      removeFile(*path);
  for (const std::string& path : c.fManyFiles)
    removeFile(path);
  if (retried([&c] { return ::rmdir(c.fFolder.c_str()); }) != 0)
    throwSystemError("rmdir", c.fFolder, errno);
  theCorpus.reset();
}

ICorpus& ICorpus::get() {
  if (!theCorpus)
    throw std::logic_error("the corpus is used before ICorpus::setUp");
  return *theCorpus;
}

ICorpus::ICorpus(std::string folder, std::size_t mebibytes)
    : fFolder(std::move(folder)), fMebibytes(mebibytes), fBytes(mebibytes << 20),
      fOutputFile(fFolder + "/output") {}

const std::vector<char>& ICorpus::chars() {
  if (fChars.empty()) {
    IRandom random(1);
    fChars.resize(fBytes);
    for (std::size_t i = 0; i < fBytes; i += 8) {
      std::uint64_t r = random.next();
      for (std::size_t k = 0; k < 8 && i + k < fBytes; ++k)
        fChars[i + k] = static_cast<char>(r >> (8 * k));
    }
  }
  return fChars;
}

const std::vector<long long>& ICorpus::integers() {
  if (fIntegers.empty()) {
    IRandom random(2);
    fIntegers.resize(integerCount());
    for (long long& v : fIntegers) {
      std::uint64_t r = random.next();
      switch (r & 3) {
      case 0: // small
        v = static_cast<long long>((r >> 2) % 1000);
        break;
      case 1: // up to 2^31
        v = static_cast<long long>((r >> 2) % 2147483648u);
        break;
      case 2: // large, 18 or 19 digits
        v = static_cast<long long>(r >> 2);
        break;
      default: // negative, small or large
        v = (r & 4) ? -static_cast<long long>((r >> 3) % 1000000) - 1 : -static_cast<long long>(r >> 3) - 1;
        break;
      }
    }
  }
  return fIntegers;
}

const std::string& ICorpus::integerText() {
  if (fIntegerText.empty()) {
    fIntegerText.reserve(integers().size() * 12);
    char text[32];
    for (long long v : integers()) {
      char* end = std::to_chars(text, text + sizeof text, v).ptr;
      *end++ = '\n';
      fIntegerText.append(text, end);
    }
  }
  return fIntegerText;
}

const std::vector<double>& ICorpus::doubles() {
  if (fDoubles.empty()) {
    IRandom random(3);
    fDoubles.resize(doubleCount());
    for (double& v : fDoubles) {
      std::uint64_t r = random.next();
      // A mantissa in [-1, 1) times 10^-12 .. 10^12: fixed and exponent forms.
      double mantissa = static_cast<double>(static_cast<std::int64_t>(r >> 11) - (std::int64_t{1} << 52)) /
                        static_cast<double>(std::int64_t{1} << 52);
      int exponent = static_cast<int>(random.next() % 25) - 12;
      v = mantissa * std::pow(10.0, exponent);
    }
  }
  return fDoubles;
}

const std::string& ICorpus::doubleText() {
  if (fDoubleText.empty()) {
    fDoubleText.reserve(doubles().size() * 13);
    char text[64];
    for (double v : doubles()) {
      char* end = std::to_chars(text, text + sizeof text, v, std::chars_format::general, 6).ptr;
      *end++ = '\n';
      fDoubleText.append(text, end);
    }
  }
  return fDoubleText;
}

const std::string& ICorpus::lineText() {
  if (fLineText.empty()) {
    IRandom random(4);
    fLineText.reserve(fBytes + 128);
    while (fLineText.size() < fBytes) {
      std::uint64_t r = random.next();
      std::size_t length = r % 120;
      for (std::size_t i = 0; i < length; ++i) {
        if (i % 8 == 0)
          r = random.next();
        fLineText.push_back(static_cast<char>(' ' + (r >> (8 * (i % 8))) % 95));
      }
      fLineText.push_back('\n');
      ++fLineCount;
    }
  }
  return fLineText;
}

std::size_t ICorpus::lineCount() {
  lineText();
  return fLineCount;
}

const std::vector<off_t>& ICorpus::seekOffsets() {
  if (fSeekOffsets.empty()) {
    IRandom random(5);
    std::size_t pages = fBytes / 4096;
    fSeekOffsets.resize(seekCount());
    for (off_t& offset : fSeekOffsets)
      offset = static_cast<off_t>(random.next() % pages) * 4096;
  }
  return fSeekOffsets;
}

const std::string& ICorpus::file(std::string& path, const char* name, const char* data, std::size_t size) {
  if (path.empty()) {
    std::string full = fFolder + "/" + name;
    writeFileInPieces(full, data, size);
    path = full;
  }
  return path;
}

void ICorpus::allowDescriptors(std::size_t count) {
  struct rlimit limit {};
  if (::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < count + 64) {
    limit.rlim_cur = std::min<rlim_t>(limit.rlim_max, count + 64);
    if (::setrlimit(RLIMIT_NOFILE, &limit) != 0)
      throwSystemError("setrlimit", "RLIMIT_NOFILE", errno);
  }
}

const std::vector<std::string>& ICorpus::manyFiles(std::size_t count) {
  while (fManyFiles.size() < count) {
    std::string path = fFolder + "/many-" + std::to_string(fManyFiles.size());
    writeFileInPieces(path, "", 0);
    fManyFiles.push_back(std::move(path));
  }
  return fManyFiles;
}

const std::string& ICorpus::charsFile() { return file(fCharsFile, "chars", chars().data(), chars().size()); }

const std::string& ICorpus::integersFile() {
  return file(fIntegersFile, "integers", integerText().data(), integerText().size());
}

const std::string& ICorpus::linesFile() { return file(fLinesFile, "lines", lineText().data(), lineText().size()); }

const std::string& ICorpus::walkFile() { return file(fWalkFile, "walk", chars().data(), chars().size()); }

} // namespace kfbench
