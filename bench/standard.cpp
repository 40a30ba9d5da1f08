// The standard streams, cout << int and cin >> int: ours in step with C
// stdio and on buffers of their own, beside libstdc++'s std::cout and
// std::cin in step. They run with descriptors 0 and 1 moved onto the
// benchmark's files.
#include "peers.hpp"

#include "iostream.hpp"

#include <cstdio>
#include <fcntl.h>
#include <iostream>

namespace kfbench {

namespace {

// Ours, in step with stdio (the default) or on buffers of their own.
template <bool InStep> struct IOursStandard {
  static constexpr const char* kName = InStep ? "ours-synced" : "ours-own";
  static ostream& out() { return cout; }
  static istream& in() { return cin; }
  static void begin() { ios::sync_with_stdio(InStep); }
  // Back in step for the next run and for the program's own output.
  static void end() {
    cin.clear();
    std::clearerr(stdin);
    ios::sync_with_stdio(true);
  }
};

// libstdc++'s std::cout and std::cin cannot go back in step once they have
// buffers of their own, so only their default is measured. std::cin reads
// through the stdin of the program's start; once cin has read, stdin names
// the stream that shares cin's buffer, so the end of each run is cleared
// on the first one.
FILE* const gStartStdin = stdin;

struct IStdStandard {
  static constexpr const char* kName = "libstdc++-synced";
  static std::ostream& out() { return std::cout; }
  static std::istream& in() { return std::cin; }
  static void begin() {}
  static void end() {
    std::cin.clear();
    std::clearerr(gStartStdin);
  }
};

struct ICoutInt : IWorkload {
  static constexpr const char* kName = "cout_int";
  template <class Peer> static void run(benchmark::State& state) {
    ICorpus& c = ICorpus::get();
    Peer::out().flush();
    std::fflush(stdout);
    timeOutput(
        state,
        [&c](const std::string& path) {
          IMovedDescriptor out(1, path, O_WRONLY | O_CREAT | O_TRUNC);
          Peer::begin();
          for (long long v : c.integers())
            Peer::out() << v << '\n';
          Peer::out().flush();
          std::fflush(stdout);
          requireGood(Peer::out().good(), "write", path);
          Peer::end();
        },
        c.integerText());
  }
};

struct ICinInt : IWorkload {
  static constexpr const char* kName = "cin_int";
  template <class Peer> static void run(benchmark::State& state) {
    ICorpus& c = ICorpus::get();
    const std::string& path = c.integersFile();
    timeInput(
        state,
        [&path] {
          IMovedDescriptor in(0, path, O_RDONLY);
          Peer::begin();
          std::uint64_t sum = sumIntegers([](long long& v) { return static_cast<bool>(Peer::in() >> v); });
          Peer::end();
          return sum;
        },
        integersSum(), c.integerText().size());
  }
};

} // namespace

void addStandardStreamBenchmarks() {
  addRuns<ICoutInt, IOursStandard<true>, IOursStandard<false>, IStdStandard>();
  addRuns<ICinInt, IOursStandard<true>, IOursStandard<false>, IStdStandard>();
}

} // namespace kfbench
