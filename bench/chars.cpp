// One character at a time: put and sputc out, get and sbumpc in.
#include "peers.hpp"

namespace kfbench {

namespace {

struct IPut : IWorkload {
  static constexpr const char* kName = "put";
  template <class Peer> static void run(benchmark::State& state) {
    timeWriting<Peer>(
        state,
        [](auto& out) {
          for (char c : charsView())
            out.put(c);
        },
        charsView());
  }
};

struct ISputc : IWorkload {
  static constexpr const char* kName = "sputc";
  template <class Peer> static void run(benchmark::State& state) {
    timeWriting<Peer>(
        state,
        [](auto& out) {
          auto* buffer = out.buffer();
          for (char c : charsView())
            buffer->sputc(static_cast<unsigned char>(c));
        },
        charsView());
  }
};

// What every reader answers: sumOfBytes of the corpus.
std::uint64_t charsSum() {
  static const std::uint64_t sum = sumOfBytes(charsView());
  return sum;
}

// Adds each character that `next()` gives, plus one, until it answers EOF.
template <class Next> std::uint64_t sumCharacters(Next next) {
  std::uint64_t sum = 0;
  int c;
  while ((c = next()) != EOF)
    sum += static_cast<unsigned>(c) + 1u;
  return sum;
}

struct IGet : IWorkload {
  static constexpr const char* kName = "get";
  template <class Peer> static void run(benchmark::State& state) {
    timeReading<Peer>(
        state, ICorpus::get().charsFile(), [](auto& in) { return sumCharacters([&in] { return in.get(); }); },
        charsSum(), charsView().size());
  }
};

struct ISbumpc : IWorkload {
  static constexpr const char* kName = "sbumpc";
  template <class Peer> static void run(benchmark::State& state) {
    timeReading<Peer>(
        state, ICorpus::get().charsFile(),
        [](auto& in) {
          auto* buffer = in.buffer();
          return sumCharacters([buffer] { return buffer->sbumpc(); });
        },
        charsSum(), charsView().size());
  }
};

} // namespace

void addCharBenchmarks() {
  addRuns<IPut, IOurs, IStd, IStdio, IRaw, IClassic>();
  addRuns<ISputc, IOurs, IStd>();
  addRuns<IPut, IOursApp, IStdApp>();
  addRuns<ISputc, IOursApp, IStdApp>();
  addRuns<IGet, IOurs, IStd, IStdio, IRaw, IClassic>();
  addRuns<ISbumpc, IOurs, IStd>();
}

} // namespace kfbench
