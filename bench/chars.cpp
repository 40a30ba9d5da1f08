// One character at a time: put and sputc out, get and sbumpc in.
#include "peers.hpp"

namespace kfbench {

namespace {

struct IPut : IWorkload {
  static constexpr const char* kName = "put";
  template <class Peer> static void run(benchmark::State& state) {
    timeOutput(
        state,
        [](const std::string& path) {
          typename Peer::IOut out(path);
          for (char c : charsView())
            out.put(c);
          out.close();
        },
        charsView());
  }
};

struct ISputc : IWorkload {
  static constexpr const char* kName = "sputc";
  template <class Peer> static void run(benchmark::State& state) {
    timeOutput(
        state,
        [](const std::string& path) {
          typename Peer::IOut out(path);
          auto* buffer = out.buffer();
          for (char c : charsView())
            buffer->sputc(static_cast<unsigned char>(c));
          out.close();
        },
        charsView());
  }
};

// What every reader answers: sumOfBytes of the corpus.
std::uint64_t charsSum() {
  static const std::uint64_t sum = sumOfBytes(charsView());
  return sum;
}

struct IGet : IWorkload {
  static constexpr const char* kName = "get";
  template <class Peer> static void run(benchmark::State& state) {
    const std::string& path = ICorpus::get().charsFile();
    timeInput(
        state,
        [&path] {
          typename Peer::IIn in(path);
          std::uint64_t sum = 0;
          int c;
          while ((c = in.get()) != EOF)
            sum += static_cast<unsigned>(c) + 1u;
          in.close();
          return sum;
        },
        charsSum(), charsView().size());
  }
};

struct ISbumpc : IWorkload {
  static constexpr const char* kName = "sbumpc";
  template <class Peer> static void run(benchmark::State& state) {
    const std::string& path = ICorpus::get().charsFile();
    timeInput(
        state,
        [&path] {
          typename Peer::IIn in(path);
          auto* buffer = in.buffer();
          std::uint64_t sum = 0;
          int c;
          while ((c = buffer->sbumpc()) != EOF)
            sum += static_cast<unsigned>(c) + 1u;
          in.close();
          return sum;
        },
        charsSum(), charsView().size());
  }
};

} // namespace

void addCharBenchmarks() {
  addRuns<IPut, IOurs, IStd, IStdio, IRaw, IClassic>();
  addRuns<ISputc, IOurs, IStd>();
  addRuns<IGet, IOurs, IStd, IStdio, IRaw, IClassic>();
  addRuns<ISbumpc, IOurs, IStd>();
}

} // namespace kfbench
