// kfbench: IFileIOStream against std::fstream, C stdio and a raw 4 KiB
// buffer loop, on the same files in a temporary folder.
//
//   kfbench [--kfbench_mib=64] [--kfbench_dir=/tmp] [Google Benchmark flags]
//
// Every workload runs on files of --kfbench_mib MiB (64 by default; less for
// a quick look or a run under callgrind). Repetitions default to 7, run in
// random order across all benchmarks so that a burst of load from elsewhere
// on the machine falls on every peer alike; the ratio table
// (bench/ratios.py) takes the median of them.
#include "common.hpp"

#include <cstdlib>
#include <cstring>
#include <exception>
#include <iostream>
#include <string>
#include <vector>

namespace {

constexpr std::size_t kDefaultMebibytes = 64;
constexpr const char* kDefaultRepetitions = "--benchmark_repetitions=7";
constexpr const char* kDefaultInterleaving = "--benchmark_enable_random_interleaving=true";

// Takes --name=value out of the arguments; the default when absent.
std::string takeFlag(std::vector<char*>& args, const char* name, std::string fallback) {
  std::string prefix = std::string("--") + name + "=";
  for (auto it = args.begin() + 1; it != args.end(); ++it) {
    if (std::strncmp(*it, prefix.c_str(), prefix.size()) == 0) {
      fallback = *it + prefix.size();
      args.erase(it);
      break;
    }
  }
  return fallback;
}

bool hasFlag(const std::vector<char*>& args, const char* prefix) {
  for (std::size_t i = 1; i < args.size(); ++i)
    if (std::strncmp(args[i], prefix, std::strlen(prefix)) == 0)
      return true;
  return false;
}

} // namespace

int main(int argc, char** argv) {
  std::vector<char*> args(argv, argv + argc);
  std::string mebibytes = takeFlag(args, "kfbench_mib", std::to_string(kDefaultMebibytes));
  const char* tmp = std::getenv("TMPDIR");
  std::string folder = takeFlag(args, "kfbench_dir", tmp && *tmp ? tmp : "/tmp");
  std::string repetitions = kDefaultRepetitions;
  std::string interleaving = kDefaultInterleaving;
  if (!hasFlag(args, "--benchmark_repetitions="))
    args.insert(args.begin() + 1, repetitions.data());
  if (!hasFlag(args, "--benchmark_enable_random_interleaving"))
    args.insert(args.begin() + 1, interleaving.data());
  int count = static_cast<int>(args.size());
  args.push_back(nullptr);

  benchmark::Initialize(&count, args.data());
  if (benchmark::ReportUnrecognizedArguments(count, args.data()))
    return 1;
  int status = 0;
  try {
    std::size_t size = std::stoul(mebibytes);
    if (size == 0)
      throw std::invalid_argument("--kfbench_mib must be at least 1");
    benchmark::AddCustomContext("compiler", "g++ " __VERSION__);
    benchmark::AddCustomContext("file_mib", mebibytes);
    ICorpus::setUp(folder, size);
    addCharBenchmarks();
    addNumberBenchmarks();
    addTextBenchmarks();
    addSeekBenchmarks();
    addOpenBenchmarks();
    addClassicBenchmarks();
    benchmark::RunSpecifiedBenchmarks();
  } catch (const std::exception& e) {
    std::cerr << "kfbench: " << e.what() << '\n';
    status = 1;
  }
  try {
    ICorpus::tearDown();
  } catch (const std::exception& e) {
    std::cerr << "kfbench: " << e.what() << '\n';
    status = 1;
  }
  benchmark::Shutdown();
  return status;
}
