// What the workloads share: registration under "workload/peer", timing of
// one whole-file pass per iteration, checks of what each peer wrote or read,
// and the C stdio file of the stdio peer.
#pragma once

#include "corpus.hpp"
#include "sysio.hpp"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <string_view>

// The peers, by the names the ratio table looks for.
inline constexpr const char* kOurs = "ours";
inline constexpr const char* kStd = "libstdc++";
inline constexpr const char* kStdio = "stdio";
inline constexpr const char* kRaw = "raw";

// Registers `run` as "workload/peer", one whole-file pass per iteration.
// An exception ends that benchmark with an error, not the whole run.
benchmark::internal::Benchmark* addRun(const std::string& workload, const char* peer,
                                       std::function<void(benchmark::State&)> run);
// The same, with `iterations` passes.
benchmark::internal::Benchmark* addRun(const std::string& workload, const char* peer,
                                       std::function<void(benchmark::State&)> run, benchmark::IterationCount iterations,
                                       benchmark::TimeUnit unit);

// Times `write(path)`, which makes the output file, once per iteration on
// a file that does not exist yet; then checks that it holds `expected`.
void timeOutput(benchmark::State& state, const std::function<void(const std::string&)>& write,
                std::string_view expected);

// Times `read()` once per iteration; checks each answer against `expected`.
void timeInput(benchmark::State& state, const std::function<std::uint64_t()>& read, std::uint64_t expected,
               std::size_t bytes);

// Throws unless `good`: for the stream peers, which report by their state.
void requireGood(bool good, const char* operation, const std::string& path);

// Reads integers with >> to the end of `s`; their sum, wrapping.
template <class Stream> std::uint64_t sumIntegers(Stream& s) {
  std::uint64_t sum = 0;
  long long v;
  while (s >> v)
    sum += static_cast<std::uint64_t>(v);
  return sum;
}

// IStdioFile: a C stdio file, locked by the caller (that is, never), closed
// with its failure reported.
class IStdioFile {
public:
  IStdioFile(const std::string& path, const char* mode);
  ~IStdioFile();
  IStdioFile(const IStdioFile&) = delete;
  IStdioFile& operator=(const IStdioFile&) = delete;

  FILE* get() const { return fFile; }
  void close();

private:
  FILE* fFile;
  std::string fPath;
};

void addCharBenchmarks();
void addNumberBenchmarks();
void addTextBenchmarks();
void addSeekBenchmarks();
void addOpenBenchmarks();
void addClassicBenchmarks();
