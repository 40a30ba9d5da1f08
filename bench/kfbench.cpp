// kfbench: IFileIOStream against std::fstream, C stdio and a raw 4 KiB
// buffer loop, on the same files in a temporary folder. Each workload is
// written once and run on every peer that takes part in it (peers.hpp).
//
//   kfbench [--kfbench_mib=64] [--kfbench_dir=/tmp] [Google Benchmark flags]
//
// Every workload runs on files of --kfbench_mib MiB (64 by default; less for
// a quick look or a run under callgrind). Repetitions default to 7, run in
// random order across all benchmarks so that a burst of load from elsewhere
// on the machine falls on every peer alike; the ratio table
// (bench/ratios.py) takes the median of them.
#include "common.hpp"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <iostream>
#include <string>
#include <vector>

namespace {

using namespace kfbench;

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

// --help: the flags of kfbench itself, then those of Google Benchmark.
void printHelp() {
  std::printf("kfbench: IFileIOStream beside std::fstream, C stdio and a raw 4 KiB buffer loop.\n"
              "\n"
              "  [--kfbench_mib=<size>]    the size of every file, in MiB (default %zu); the counts\n"
              "                            of numbers, lines and seeks follow it\n"
              "  [--kfbench_dir=<folder>]  where the temporary folder of the files goes\n"
              "                            (default $TMPDIR, else /tmp)\n"
              "\n"
              "Unless given, --benchmark_repetitions=7 and --benchmark_enable_random_interleaving=true.\n"
              "\n",
              kDefaultMebibytes);
  benchmark::PrintDefaultHelp();
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

  benchmark::Initialize(&count, args.data(), printHelp);
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
    addStandardStreamBenchmarks();
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
