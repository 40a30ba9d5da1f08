#include "common.hpp"

#include <exception>
#include <stdexcept>

namespace kfbench {

benchmark::internal::Benchmark* addRun(const std::string& workload, const char* peer,
                                       std::function<void(benchmark::State&)> run, benchmark::IterationCount iterations,
                                       benchmark::TimeUnit unit) {
  std::string name = workload + "/" + peer;
  return benchmark::RegisterBenchmark(name.c_str(),
                                      [run](benchmark::State& state) {
                                        try {
                                          run(state);
                                        } catch (const std::exception& e) {
                                          state.SkipWithError(e.what());
                                        }
                                      })
      ->Iterations(iterations)
      ->Unit(unit)
      ->DisplayAggregatesOnly(true);
}

void timeOutput(benchmark::State& state, const std::function<void(const std::string&)>& write,
                std::string_view expected) {
  const std::string& path = ICorpus::get().outputFile();
  for (auto _ : state) {
    // Dropping the last pass's 64 MiB from the page cache is not the peer's work.
    state.PauseTiming();
    removeFile(path);
    state.ResumeTiming();
    write(path);
  }
  if (readWholeFile(path) != expected)
    state.SkipWithError("the output differs from the expected bytes");
  removeFile(path);
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * expected.size()));
}

void timeInput(benchmark::State& state, const std::function<std::uint64_t()>& read, std::uint64_t expected,
               std::size_t bytes) {
  bool right = true;
  for (auto _ : state) {
    std::uint64_t answer = read();
    benchmark::DoNotOptimize(answer);
    right = right && answer == expected;
  }
  if (!right)
    state.SkipWithError("the input read differs from the file");
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes));
}

void requireGood(bool good, const char* operation, const std::string& path) {
  if (!good)
    throw std::runtime_error(std::string(operation) + " of '" + path + "' failed: the stream's state is not good");
}

std::string_view charsView() {
  const std::vector<char>& data = ICorpus::get().chars();
  return {data.data(), data.size()};
}

std::uint64_t sumOfBytes(std::string_view bytes) {
  std::uint64_t total = 0;
  for (char c : bytes)
    total += static_cast<unsigned char>(c) + 1u;
  return total;
}

std::uint64_t integersSum() {
  static const std::uint64_t sum = [] {
    std::uint64_t total = 0;
    for (long long v : ICorpus::get().integers())
      total += static_cast<std::uint64_t>(v);
    return total;
  }();
  return sum;
}

} // namespace kfbench
