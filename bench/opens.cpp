// Opening and closing a file by path, and the memory that open streams hold.
#include "peers.hpp"

#include <malloc.h>
#include <memory>
#include <vector>

namespace kfbench {

namespace {

// Opening and closing a file: for reading, and (kBoth) for reading and
// writing, as a program that updates a file does.
template <bool kBoth> struct IOpenCloseOf : IWorkload {
  static constexpr const char* kName = kBoth ? "open_close_rw" : "open_close";
  static constexpr benchmark::IterationCount kIterations = 10'000;
  static constexpr benchmark::TimeUnit kUnit = benchmark::kMicrosecond;
  template <class Peer> static void run(benchmark::State& state) {
    const std::string& path = ICorpus::get().charsFile();
    for (auto _ : state) {
      if constexpr (kBoth) {
        auto file = Peer::openBoth(path);
        file.close();
      } else {
        typename Peer::IOpen file(path);
        file.close();
      }
    }
  }
};
using IOpenClose = IOpenCloseOf<false>;
using IOpenCloseBoth = IOpenCloseOf<true>;

// Bytes taken from the heap, in use or mapped.
std::size_t heapInUse() {
  struct mallinfo2 info = ::mallinfo2();
  return info.uordblks + info.hblkhd;
}

// The heap that kOpenStreams streams open on one file hold, the stream
// objects themselves included, per stream. The counts do not vary between runs.
struct IMemory : IWorkload {
  static constexpr const char* kName = "memory";
  static constexpr int kRepetitions = 1;
  static constexpr std::size_t kOpenStreams = 10'000;
  template <class Peer> static void run(benchmark::State& state) {
    using IStream = decltype(Peer::openShared(std::declval<const std::string&>()));
    const std::string& path = ICorpus::get().charsFile();
    ICorpus::allowDescriptors(kOpenStreams);
    double perStream = 0;
    for (auto _ : state) {
      std::vector<std::unique_ptr<IStream>> streams;
      streams.reserve(kOpenStreams);
      std::size_t before = heapInUse();
      for (std::size_t i = 0; i < kOpenStreams; ++i) {
        streams.emplace_back(new IStream(Peer::openShared(path)));
        requireGood(streams.back()->good(), "open", path);
      }
      std::size_t after = heapInUse();
      perStream = static_cast<double>(after - before) / kOpenStreams;
    }
    state.counters["bytes_per_stream"] = perStream;
  }
};

// The same with each stream on a file of its own, so that nothing a file
// costs is shared; the files are made before the count starts.
struct IMemoryDistinct : IWorkload {
  static constexpr const char* kName = "memory_distinct";
  static constexpr int kRepetitions = 1;
  template <class Peer> static void run(benchmark::State& state) {
    using IStream = decltype(Peer::openShared(std::declval<const std::string&>()));
    const std::vector<std::string>& paths = ICorpus::get().manyFiles(IMemory::kOpenStreams);
    ICorpus::allowDescriptors(paths.size());
    double perStream = 0;
    for (auto _ : state) {
      std::vector<std::unique_ptr<IStream>> streams;
      streams.reserve(paths.size());
      std::size_t before = heapInUse();
      for (const std::string& path : paths) {
        streams.emplace_back(new IStream(Peer::openShared(path)));
        requireGood(streams.back()->good(), "open", path);
      }
      std::size_t after = heapInUse();
      perStream = static_cast<double>(after - before) / static_cast<double>(paths.size());
    }
    state.counters["bytes_per_stream"] = perStream;
  }
};

// Opens state.range(0) streams on one file with `mode`, each sharing it with
// all others, and closes them again. Streams that only write hold the rules
// on a byte of their own, readers share one; both should cost the same per
// stream however many there are.
void openMany(benchmark::State& state, int mode) {
  const std::string& path = ICorpus::get().charsFile();
  const auto count = static_cast<std::size_t>(state.range(0));
  ICorpus::allowDescriptors(count);
  for (auto _ : state) {
    std::vector<std::unique_ptr<IFileIOStream>> streams;
    streams.reserve(count);
    for (std::size_t i = 0; i < count; ++i)
      streams.push_back(std::make_unique<IFileIOStream>(path, mode | ios::bin | ios::nocreate, ios::in | ios::out));
    state.PauseTiming(); // closing is not what grows with the holders
    streams.clear();
    state.ResumeTiming();
  }
  // The time per stream: shown in the time unit that fits it.
  state.counters["per_stream"] =
      benchmark::Counter(static_cast<double>(count), benchmark::Counter::kIsIterationInvariantRate |
                                                         benchmark::Counter::kInvert);
}

} // namespace

void addOpenBenchmarks() {
  addRuns<IOpenClose, IOurs, IStd, IStdio, IRaw>();
  addRuns<IOpenCloseBoth, IOurs, IStd>();
  addRuns<IMemory, IOurs, IStd>();
  addRuns<IMemoryDistinct, IOurs, IStd>();
  for (int mode : {int(ios::out), int(ios::in)})
    addRun(mode == ios::out ? "open_many_writers" : "open_many_readers", IOurs::kName,
           [mode](benchmark::State& state) { openMany(state, mode); })
        ->Arg(1'000)
        ->Arg(2'000)
        ->Arg(10'000)
        ->Repetitions(1);
}

} // namespace kfbench
