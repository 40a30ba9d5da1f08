// One character at a time: put and sputc out, get and sbumpc in.
#include "common.hpp"

#include "ifilestr.hpp"
#include "rawio.hpp"

#include <fcntl.h>
#include <fstream>

namespace {

std::string_view charsView() {
  const std::vector<char>& data = ICorpus::get().chars();
  return {data.data(), data.size()};
}

// What every reader answers: the sum of the bytes, each counted plus one
// so that a lost zero byte shows.
std::uint64_t charsSum() {
  static const std::uint64_t sum = [] {
    std::uint64_t total = 0;
    for (char c : charsView())
      total += static_cast<unsigned char>(c) + 1u;
    return total;
  }();
  return sum;
}

void putOurs(benchmark::State& state) {
  timeOutput(
      state,
      [](const std::string& path) {
        IFileIOStream s(path, ios::out | ios::trunc | ios::bin, 0);
        for (char c : charsView())
          s.put(c);
        s.close();
      },
      charsView());
}

void putStd(benchmark::State& state) {
  timeOutput(
      state,
      [](const std::string& path) {
        std::fstream f(path, std::ios::out | std::ios::trunc | std::ios::binary);
        for (char c : charsView())
          f.put(c);
        f.close();
        requireGood(f.good(), "write", path);
      },
      charsView());
}

void putStdio(benchmark::State& state) {
  timeOutput(
      state,
      [](const std::string& path) {
        IStdioFile f(path, "wb");
        FILE* file = f.get();
        for (char c : charsView())
          putc_unlocked(c, file);
        f.close();
      },
      charsView());
}

void putRaw(benchmark::State& state) {
  timeOutput(
      state,
      [](const std::string& path) {
        IDescriptor file(path, O_WRONLY | O_CREAT | O_TRUNC);
        char buffer[kRawBlock];
        std::size_t used = 0;
        for (char c : charsView()) {
          if (used == kRawBlock) {
            file.writeAll(buffer, used);
            used = 0;
          }
          buffer[used++] = c;
        }
        file.writeAll(buffer, used);
        file.close();
      },
      charsView());
}

void sputcOurs(benchmark::State& state) {
  timeOutput(
      state,
      [](const std::string& path) {
        IFileIOStream s(path, ios::out | ios::trunc | ios::bin, 0);
        streambuf* b = s.rdbuf();
        for (char c : charsView())
          b->sputc(static_cast<unsigned char>(c));
        s.close();
      },
      charsView());
}

void sputcStd(benchmark::State& state) {
  timeOutput(
      state,
      [](const std::string& path) {
        std::fstream f(path, std::ios::out | std::ios::trunc | std::ios::binary);
        std::filebuf* b = f.rdbuf();
        for (char c : charsView())
          b->sputc(c);
        f.close();
        requireGood(f.good(), "write", path);
      },
      charsView());
}

void getOurs(benchmark::State& state) {
  const std::string& path = ICorpus::get().charsFile();
  timeInput(
      state,
      [&path] {
        IFileIOStream s(path, ios::in | ios::bin, 0);
        std::uint64_t sum = 0;
        int c;
        while ((c = s.get()) != EOF)
          sum += static_cast<unsigned>(c) + 1u;
        return sum;
      },
      charsSum(), charsView().size());
}

void getStd(benchmark::State& state) {
  const std::string& path = ICorpus::get().charsFile();
  timeInput(
      state,
      [&path] {
        std::fstream f(path, std::ios::in | std::ios::binary);
        requireGood(f.good(), "open", path);
        std::uint64_t sum = 0;
        int c;
        while ((c = f.get()) != std::char_traits<char>::eof())
          sum += static_cast<unsigned>(c) + 1u;
        return sum;
      },
      charsSum(), charsView().size());
}

void getStdio(benchmark::State& state) {
  const std::string& path = ICorpus::get().charsFile();
  timeInput(
      state,
      [&path] {
        IStdioFile f(path, "rb");
        FILE* file = f.get();
        std::uint64_t sum = 0;
        int c;
        while ((c = getc_unlocked(file)) != EOF)
          sum += static_cast<unsigned>(c) + 1u;
        f.close();
        return sum;
      },
      charsSum(), charsView().size());
}

void getRaw(benchmark::State& state) {
  const std::string& path = ICorpus::get().charsFile();
  timeInput(
      state,
      [&path] {
        IDescriptor file(path, O_RDONLY);
        char buffer[kRawBlock];
        const char* next = buffer;
        const char* end = buffer;
        std::uint64_t sum = 0;
        for (;;) {
          if (next == end) {
            std::size_t got = file.readSome(buffer, kRawBlock);
            if (got == 0)
              break;
            next = buffer;
            end = buffer + got;
          }
          sum += static_cast<unsigned char>(*next++) + 1u;
        }
        file.close();
        return sum;
      },
      charsSum(), charsView().size());
}

void sbumpcOurs(benchmark::State& state) {
  const std::string& path = ICorpus::get().charsFile();
  timeInput(
      state,
      [&path] {
        IFileIOStream s(path, ios::in | ios::bin, 0);
        streambuf* b = s.rdbuf();
        std::uint64_t sum = 0;
        int c;
        while ((c = b->sbumpc()) != EOF)
          sum += static_cast<unsigned>(c) + 1u;
        return sum;
      },
      charsSum(), charsView().size());
}

void sbumpcStd(benchmark::State& state) {
  const std::string& path = ICorpus::get().charsFile();
  timeInput(
      state,
      [&path] {
        std::fstream f(path, std::ios::in | std::ios::binary);
        requireGood(f.good(), "open", path);
        std::filebuf* b = f.rdbuf();
        std::uint64_t sum = 0;
        int c;
        while ((c = b->sbumpc()) != std::char_traits<char>::eof())
          sum += static_cast<unsigned>(c) + 1u;
        return sum;
      },
      charsSum(), charsView().size());
}

} // namespace

void addCharBenchmarks() {
  addRun("put", kOurs, putOurs);
  addRun("put", kStd, putStd);
  addRun("put", kStdio, putStdio);
  addRun("put", kRaw, putRaw);
  addRun("sputc", kOurs, sputcOurs);
  addRun("sputc", kStd, sputcStd);
  addRun("get", kOurs, getOurs);
  addRun("get", kStd, getStd);
  addRun("get", kStdio, getStdio);
  addRun("get", kRaw, getRaw);
  addRun("sbumpc", kOurs, sbumpcOurs);
  addRun("sbumpc", kStd, sbumpcStd);
}
