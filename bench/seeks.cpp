// Positioning: random seekg(pos) each followed by a 64-byte read, and a
// walk that reads 100 bytes and overwrites the next 10 in place.
#include "peers.hpp"

#include <cstring>
#include <fcntl.h>

namespace kfbench {

namespace {

constexpr std::size_t kSmallRead = 64;
constexpr std::size_t kWalkRead = 100;
constexpr std::size_t kWalkWrite = 10;
constexpr std::size_t kWalkStep = kWalkRead + kWalkWrite;
constexpr char kPatch[kWalkWrite + 1] = "0123456789";

std::uint64_t smallReadAnswer(const char* bytes) {
  return static_cast<unsigned char>(bytes[0]) + static_cast<unsigned char>(bytes[kSmallRead - 1]) + 1u;
}

std::uint64_t seeksExpected() {
  static const std::uint64_t answer = [] {
    ICorpus& c = ICorpus::get();
    std::uint64_t sum = 0;
    for (off_t offset : c.seekOffsets())
      sum += smallReadAnswer(c.chars().data() + offset);
    return sum;
  }();
  return answer;
}

struct ISeekRead : IWorkload {
  static constexpr const char* kName = "seek_read";
  template <class Peer> static void run(benchmark::State& state) {
    ICorpus& c = ICorpus::get();
    timeReading<Peer>(
        state, c.charsFile(),
        [&c](auto& in) {
          char bytes[kSmallRead];
          std::uint64_t sum = 0;
          for (off_t offset : c.seekOffsets()) {
            in.readAt(offset, bytes, kSmallRead);
            sum += smallReadAnswer(bytes);
          }
          return sum;
        },
        seeksExpected(), c.seekCount() * kSmallRead);
  }
};

// The walk: as many whole steps as the file holds, so that no write extends it.
std::size_t walkSteps() { return ICorpus::get().bytes() / kWalkStep; }

// What every walker answers: the first byte of each read, which no write touches.
std::uint64_t walkExpected() {
  static const std::uint64_t answer = [] {
    const std::vector<char>& data = ICorpus::get().chars();
    std::uint64_t sum = 0;
    for (std::size_t step = 0; step < walkSteps(); ++step)
      sum += static_cast<unsigned char>(data[step * kWalkStep]) + 1u;
    return sum;
  }();
  return answer;
}

// True if the walk file kept its size and holds the patch after the first and the last read.
bool walkedRightly(const std::string& path) {
  IDescriptor file = IPosix::open(path, O_RDONLY);
  char first[kWalkWrite], last[kWalkWrite];
  const off_t lastPatch = static_cast<off_t>((walkSteps() - 1) * kWalkStep + kWalkRead);
  bool right = static_cast<std::size_t>(IPosix::status(file.get(), path).st_size) == ICorpus::get().bytes() &&
               readAt(file, first, kWalkWrite, kWalkRead, path) == kWalkWrite &&
               readAt(file, last, kWalkWrite, lastPatch, path) == kWalkWrite &&
               std::memcmp(first, kPatch, kWalkWrite) == 0 && std::memcmp(last, kPatch, kWalkWrite) == 0;
  file.close(path);
  return right;
}

struct IReadOverwrite : IWorkload {
  static constexpr const char* kName = "walk";
  template <class Peer> static void run(benchmark::State& state) {
    const std::string& path = ICorpus::get().walkFile();
    timeInput(
        state,
        [&path] {
          typename Peer::IWalk walk(path);
          char bytes[kWalkRead];
          std::uint64_t sum = 0;
          for (std::size_t step = walkSteps(); step > 0; --step) {
            walk.step(bytes, kWalkRead, kPatch, kWalkWrite);
            sum += static_cast<unsigned char>(bytes[0]) + 1u;
          }
          walk.close();
          return sum;
        },
        walkExpected(), walkSteps() * kWalkStep);
    if (!walkedRightly(path))
      state.SkipWithError("the walk left the file with the wrong size or without its patches");
  }
};

} // namespace

void addSeekBenchmarks() {
  addRuns<ISeekRead, IOurs, IStd, IStdio, IRaw, IPread>();
  addRuns<IReadOverwrite, IOurs, IStd, IStdio, IRaw>();
}

} // namespace kfbench
