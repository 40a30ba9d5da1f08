// Positioning: random seekg(pos) each followed by a 64-byte read, and a
// walk that reads 100 bytes and overwrites the next 10 in place.
#include "common.hpp"

#include "ifilestr.hpp"
#include "rawio.hpp"

#include <cerrno>
#include <fcntl.h>
#include <fstream>

namespace {

constexpr std::size_t kSmallRead = 64;
constexpr std::size_t kWalkRead = 100;
constexpr std::size_t kWalkWrite = 10;
constexpr std::size_t kWalkStep = kWalkRead + kWalkWrite;
constexpr char kPatch[kWalkWrite + 1] = "0123456789";

std::uint64_t smallReadAnswer(const char* bytes) {
  return static_cast<unsigned char>(bytes[0]) + static_cast<unsigned char>(bytes[kSmallRead - 1]) + 1u;
}

std::uint64_t seeksExpected() {
  static const std::uint64_t answer = [] {
    ICorpus& c = ICorpus::get();
    std::uint64_t sum = 0;
    for (off_t offset : c.seekOffsets())
      sum += smallReadAnswer(c.chars().data() + offset);
    return sum;
  }();
  return answer;
}

std::size_t seeksBytes() { return ICorpus::get().seekCount() * kSmallRead; }

void seekOurs(benchmark::State& state) {
  ICorpus& c = ICorpus::get();
  const std::string& path = c.charsFile();
  timeInput(
      state,
      [&c, &path] {
        IFileIOStream s(path, ios::in | ios::bin, 0);
        char bytes[kSmallRead];
        std::uint64_t sum = 0;
        for (off_t offset : c.seekOffsets()) {
          s.seekg(offset);
          s.read(bytes, static_cast<int>(kSmallRead));
          requireGood(s.good(), "read", path);
          sum += smallReadAnswer(bytes);
        }
        return sum;
      },
      seeksExpected(), seeksBytes());
}

void seekStd(benchmark::State& state) {
  ICorpus& c = ICorpus::get();
  const std::string& path = c.charsFile();
  timeInput(
      state,
      [&c, &path] {
        std::fstream f(path, std::ios::in | std::ios::binary);
        char bytes[kSmallRead];
        std::uint64_t sum = 0;
        for (off_t offset : c.seekOffsets()) {
          f.seekg(offset);
          f.read(bytes, kSmallRead);
          requireGood(f.good(), "read", path);
          sum += smallReadAnswer(bytes);
        }
        return sum;
      },
      seeksExpected(), seeksBytes());
}

void seekStdio(benchmark::State& state) {
  ICorpus& c = ICorpus::get();
  const std::string& path = c.charsFile();
  timeInput(
      state,
      [&c, &path] {
        IStdioFile f(path, "rb");
        char bytes[kSmallRead];
        std::uint64_t sum = 0;
        for (off_t offset : c.seekOffsets()) {
          if (std::fseek(f.get(), offset, SEEK_SET) != 0)
            throwSystemError("fseek", path, errno);
          if (std::fread(bytes, 1, kSmallRead, f.get()) != kSmallRead)
            throwSystemError("fread", path, errno);
          sum += smallReadAnswer(bytes);
        }
        f.close();
        return sum;
      },
      seeksExpected(), seeksBytes());
}

// A 4 KiB refill at the new position, as a buffer under this library's rules makes.
void seekRaw(benchmark::State& state) {
  ICorpus& c = ICorpus::get();
  const std::string& path = c.charsFile();
  timeInput(
      state,
      [&c, &path] {
        IDescriptor file(path, O_RDONLY);
        char buffer[kRawBlock];
        char bytes[kSmallRead];
        std::uint64_t sum = 0;
        for (off_t offset : c.seekOffsets()) {
          file.seek(offset, SEEK_SET);
          if (file.readSome(buffer, kRawBlock) < kSmallRead)
            throwSystemError("read", path, EIO);
          std::memcpy(bytes, buffer, kSmallRead);
          sum += smallReadAnswer(bytes);
        }
        file.close();
        return sum;
      },
      seeksExpected(), seeksBytes());
}

// The same refill with the seek folded into pread(2): one call instead of two.
void seekPread(benchmark::State& state) {
  ICorpus& c = ICorpus::get();
  const std::string& path = c.charsFile();
  timeInput(
      state,
      [&c, &path] {
        IDescriptor file(path, O_RDONLY);
        char buffer[kRawBlock];
        char bytes[kSmallRead];
        std::uint64_t sum = 0;
        for (off_t offset : c.seekOffsets()) {
          if (file.preadSome(buffer, kRawBlock, offset) < kSmallRead)
            throwSystemError("pread", path, EIO);
          std::memcpy(bytes, buffer, kSmallRead);
          sum += smallReadAnswer(bytes);
        }
        file.close();
        return sum;
      },
      seeksExpected(), seeksBytes());
}

// The walk: as many whole steps as the file holds, so that no write extends it.
std::size_t walkSteps() { return ICorpus::get().bytes() / kWalkStep; }

// What every walker answers: the first byte of each read, which no write touches.
std::uint64_t walkExpected() {
  static const std::uint64_t answer = [] {
    const std::vector<char>& data = ICorpus::get().chars();
    std::uint64_t sum = 0;
    for (std::size_t step = 0; step < walkSteps(); ++step)
      sum += static_cast<unsigned char>(data[step * kWalkStep]) + 1u;
    return sum;
  }();
  return answer;
}

// Times `walk()` on the walk file, then checks the answer and the patches.
void timeWalk(benchmark::State& state, const std::function<std::uint64_t(const std::string&)>& walk) {
  ICorpus& c = ICorpus::get();
  const std::string& path = c.walkFile();
  timeInput(
      state, [&walk, &path] { return walk(path); }, walkExpected(), walkSteps() * kWalkStep);
  IDescriptor file(path, O_RDONLY);
  char first[kWalkWrite], last[kWalkWrite];
  bool right = static_cast<std::size_t>(file.size()) == c.bytes() &&
               file.preadSome(first, kWalkWrite, kWalkRead) == kWalkWrite &&
               file.preadSome(last, kWalkWrite, static_cast<off_t>((walkSteps() - 1) * kWalkStep + kWalkRead)) ==
                   kWalkWrite &&
               std::memcmp(first, kPatch, kWalkWrite) == 0 && std::memcmp(last, kPatch, kWalkWrite) == 0;
  file.close();
  if (!right)
    state.SkipWithError("the walk left the file with the wrong size or without its patches");
}

// No seek between reading and writing: the buffer gives unread input back itself.
void walkOurs(benchmark::State& state) {
  timeWalk(state, [](const std::string& path) {
    IFileIOStream s(path, ios::in | ios::out | ios::bin, 0);
    char bytes[kWalkRead];
    std::uint64_t sum = 0;
    for (std::size_t step = walkSteps(); step > 0; --step) {
      s.read(bytes, static_cast<int>(kWalkRead));
      s.write(kPatch, static_cast<int>(kWalkWrite));
      sum += static_cast<unsigned char>(bytes[0]) + 1u;
    }
    s.close();
    requireGood(s.good(), "walk", path);
    return sum;
  });
}

// The standard asks for a seek between input and output, either way round.
void walkStd(benchmark::State& state) {
  timeWalk(state, [](const std::string& path) {
    std::fstream f(path, std::ios::in | std::ios::out | std::ios::binary);
    char bytes[kWalkRead];
    std::uint64_t sum = 0;
    for (std::size_t step = walkSteps(); step > 0; --step) {
      f.read(bytes, kWalkRead);
      f.seekp(0, std::ios::cur);
      f.write(kPatch, kWalkWrite);
      f.seekg(0, std::ios::cur);
      sum += static_cast<unsigned char>(bytes[0]) + 1u;
    }
    f.close();
    requireGood(f.good(), "walk", path);
    return sum;
  });
}

// C asks for the same: fseek between fread and fwrite, either way round.
void walkStdio(benchmark::State& state) {
  timeWalk(state, [](const std::string& path) {
    IStdioFile f(path, "r+b");
    char bytes[kWalkRead];
    std::uint64_t sum = 0;
    for (std::size_t step = walkSteps(); step > 0; --step) {
      if (std::fread(bytes, 1, kWalkRead, f.get()) != kWalkRead || std::fseek(f.get(), 0, SEEK_CUR) != 0 ||
          std::fwrite(kPatch, 1, kWalkWrite, f.get()) != kWalkWrite || std::fseek(f.get(), 0, SEEK_CUR) != 0)
        throwSystemError("walk", path, errno);
      sum += static_cast<unsigned char>(bytes[0]) + 1u;
    }
    f.close();
    return sum;
  });
}

// The calls a buffer under this library's rules must make: a 4 KiB read,
// a relative seek back over the unread bytes before writing, the 10 bytes
// written when reading resumes.
void walkRaw(benchmark::State& state) {
  timeWalk(state, [](const std::string& path) {
    IDescriptor file(path, O_RDWR);
    char buffer[kRawBlock];
    char* next = buffer;
    char* end = buffer;
    std::size_t pending = 0;
    char bytes[kWalkRead];
    std::uint64_t sum = 0;
    for (std::size_t step = walkSteps(); step > 0; --step) {
      std::size_t got = 0;
      while (got < kWalkRead) {
        if (next == end) {
          if (pending > 0) {
            file.writeAll(buffer, pending);
            pending = 0;
          }
          std::size_t read = file.readSome(buffer, kRawBlock);
          if (read == 0)
            throwSystemError("read", path, EIO);
          next = buffer;
          end = buffer + read;
        }
        std::size_t piece = std::min(kWalkRead - got, static_cast<std::size_t>(end - next));
        std::memcpy(bytes + got, next, piece);
        next += piece;
        got += piece;
      }
      if (end > next)
        file.seek(-(end - next), SEEK_CUR);
      next = end = buffer;
      std::memcpy(buffer, kPatch, kWalkWrite);
      pending = kWalkWrite;
      sum += static_cast<unsigned char>(bytes[0]) + 1u;
    }
    file.writeAll(buffer, pending);
    file.close();
    return sum;
  });
}

} // namespace

void addSeekBenchmarks() {
  addRun("seek_read", kOurs, seekOurs);
  addRun("seek_read", kStd, seekStd);
  addRun("seek_read", kStdio, seekStdio);
  addRun("seek_read", kRaw, seekRaw);
  addRun("seek_read", "pread", seekPread);
  addRun("walk", kOurs, walkOurs);
  addRun("walk", kStd, walkStd);
  addRun("walk", kStdio, walkStdio);
  addRun("walk", kRaw, walkRaw);
}
