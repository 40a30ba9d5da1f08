// The peers that the workloads run on, each a type with the same operations,
// so that a workload is written once and instantiated per peer:
//
//   IOut(path)    a new file:   put(c), line(integer), line(double), write(bytes, n), close()
//   IIn(path)     a file read:  get() (EOF at the end), next(integer), line(text),
//                               read(block, n) (false at the end), readAt(offset, bytes, n), close()
//   IWalk(path)   a file read and overwritten in place: step(bytes, n, patch, m), close()
//   IOpen(path)   what opening and closing a file for reading costs: close()
//
// A peer offers the operations of the workloads it takes part in. The
// stream peers (ours, libstdc++, classic) share one implementation and add
// stream() and buffer() for the workloads of their own interface.
#pragma once

#include "common.hpp"

#include "fstream.hpp"
#include "ifilestr.hpp"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <stdio_ext.h>
#include <string>
#include <utility>

namespace kfbench {

// A sign, 20 digits and the newline.
inline constexpr std::size_t kIntegerRoom = 22;
// Ample for %g of any double, and the newline.
inline constexpr std::size_t kDoubleRoom = 32;

// ---- the stream peers: one implementation over the stream that Kind opens

template <class Kind> class IStreamOut {
public:
  explicit IStreamOut(const std::string& path) : fStream(Kind::openOut(path)), fPath(path) {}

  void put(char c) { fStream.put(c); }
  void line(long long v) { fStream << v << '\n'; }
  void line(double v) { fStream << v << '\n'; }
  void write(const char* bytes, std::size_t count) { fStream.write(bytes, static_cast<int>(count)); }
  auto* buffer() { return fStream.rdbuf(); }
  void close() {
    fStream.close();
    requireGood(fStream.good(), "write", fPath);
  }

private:
  decltype(Kind::openOut(std::declval<const std::string&>())) fStream;
  const std::string& fPath;
};

template <class Kind> class IStreamIn {
public:
  explicit IStreamIn(const std::string& path) : fStream(Kind::openIn(path)), fPath(path) {
    requireGood(fStream.good(), "open", path);
  }

  int get() { return fStream.get(); }
  bool next(long long& v) { return static_cast<bool>(fStream >> v); }
  bool line(std::string& text) { return static_cast<bool>(getline(fStream, text)); }
  bool read(char* block, std::size_t count) { return static_cast<bool>(fStream.read(block, static_cast<int>(count))); }
  void readAt(off_t offset, char* bytes, std::size_t count) {
    fStream.seekg(offset);
    fStream.read(bytes, static_cast<int>(count));
    requireGood(fStream.good(), "read", fPath);
  }
  auto& stream() { return fStream; }
  auto* buffer() { return fStream.rdbuf(); }
  void close() { fStream.close(); }

private:
  decltype(Kind::openIn(std::declval<const std::string&>())) fStream;
  const std::string& fPath;
};

template <class Kind> class IStreamWalk {
public:
  explicit IStreamWalk(const std::string& path) : fStream(Kind::openBoth(path)), fPath(path) {}

  void step(char* bytes, std::size_t count, const char* patch, std::size_t patchCount) {
    fStream.read(bytes, static_cast<int>(count));
    Kind::turnToWrite(fStream);
    fStream.write(patch, static_cast<int>(patchCount));
    Kind::turnToRead(fStream);
  }
  void close() {
    fStream.close();
    requireGood(fStream.good(), "walk", fPath);
  }

private:
  decltype(Kind::openBoth(std::declval<const std::string&>())) fStream;
  const std::string& fPath;
};

template <class Kind> struct IStreamPeer {
  using IOut = IStreamOut<Kind>;
  using IIn = IStreamIn<Kind>;
  using IOpen = IStreamIn<Kind>;
  using IWalk = IStreamWalk<Kind>;
};

// IFileIOStream, linked from the static archive so that rdbuf()->sputc and
// sbumpc inline as in a program. No seek between reading and writing: the
// buffer gives unread input back itself.
struct IOurs : IStreamPeer<IOurs> {
  static constexpr const char* kName = "ours";
  static IFileIOStream openOut(const std::string& path) {
    return IFileIOStream(path, ios::out | ios::trunc | ios::bin, 0);
  }
  static IFileIOStream openIn(const std::string& path) { return IFileIOStream(path, ios::in | ios::bin, 0); }
  // For many streams on one file: each lets the others read and write it.
  static IFileIOStream openShared(const std::string& path) {
    return IFileIOStream(path, ios::in | ios::bin, ios::in | ios::out);
  }
  static IFileIOStream openBoth(const std::string& path) {
    return IFileIOStream(path, ios::in | ios::out | ios::bin, 0);
  }
  static void turnToWrite(IFileIOStream&) {}
  static void turnToRead(IFileIOStream&) {}
};

// std::fstream. The standard asks for a seek between input and output,
// either way round.
struct IStd : IStreamPeer<IStd> {
  static constexpr const char* kName = "libstdc++";
  static std::fstream openOut(const std::string& path) {
    return std::fstream(path, std::ios::out | std::ios::trunc | std::ios::binary);
  }
  static std::fstream openIn(const std::string& path) { return std::fstream(path, std::ios::in | std::ios::binary); }
  static std::fstream openShared(const std::string& path) { return openIn(path); }
  static std::fstream openBoth(const std::string& path) {
    return std::fstream(path, std::ios::in | std::ios::out | std::ios::binary);
  }
  static void turnToWrite(std::fstream& f) { f.seekp(0, std::ios::cur); }
  static void turnToRead(std::fstream& f) { f.seekg(0, std::ios::cur); }
};

// The same two writing with app, where every flush lands at the file's end as
// it is then: ours learns where each write ended (one lseek more per flush).
// The output file is emptied first, as the other peers' trunc does.
struct IOursApp : IStreamPeer<IOursApp> {
  static constexpr const char* kName = "ours-app";
  static IFileIOStream openOut(const std::string& path) {
    return IFileIOStream(path, ios::out | ios::app | ios::trunc | ios::bin, 0);
  }
};
struct IStdApp : IStreamPeer<IStdApp> {
  static constexpr const char* kName = "libstdc++-app";
  static std::fstream openOut(const std::string& path) {
    std::fstream(path, std::ios::out | std::ios::trunc | std::ios::binary).close();
    return std::fstream(path, std::ios::out | std::ios::app | std::ios::binary);
  }
};

// The classic ifstream and ofstream of classic programs, on the same buffer as ours.
struct IClassic : IStreamPeer<IClassic> {
  static constexpr const char* kName = "classic";
  static ofstream openOut(const std::string& path) { return ofstream(path.c_str(), ios::out | ios::bin); }
  static ifstream openIn(const std::string& path) { return ifstream(path.c_str(), ios::in | ios::bin); }
};

// IInlineOwned: owns a T on the heap, releasing it inline on every path,
// the exceptional ones included. The raw loops and the stdio peer keep their
// places in objects that no call is given the address of, so that the
// compiler holds them in registers as it does the local variables of a
// hand-written loop; a destructor called out of line on the unwinding path
// would take that address.
template <class T> class IInlineOwned {
public:
  template <class... Args> explicit IInlineOwned(Args&&... args) : fObject(new T(std::forward<Args>(args)...)) {}
  [[gnu::always_inline]] ~IInlineOwned() { delete fObject; }
  IInlineOwned(const IInlineOwned&) = delete;
  IInlineOwned& operator=(const IInlineOwned&) = delete;

  T* operator->() const { return fObject; }

private:
  T* fObject;
};

// ---- C stdio: the unlocked calls everywhere (putc_unlocked, getc_unlocked,
// fprintf, fscanf, fwrite, fread, fseek, getline(3)), every file set to
// FSETLOCKING_BYCALLER.

// IStdioFile: a C stdio file, closed with its failure reported; inline
// throughout, as IInlineOwned is, for the loops of the stdio peer.
class IStdioFile {
public:
  IStdioFile(const std::string& path, const char* mode) : fFile(std::fopen(path.c_str(), mode)), fPath(path) {
    require(fFile != nullptr, "fopen");
    __fsetlocking(fFile, FSETLOCKING_BYCALLER);
  }
  [[gnu::always_inline]] ~IStdioFile() {
    if (fFile)
      std::fclose(fFile);
  }
  IStdioFile(const IStdioFile&) = delete;
  IStdioFile& operator=(const IStdioFile&) = delete;

  FILE* get() const { return fFile; }
  // Throws, naming `operation` and errno, unless `done`.
  void require(bool done, const char* operation) const {
    if (!done)
      throwSystemError(operation, fPath, errno);
  }
  void close() {
    FILE* file = fFile;
    fFile = nullptr;
    require(std::fclose(file) == 0, "fclose");
  }

private:
  FILE* fFile;
  const std::string& fPath;
};

struct IStdio {
  static constexpr const char* kName = "stdio";

  class IOut {
  public:
    explicit IOut(const std::string& path) : fFile(path, "wb") {}
    void put(char c) { putc_unlocked(c, fFile.get()); }
    void line(long long v) { fFile.require(std::fprintf(fFile.get(), "%lld\n", v) >= 0, "fprintf"); }
    void line(double v) { fFile.require(std::fprintf(fFile.get(), "%g\n", v) >= 0, "fprintf"); }
    void write(const char* bytes, std::size_t count) {
      fFile.require(std::fwrite(bytes, 1, count, fFile.get()) == count, "fwrite");
    }
    void close() { fFile.close(); }

  private:
    IStdioFile fFile;
  };

  class IIn {
  public:
    explicit IIn(const std::string& path) : fFile(path, "rb") {}
    ~IIn() { std::free(fLine); }
    IIn(const IIn&) = delete;
    IIn& operator=(const IIn&) = delete;

    int get() { return getc_unlocked(fFile.get()); }
    bool next(long long& v) { return std::fscanf(fFile.get(), "%lld", &v) == 1; }
    // getline(3) into its own growing buffer, then into `text`.
    bool line(std::string& text);
    bool read(char* block, std::size_t count) { return std::fread(block, 1, count, fFile.get()) == count; }
    void readAt(off_t offset, char* bytes, std::size_t count) {
      fFile.require(std::fseek(fFile.get(), offset, SEEK_SET) == 0, "fseek");
      fFile.require(std::fread(bytes, 1, count, fFile.get()) == count, "fread");
    }
    void close() { fFile.close(); }

  private:
    IStdioFile fFile;
    char* fLine = nullptr;
    std::size_t fLineCapacity = 0;
  };
  using IOpen = IIn;

  // C asks for a seek between fread and fwrite, either way round.
  class IWalk {
  public:
    explicit IWalk(const std::string& path) : fFile(path, "r+b") {}
    void step(char* bytes, std::size_t count, const char* patch, std::size_t patchCount) {
      FILE* file = fFile.get();
      fFile.require(std::fread(bytes, 1, count, file) == count && std::fseek(file, 0, SEEK_CUR) == 0 &&
                        std::fwrite(patch, 1, patchCount, file) == patchCount && std::fseek(file, 0, SEEK_CUR) == 0,
                    "walk");
    }
    void close() { fFile.close(); }

  private:
    IStdioFile fFile;
  };
};

// ---- raw: one 4096-byte array between the program and read(2)/write(2),
// the floor for any buffer under this library's rules (one call of at most
// 4096 bytes per refill or flush).

inline constexpr std::size_t kRawBlock = 4096;

// IPlainFile: a descriptor from the host layer and the path its failures name.
class IPlainFile {
public:
  IPlainFile(const std::string& path, int flags) : fFile(IPosix::open(path, flags)), fPath(path) {}
  void close() { fFile.close(fPath); }

protected:
  IDescriptor fFile;
  const std::string& fPath;
};

// The flags of a new file, empty.
inline constexpr int kNewFile = O_WRONLY | O_CREAT | O_TRUNC;

// IRawFile: the descriptor and the one array, apart from the places in it.
class IRawFile : public IPlainFile {
public:
  using IPlainFile::IPlainFile;
  char* buffer() { return fBuffer; }
  // One read(2) of at most the array; 0 at the end of the file.
  std::size_t fill() { return IPosix::readSome(fFile.get(), fBuffer, kRawBlock, fPath); }
  // Writes the first `count` bytes of the array.
  void drain(std::size_t count) { IPosix::writeAll(fFile.get(), fBuffer, count, fPath); }
  void seek(off_t offset, int whence) { IPosix::seek(fFile.get(), offset, whence, fPath); }
  const std::string& path() const { return fPath; }

private:
  char fBuffer[kRawBlock];
};

struct IRaw {
  static constexpr const char* kName = "raw";

  // Opening and closing: the descriptor alone.
  class IOpen : public IPlainFile {
  public:
    explicit IOpen(const std::string& path) : IPlainFile(path, O_RDONLY) {}
  };

  class IOut {
  public:
    explicit IOut(const std::string& path) : fFile(path, kNewFile), fBuffer(fFile->buffer()) {}
    void put(char c) {
      if (fUsed == kRawBlock)
        flush();
      fBuffer[fUsed++] = c;
    }
    void line(long long v) {
      format(kIntegerRoom, [v](char* next, char* end) { return std::to_chars(next, end, v).ptr; });
    }
    void line(double v) {
      format(kDoubleRoom,
             [v](char* next, char* end) { return std::to_chars(next, end, v, std::chars_format::general, 6).ptr; });
    }
    // Each block copied through the one array: the floor for a buffer that
    // may not hand large blocks straight to the system.
    void write(const char* bytes, std::size_t count) {
      while (count > 0) {
        if (fUsed == kRawBlock)
          flush();
        const std::size_t piece = std::min(count, kRawBlock - fUsed);
        std::memcpy(fBuffer + fUsed, bytes, piece);
        fUsed += piece;
        bytes += piece;
        count -= piece;
      }
    }
    void close() {
      flush();
      fFile->close();
    }

  private:
    // `text(next, end)` puts a value's text at `next` and answers its end:
    // in place when `room` fits, else beside the array and then copied.
    template <class Text> void format(std::size_t room, Text text) {
      if (kRawBlock - fUsed >= room) {
        char* end = text(fBuffer + fUsed, fBuffer + kRawBlock);
        *end++ = '\n';
        fUsed = static_cast<std::size_t>(end - fBuffer);
      } else {
        char spare[kDoubleRoom];
        char* end = text(spare, spare + room - 1);
        *end++ = '\n';
        write(spare, static_cast<std::size_t>(end - spare));
      }
    }
    void flush() {
      fFile->drain(fUsed);
      fUsed = 0;
    }

    IInlineOwned<IRawFile> fFile;
    char* fBuffer;
    std::size_t fUsed = 0;
  };

  class IIn {
  public:
    explicit IIn(const std::string& path) : fFile(path, O_RDONLY) {}
    int get() {
      if (fNext == fEnd && !refill())
        return EOF;
      return static_cast<unsigned char>(*fNext++);
    }
    bool next(long long& v);
    bool line(std::string& text);
    bool read(char* block, std::size_t count);
    // A 4 KiB refill at the new position, as a buffer under this library's rules makes.
    void readAt(off_t offset, char* bytes, std::size_t count);
    void close() { fFile->close(); }

  private:
    // False at the end of the file.
    bool refill() {
      const std::size_t got = fFile->fill();
      fNext = fFile->buffer();
      fEnd = fNext + got;
      return got != 0;
    }
    static bool isNumberChar(char c) { return (c >= '0' && c <= '9') || c == '-' || c == '+'; }

    IInlineOwned<IRawFile> fFile;
    const char* fNext = nullptr;
    const char* fEnd = nullptr;
  };

  // The calls a buffer under this library's rules must make: a 4 KiB read,
  // a relative seek back over the unread bytes before writing, the bytes
  // written when reading resumes.
  class IWalk {
  public:
    explicit IWalk(const std::string& path) : fFile(path, O_RDWR) {}
    void step(char* bytes, std::size_t count, const char* patch, std::size_t patchCount);
    void close() {
      fFile->drain(fPending);
      fFile->close();
    }

  private:
    IInlineOwned<IRawFile> fFile;
    char* fNext = nullptr;
    char* fEnd = nullptr;
    std::size_t fPending = 0;
  };
};

// ---- limits for reference: what no buffer of 4096 bytes can reach.

// One read(2) or write(2) per 64 KiB block, as libstdc++ does for large blocks.
struct IDirect {
  static constexpr const char* kName = "direct";

  class IOut : public IPlainFile {
  public:
    explicit IOut(const std::string& path) : IPlainFile(path, kNewFile) {}
    void write(const char* bytes, std::size_t count) { IPosix::writeAll(fFile.get(), bytes, count, fPath); }
  };

  class IIn : public IPlainFile {
  public:
    explicit IIn(const std::string& path) : IPlainFile(path, O_RDONLY) {}
    bool read(char* block, std::size_t count);
  };
};

// The raw peer's 4 KiB refill with the seek folded into pread(2): one call instead of two.
struct IPread {
  static constexpr const char* kName = "pread";

  class IIn : public IPlainFile {
  public:
    explicit IIn(const std::string& path) : IPlainFile(path, O_RDONLY) {}
    void readAt(off_t offset, char* bytes, std::size_t count);

  private:
    char fBuffer[kRawBlock];
  };
};

// ---- timing a peer

// Times `write(out)` on a new Peer::IOut once per iteration, then checks
// that the file holds `expected`.
template <class Peer, class Write> void timeWriting(benchmark::State& state, Write write, std::string_view expected) {
  timeOutput(
      state,
      [&write](const std::string& path) {
        typename Peer::IOut out(path);
        write(out);
        out.close();
      },
      expected);
}

// Times `read(in)` on a Peer::IIn of `path` once per iteration; checks each answer against `expected`.
template <class Peer, class Read>
void timeReading(benchmark::State& state, const std::string& path, Read read, std::uint64_t expected,
                 std::size_t bytes) {
  timeInput(
      state,
      [&path, &read] {
        typename Peer::IIn in(path);
        const std::uint64_t answer = read(in);
        in.close();
        return answer;
      },
      expected, bytes);
}

// The sum of the integers that `next(v)` gives until it answers false, wrapping.
template <class Next> std::uint64_t sumIntegers(Next next) {
  std::uint64_t sum = 0;
  long long v;
  while (next(v))
    sum += static_cast<std::uint64_t>(v);
  return sum;
}

// ---- the loops that run once per value or line, inline as in a program

inline bool IStdio::IIn::line(std::string& text) {
  const ssize_t length = ::getline(&fLine, &fLineCapacity, fFile.get());
  if (length < 0)
    return false;
  const std::size_t n = static_cast<std::size_t>(length);
  text.assign(fLine, n > 0 && fLine[n - 1] == '\n' ? n - 1 : n);
  return true;
}

// std::from_chars of a decimal integer, compiled for base 10 alone. The
// compiler makes such a copy by itself only where the code around the call
// leads it to, so the raw peer's time would depend on the workload's shape.
[[gnu::noinline, gnu::flatten]] inline std::from_chars_result fromDecimal(const char* first, const char* last,
                                                                          long long& v) {
  return std::from_chars(first, last, v);
}

inline bool IRaw::IIn::next(long long& v) {
  // White space, across refills.
  for (;;) {
    if (fNext == fEnd && !refill())
      return false;
    if (*fNext != ' ' && (*fNext < '\t' || *fNext > '\r'))
      break;
    ++fNext;
  }
  if (static_cast<std::size_t>(fEnd - fNext) > kIntegerRoom) {
    // The number ends inside the array: convert it where it lies.
    fNext = fromDecimal(fNext, fEnd, v).ptr;
  } else {
    char text[kIntegerRoom];
    std::size_t length = 0;
    while ((fNext < fEnd || refill()) && isNumberChar(*fNext) && length < sizeof text)
      text[length++] = *fNext++;
    fromDecimal(text, text + length, v);
  }
  return true;
}

inline bool IRaw::IIn::line(std::string& text) {
  bool partial = false;
  for (;;) {
    if (fNext == fEnd && !refill())
      return partial;
    const char* hit = static_cast<const char*>(std::memchr(fNext, '\n', static_cast<std::size_t>(fEnd - fNext)));
    const char* stop = hit ? hit : fEnd;
    if (partial)
      text.append(fNext, stop);
    else
      text.assign(fNext, stop);
    partial = true;
    fNext = hit ? hit + 1 : fEnd;
    if (hit)
      return true;
  }
}

} // namespace kfbench
