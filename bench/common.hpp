// What the workloads share: registration of one body per workload over a
// list of peers under "workload/peer", timing of one whole-file pass per
// iteration, and the checks of what each peer wrote or read.
#pragma once

#include "corpus.hpp"
#include "files.hpp"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace kfbench {

// Registers `run` as "workload/peer", `iterations` passes per run.
// An exception ends that benchmark with an error, not the whole run.
benchmark::internal::Benchmark* addRun(const std::string& workload, const char* peer,
                                       std::function<void(benchmark::State&)> run,
                                       benchmark::IterationCount iterations = 1,
                                       benchmark::TimeUnit unit = benchmark::kMillisecond);

// What a workload is registered with unless it says otherwise: one
// whole-file pass per iteration, in milliseconds, the default repetitions.
struct IWorkload {
  static constexpr benchmark::IterationCount kIterations = 1;
  static constexpr benchmark::TimeUnit kUnit = benchmark::kMillisecond;
  static constexpr int kRepetitions = 0;
};

// Registers Workload::run<Peer> for each peer, as "Workload::kName/Peer::kName".
template <class Workload, class... Peers> void addRuns() {
  for (benchmark::internal::Benchmark* run :
       {addRun(Workload::kName, Peers::kName, &Workload::template run<Peers>, Workload::kIterations,
               Workload::kUnit)...})
    if (Workload::kRepetitions > 0)
      run->Repetitions(Workload::kRepetitions);
}

// Times `write(path)`, which makes the output file, once per iteration on
// a file that does not exist yet; then checks that it holds `expected`.
void timeOutput(benchmark::State& state, const std::function<void(const std::string&)>& write,
                std::string_view expected);

// Times `read()` once per iteration; checks each answer against `expected`.
void timeInput(benchmark::State& state, const std::function<std::uint64_t()>& read, std::uint64_t expected,
               std::size_t bytes);

// Throws unless `good`: for the stream peers, which report by their state.
void requireGood(bool good, const char* operation, const std::string& path);

// The byte corpus, as the text that the character and block workloads write.
std::string_view charsView();

// The sum of `bytes`, each counted plus one so that a lost zero byte shows.
std::uint64_t sumOfBytes(std::string_view bytes);
// The sum of the corpus integers, wrapping.
std::uint64_t integersSum();

void addCharBenchmarks();
void addNumberBenchmarks();
void addTextBenchmarks();
void addSeekBenchmarks();
void addOpenBenchmarks();
void addStandardStreamBenchmarks();

} // namespace kfbench
