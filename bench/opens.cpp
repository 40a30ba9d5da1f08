// Opening and closing a file by path, and the memory that open streams hold.
#include "common.hpp"

#include "ifilestr.hpp"

#include <fcntl.h>
#include <fstream>
#include <malloc.h>
#include <memory>
#include <vector>

namespace {

constexpr int kOpensPerPass = 10'000;
constexpr std::size_t kOpenStreams = 10'000;
// Ten thousand streams on one file: each lets the others read and write it.
constexpr int kShareAll = ios::in | ios::out;

void openOurs(benchmark::State& state) {
  const std::string& path = ICorpus::get().charsFile();
  for (auto _ : state) {
    IFileIOStream s(path, ios::in | ios::bin, 0);
    benchmark::DoNotOptimize(s.rdbuf());
  }
}

void openStd(benchmark::State& state) {
  const std::string& path = ICorpus::get().charsFile();
  for (auto _ : state) {
    std::fstream f(path, std::ios::in | std::ios::binary);
    requireGood(f.is_open(), "open", path);
  }
}

void openStdio(benchmark::State& state) {
  const std::string& path = ICorpus::get().charsFile();
  for (auto _ : state) {
    IStdioFile f(path, "rb");
    f.close();
  }
}

void openRaw(benchmark::State& state) {
  const std::string& path = ICorpus::get().charsFile();
  for (auto _ : state) {
    IDescriptor file(path, O_RDONLY);
    file.close();
  }
}

// Opens state.range(0) streams on one file with `mode`, each sharing it with
// all others, and closes them again; the time per stream is the counter.
void openMany(benchmark::State& state, int mode) {
  const std::string& path = ICorpus::get().charsFile();
  const auto count = static_cast<std::size_t>(state.range(0));
  for (auto _ : state) {
    std::vector<std::unique_ptr<IFileIOStream>> streams;
    streams.reserve(count);
    for (std::size_t i = 0; i < count; ++i)
      streams.push_back(std::make_unique<IFileIOStream>(path, mode | ios::bin | ios::nocreate, kShareAll));
    state.PauseTiming(); // closing is not what grows with the holders
    streams.clear();
    state.ResumeTiming();
  }
  state.counters["us_per_stream"] = benchmark::Counter(static_cast<double>(count) * 1e-6,
                                                       benchmark::Counter::kIsIterationInvariantRate |
                                                           benchmark::Counter::kInvert);
}

// Bytes taken from the heap, in use or mapped.
std::size_t heapInUse() {
  struct mallinfo2 info = ::mallinfo2();
  return info.uordblks + info.hblkhd;
}

// Opens kOpenStreams streams with `open` and reports the heap they hold,
// the stream objects themselves included, per stream.
template <class Stream, class Open> void measureMemory(benchmark::State& state, Open open) {
  double perStream = 0;
  for (auto _ : state) {
    std::vector<std::unique_ptr<Stream>> streams;
    streams.reserve(kOpenStreams);
    std::size_t before = heapInUse();
    for (std::size_t i = 0; i < kOpenStreams; ++i)
      streams.push_back(open());
    std::size_t after = heapInUse();
    perStream = static_cast<double>(after - before) / kOpenStreams;
  }
  state.counters["bytes_per_stream"] = perStream;
}

void memoryOurs(benchmark::State& state) {
  const std::string& path = ICorpus::get().charsFile();
  measureMemory<IFileIOStream>(state, [&path] { return std::make_unique<IFileIOStream>(path, ios::in | ios::bin, kShareAll); });
}

void memoryStd(benchmark::State& state) {
  const std::string& path = ICorpus::get().charsFile();
  measureMemory<std::fstream>(state, [&path] {
    auto f = std::make_unique<std::fstream>(path, std::ios::in | std::ios::binary);
    requireGood(f->is_open(), "open", path);
    return f;
  });
}

} // namespace

void addOpenBenchmarks() {
  addRun("open_close", kOurs, openOurs, kOpensPerPass, benchmark::kMicrosecond);
  addRun("open_close", kStd, openStd, kOpensPerPass, benchmark::kMicrosecond);
  addRun("open_close", kStdio, openStdio, kOpensPerPass, benchmark::kMicrosecond);
  addRun("open_close", kRaw, openRaw, kOpensPerPass, benchmark::kMicrosecond);
  // Streams that only write hold the rules on a byte of their own, readers
  // share one; both should cost the same per stream however many there are.
  for (int mode : {int(ios::out), int(ios::in)})
    addRun(mode == ios::out ? "open_many_writers" : "open_many_readers", kOurs,
           [mode](benchmark::State& state) { openMany(state, mode); }, 1, benchmark::kMillisecond)
        ->Arg(1'000)
        ->Arg(2'000)
        ->Arg(10'000)
        ->Repetitions(1);
  // The heap counts do not vary between runs.
  addRun("memory", kOurs, memoryOurs)->Repetitions(1);
  addRun("memory", kStd, memoryStd)->Repetitions(1);
}
