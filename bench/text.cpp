// Lines in with getline into a std::string, and 64 KiB blocks out with
// write and in with read.
#include "common.hpp"

#include "ifilestr.hpp"
#include "rawio.hpp"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <memory>

namespace {

constexpr std::size_t kBigBlock = 64 * 1024;

// What every line reader answers: the lines and their characters.
std::uint64_t linesAnswer(std::uint64_t lines, std::uint64_t characters) { return (lines << 40) + characters; }

std::uint64_t linesExpected() {
  ICorpus& c = ICorpus::get();
  return linesAnswer(c.lineCount(), c.lineText().size() - c.lineCount());
}

void getlineOurs(benchmark::State& state) {
  const std::string& path = ICorpus::get().linesFile();
  timeInput(
      state,
      [&path] {
        IFileIOStream s(path, ios::in | ios::bin, 0);
        std::string line;
        std::uint64_t lines = 0, characters = 0;
        while (getline(s, line)) {
          ++lines;
          characters += line.size();
        }
        return linesAnswer(lines, characters);
      },
      linesExpected(), ICorpus::get().lineText().size());
}

void getlineStd(benchmark::State& state) {
  const std::string& path = ICorpus::get().linesFile();
  timeInput(
      state,
      [&path] {
        std::fstream f(path, std::ios::in | std::ios::binary);
        requireGood(f.good(), "open", path);
        std::string line;
        std::uint64_t lines = 0, characters = 0;
        while (std::getline(f, line)) {
          ++lines;
          characters += line.size();
        }
        return linesAnswer(lines, characters);
      },
      linesExpected(), ICorpus::get().lineText().size());
}

// IMallocLine: the line buffer that getline(3) grows with realloc.
struct IMallocLine {
  IMallocLine() = default;
  IMallocLine(const IMallocLine&) = delete;
  IMallocLine& operator=(const IMallocLine&) = delete;
  ~IMallocLine() { std::free(fText); }

  char* fText = nullptr;
  std::size_t fCapacity = 0;
};

void getlineStdio(benchmark::State& state) {
  const std::string& path = ICorpus::get().linesFile();
  timeInput(
      state,
      [&path] {
        IStdioFile f(path, "rb");
        IMallocLine buffer;
        std::string line;
        std::uint64_t lines = 0, characters = 0;
        ssize_t length;
        while ((length = ::getline(&buffer.fText, &buffer.fCapacity, f.get())) >= 0) {
          std::size_t n = static_cast<std::size_t>(length);
          line.assign(buffer.fText, n > 0 && buffer.fText[n - 1] == '\n' ? n - 1 : n);
          ++lines;
          characters += line.size();
        }
        f.close();
        return linesAnswer(lines, characters);
      },
      linesExpected(), ICorpus::get().lineText().size());
}

void getlineRaw(benchmark::State& state) {
  const std::string& path = ICorpus::get().linesFile();
  timeInput(
      state,
      [&path] {
        IDescriptor file(path, O_RDONLY);
        IRawReader in(file);
        std::string line;
        std::uint64_t lines = 0, characters = 0;
        bool partial = false;
        for (;;) {
          if (in.fNext == in.fEnd && !in.refill())
            break;
          const char* hit =
              static_cast<const char*>(std::memchr(in.fNext, '\n', static_cast<std::size_t>(in.fEnd - in.fNext)));
          if (!hit) {
            if (partial)
              line.append(in.fNext, in.fEnd);
            else
              line.assign(in.fNext, in.fEnd);
            in.fNext = in.fEnd;
            partial = true;
            continue;
          }
          if (partial)
            line.append(in.fNext, hit);
          else
            line.assign(in.fNext, hit);
          in.fNext = hit + 1;
          partial = false;
          ++lines;
          characters += line.size();
        }
        if (partial) {
          ++lines;
          characters += line.size();
        }
        file.close();
        return linesAnswer(lines, characters);
      },
      linesExpected(), ICorpus::get().lineText().size());
}

std::string_view charsView() {
  const std::vector<char>& data = ICorpus::get().chars();
  return {data.data(), data.size()};
}

void writeOurs(benchmark::State& state) {
  timeOutput(
      state,
      [](const std::string& path) {
        IFileIOStream s(path, ios::out | ios::trunc | ios::bin, 0);
        std::string_view data = charsView();
        for (std::size_t done = 0; done < data.size(); done += kBigBlock)
          s.write(data.data() + done, static_cast<int>(kBigBlock));
        s.close();
      },
      charsView());
}

void writeStd(benchmark::State& state) {
  timeOutput(
      state,
      [](const std::string& path) {
        std::fstream f(path, std::ios::out | std::ios::trunc | std::ios::binary);
        std::string_view data = charsView();
        for (std::size_t done = 0; done < data.size(); done += kBigBlock)
          f.write(data.data() + done, kBigBlock);
        f.close();
        requireGood(f.good(), "write", path);
      },
      charsView());
}

void writeStdio(benchmark::State& state) {
  timeOutput(
      state,
      [](const std::string& path) {
        IStdioFile f(path, "wb");
        std::string_view data = charsView();
        for (std::size_t done = 0; done < data.size(); done += kBigBlock)
          if (std::fwrite(data.data() + done, 1, kBigBlock, f.get()) != kBigBlock)
            throwSystemError("fwrite", path, errno);
        f.close();
      },
      charsView());
}

// Each block copied through the one 4 KiB array: the floor for a buffer
// that may not hand large blocks straight to the system.
void writeRaw(benchmark::State& state) {
  timeOutput(
      state,
      [](const std::string& path) {
        IDescriptor file(path, O_WRONLY | O_CREAT | O_TRUNC);
        IRawWriter out(file);
        std::string_view data = charsView();
        for (std::size_t done = 0; done < data.size(); done += kBigBlock)
          out.append(data.data() + done, kBigBlock);
        out.flush();
        file.close();
      },
      charsView());
}

void writeDirect(benchmark::State& state) {
  timeOutput(
      state,
      [](const std::string& path) {
        IDescriptor file(path, O_WRONLY | O_CREAT | O_TRUNC);
        std::string_view data = charsView();
        for (std::size_t done = 0; done < data.size(); done += kBigBlock)
          file.writeAll(data.data() + done, kBigBlock);
        file.close();
      },
      charsView());
}

// What every block reader answers: the bytes read and the first and last of each block.
std::uint64_t blocksExpected() {
  static const std::uint64_t answer = [] {
    std::string_view data = charsView();
    std::uint64_t sum = 0;
    for (std::size_t done = 0; done < data.size(); done += kBigBlock)
      sum += static_cast<unsigned char>(data[done]) + static_cast<unsigned char>(data[done + kBigBlock - 1]);
    return (sum << 32) + data.size();
  }();
  return answer;
}

std::uint64_t blockAnswer(const char* block, std::size_t got) {
  return ((static_cast<std::uint64_t>(static_cast<unsigned char>(block[0])) +
           static_cast<unsigned char>(block[kBigBlock - 1]))
          << 32) +
         got;
}

void readOurs(benchmark::State& state) {
  const std::string& path = ICorpus::get().charsFile();
  timeInput(
      state,
      [&path] {
        IFileIOStream s(path, ios::in | ios::bin, 0);
        std::unique_ptr<char[]> block(new char[kBigBlock]);
        std::uint64_t answer = 0;
        while (s.read(block.get(), static_cast<int>(kBigBlock)))
          answer += blockAnswer(block.get(), static_cast<std::size_t>(s.gcount()));
        return answer;
      },
      blocksExpected(), charsView().size());
}

void readStd(benchmark::State& state) {
  const std::string& path = ICorpus::get().charsFile();
  timeInput(
      state,
      [&path] {
        std::fstream f(path, std::ios::in | std::ios::binary);
        requireGood(f.good(), "open", path);
        std::unique_ptr<char[]> block(new char[kBigBlock]);
        std::uint64_t answer = 0;
        while (f.read(block.get(), kBigBlock))
          answer += blockAnswer(block.get(), static_cast<std::size_t>(f.gcount()));
        return answer;
      },
      blocksExpected(), charsView().size());
}

void readStdio(benchmark::State& state) {
  const std::string& path = ICorpus::get().charsFile();
  timeInput(
      state,
      [&path] {
        IStdioFile f(path, "rb");
        std::unique_ptr<char[]> block(new char[kBigBlock]);
        std::uint64_t answer = 0;
        std::size_t got;
        while ((got = std::fread(block.get(), 1, kBigBlock, f.get())) == kBigBlock)
          answer += blockAnswer(block.get(), got);
        f.close();
        return answer;
      },
      blocksExpected(), charsView().size());
}

void readRaw(benchmark::State& state) {
  const std::string& path = ICorpus::get().charsFile();
  timeInput(
      state,
      [&path] {
        IDescriptor file(path, O_RDONLY);
        IRawReader in(file);
        std::unique_ptr<char[]> block(new char[kBigBlock]);
        std::uint64_t answer = 0;
        for (;;) {
          std::size_t got = 0;
          while (got < kBigBlock && (in.fNext < in.fEnd || in.refill())) {
            std::size_t piece = std::min(kBigBlock - got, static_cast<std::size_t>(in.fEnd - in.fNext));
            std::memcpy(block.get() + got, in.fNext, piece);
            in.fNext += piece;
            got += piece;
          }
          if (got < kBigBlock)
            break;
          answer += blockAnswer(block.get(), got);
        }
        file.close();
        return answer;
      },
      blocksExpected(), charsView().size());
}

void readDirect(benchmark::State& state) {
  const std::string& path = ICorpus::get().charsFile();
  timeInput(
      state,
      [&path] {
        IDescriptor file(path, O_RDONLY);
        std::unique_ptr<char[]> block(new char[kBigBlock]);
        std::uint64_t answer = 0;
        for (;;) {
          std::size_t got = 0;
          while (got < kBigBlock) {
            std::size_t piece = file.readSome(block.get() + got, kBigBlock - got);
            if (piece == 0)
              break;
            got += piece;
          }
          if (got < kBigBlock)
            break;
          answer += blockAnswer(block.get(), got);
        }
        file.close();
        return answer;
      },
      blocksExpected(), charsView().size());
}

} // namespace

void addTextBenchmarks() {
  addRun("getline", kOurs, getlineOurs);
  addRun("getline", kStd, getlineStd);
  addRun("getline", kStdio, getlineStdio);
  addRun("getline", kRaw, getlineRaw);
  addRun("write64k", kOurs, writeOurs);
  addRun("write64k", kStd, writeStd);
  addRun("write64k", kStdio, writeStdio);
  addRun("write64k", kRaw, writeRaw);
  addRun("write64k", "direct", writeDirect);
  addRun("read64k", kOurs, readOurs);
  addRun("read64k", kStd, readStd);
  addRun("read64k", kStdio, readStdio);
  addRun("read64k", kRaw, readRaw);
  addRun("read64k", "direct", readDirect);
}
