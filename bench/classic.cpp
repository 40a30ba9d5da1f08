// The classic streams of classic programs: ifstream and ofstream (peer
// "classic") on the workloads of IFileIOStream, and the standard streams,
// cout << int and cin >> int, in step with C stdio and on their own buffers,
// beside libstdc++'s std::cout and std::cin in step. The standard streams
// run with descriptors 0 and 1 moved onto the benchmark's files.
#include "common.hpp"

#include "fstream.hpp"

#include <cerrno>
#include <fcntl.h>
#include <iostream>
#include <unistd.h>

namespace {

constexpr const char* kClassic = "classic";

std::string_view charsView() {
  const std::vector<char>& data = ICorpus::get().chars();
  return {data.data(), data.size()};
}

std::uint64_t sumOf(std::string_view bytes) {
  std::uint64_t total = 0;
  for (char c : bytes)
    total += static_cast<unsigned char>(c) + 1u;
  return total;
}

std::uint64_t integersSum() {
  std::uint64_t total = 0;
  for (long long v : ICorpus::get().integers())
    total += static_cast<std::uint64_t>(v);
  return total;
}

void putClassic(benchmark::State& state) {
  timeOutput(
      state,
      [](const std::string& path) {
        ofstream s(path.c_str(), ios::out | ios::bin);
        for (char c : charsView())
          s.put(c);
        s.close();
        requireGood(s.good(), "write", path);
      },
      charsView());
}

void getClassic(benchmark::State& state) {
  const std::string& path = ICorpus::get().charsFile();
  static const std::uint64_t expected = sumOf(charsView());
  timeInput(
      state,
      [&path] {
        ifstream s(path.c_str(), ios::in | ios::bin);
        requireGood(s.good(), "open", path);
        std::uint64_t sum = 0;
        int c;
        while ((c = s.get()) != EOF)
          sum += static_cast<unsigned>(c) + 1u;
        return sum;
      },
      expected, charsView().size());
}

void intOutClassic(benchmark::State& state) {
  ICorpus& c = ICorpus::get();
  timeOutput(
      state,
      [&c](const std::string& path) {
        ofstream s(path.c_str(), ios::out | ios::bin);
        for (long long v : c.integers())
          s << v << '\n';
        s.close();
        requireGood(s.good(), "write", path);
      },
      c.integerText());
}

void intInClassic(benchmark::State& state) {
  ICorpus& c = ICorpus::get();
  const std::string& path = c.integersFile();
  static const std::uint64_t expected = integersSum();
  timeInput(
      state,
      [&path] {
        ifstream s(path.c_str(), ios::in | ios::bin);
        requireGood(s.good(), "open", path);
        return sumIntegers(s);
      },
      expected, c.integerText().size());
}

// Descriptor `target` moved onto `path` while the object lives.
class IMovedDescriptor {
public:
  IMovedDescriptor(int target, const std::string& path, int flags) : fTarget(target), fSaved(::dup(target)) {
    int fd = ::open(path.c_str(), flags | O_CLOEXEC, 0644);
    if (fSaved < 0 || fd < 0 || ::dup2(fd, target) < 0)
      throwSystemError("redirect", path, errno);
    ::close(fd);
  }
  ~IMovedDescriptor() {
    ::dup2(fSaved, fTarget);
    ::close(fSaved);
  }
  IMovedDescriptor(const IMovedDescriptor&) = delete;
  IMovedDescriptor& operator=(const IMovedDescriptor&) = delete;

private:
  int fTarget;
  int fSaved;
};

void coutInt(benchmark::State& state, bool inStep) {
  ICorpus& c = ICorpus::get();
  std::fflush(stdout);
  timeOutput(
      state,
      [&c, inStep](const std::string& path) {
        IMovedDescriptor out(1, path, O_WRONLY | O_CREAT | O_TRUNC);
        ios::sync_with_stdio(inStep);
        for (long long v : c.integers())
          cout << v << '\n';
        cout.flush();
        std::fflush(stdout);
        requireGood(cout.good(), "write", path);
        ios::sync_with_stdio(true);
      },
      c.integerText());
}

void cinInt(benchmark::State& state, bool inStep) {
  ICorpus& c = ICorpus::get();
  const std::string& path = c.integersFile();
  static const std::uint64_t expected = integersSum();
  timeInput(
      state,
      [&path, inStep] {
        IMovedDescriptor in(0, path, O_RDONLY);
        ios::sync_with_stdio(inStep);
        std::uint64_t sum = sumIntegers(cin);
        cin.clear();
        std::clearerr(stdin);
        ios::sync_with_stdio(true);
        return sum;
      },
      expected, c.integerText().size());
}

void coutIntStd(benchmark::State& state) {
  ICorpus& c = ICorpus::get();
  std::cout.flush();
  std::fflush(stdout);
  timeOutput(
      state,
      [&c](const std::string& path) {
        IMovedDescriptor out(1, path, O_WRONLY | O_CREAT | O_TRUNC);
        for (long long v : c.integers())
          std::cout << v << '\n';
        std::cout.flush();
        std::fflush(stdout);
        requireGood(std::cout.good(), "write", path);
      },
      c.integerText());
}

// libstdc++'s std::cin reads through the stdin of the program's start; once
// cin has read, stdin names the stream that shares cin's buffer, so the end
// of each run is cleared on the first one.
FILE* const gStartStdin = stdin;

void cinIntStd(benchmark::State& state) {
  ICorpus& c = ICorpus::get();
  const std::string& path = c.integersFile();
  static const std::uint64_t expected = integersSum();
  timeInput(
      state,
      [&path] {
        IMovedDescriptor in(0, path, O_RDONLY);
        std::uint64_t sum = sumIntegers(std::cin);
        std::cin.clear();
        std::clearerr(gStartStdin);
        return sum;
      },
      expected, c.integerText().size());
}

} // namespace

void addClassicBenchmarks() {
  addRun("put", kClassic, putClassic);
  addRun("get", kClassic, getClassic);
  addRun("int_out", kClassic, intOutClassic);
  addRun("int_in", kClassic, intInClassic);
  addRun("cout_int", "ours-synced", [](benchmark::State& s) { coutInt(s, true); });
  addRun("cout_int", "ours-own", [](benchmark::State& s) { coutInt(s, false); });
  addRun("cin_int", "ours-synced", [](benchmark::State& s) { cinInt(s, true); });
  addRun("cin_int", "ours-own", [](benchmark::State& s) { cinInt(s, false); });
  // libstdc++'s standard streams cannot go back in step once they have
  // buffers of their own, so only their default is measured.
  addRun("cout_int", "libstdc++-synced", [](benchmark::State& s) { coutIntStd(s); });
  addRun("cin_int", "libstdc++-synced", [](benchmark::State& s) { cinIntStd(s); });
}
