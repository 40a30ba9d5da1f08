// Lines in with getline into a std::string, and 64 KiB blocks out with
// write and in with read.
#include "peers.hpp"

#include <memory>

namespace kfbench {

namespace {

constexpr std::size_t kBigBlock = 64 * 1024;

// What every line reader answers: the lines and their characters.
std::uint64_t linesAnswer(std::uint64_t lines, std::uint64_t characters) { return (lines << 40) + characters; }

struct IGetline : IWorkload {
  static constexpr const char* kName = "getline";
  template <class Peer> static void run(benchmark::State& state) {
    ICorpus& c = ICorpus::get();
    timeReading<Peer>(
        state, c.linesFile(),
        [](auto& in) {
          std::string line;
          std::uint64_t lines = 0, characters = 0;
          while (in.line(line)) {
            ++lines;
            characters += line.size();
          }
          return linesAnswer(lines, characters);
        },
        linesAnswer(c.lineCount(), c.lineText().size() - c.lineCount()), c.lineText().size());
  }
};

struct IWrite64k : IWorkload {
  static constexpr const char* kName = "write64k";
  template <class Peer> static void run(benchmark::State& state) {
    timeWriting<Peer>(
        state,
        [](auto& out) {
          std::string_view data = charsView();
          for (std::size_t done = 0; done < data.size(); done += kBigBlock)
            out.write(data.data() + done, kBigBlock);
        },
        charsView());
  }
};

// The answer for one block: its first and last bytes, and the bytes read.
std::uint64_t blockAnswer(const char* block, std::size_t got) {
  return ((static_cast<std::uint64_t>(static_cast<unsigned char>(block[0])) +
           static_cast<unsigned char>(block[kBigBlock - 1]))
          << 32) +
         got;
}

std::uint64_t blocksExpected() {
  static const std::uint64_t answer = [] {
    std::string_view data = charsView();
    std::uint64_t sum = 0;
    for (std::size_t done = 0; done < data.size(); done += kBigBlock)
      sum += blockAnswer(data.data() + done, kBigBlock);
    return sum;
  }();
  return answer;
}

struct IRead64k : IWorkload {
  static constexpr const char* kName = "read64k";
  template <class Peer> static void run(benchmark::State& state) {
    timeReading<Peer>(
        state, ICorpus::get().charsFile(),
        [](auto& in) {
          std::unique_ptr<char[]> block(new char[kBigBlock]);
          std::uint64_t answer = 0;
          while (in.read(block.get(), kBigBlock))
            answer += blockAnswer(block.get(), kBigBlock);
          return answer;
        },
        blocksExpected(), charsView().size());
  }
};

} // namespace

void addTextBenchmarks() {
  addRuns<IGetline, IOurs, IStd, IStdio, IRaw>();
  addRuns<IWrite64k, IOurs, IStd, IStdio, IRaw, IDirect>();
  addRuns<IWrite64k, IOursApp, IStdApp>();
  addRuns<IRead64k, IOurs, IStd, IStdio, IRaw, IDirect>();
}

} // namespace kfbench
