// IFileIOStream on real files: how open modes find, make or refuse a file,
// construction and destruction, close and reopen, and classic programs.
#include "errorof.hpp"
#include "filebuf.hpp"
#include "iexcept.hpp"
#include "ifilestr.hpp"
#include "iomanip.hpp"
#include "memfile.hpp"
#include "tempdir.hpp"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <new>
#include <poll.h>
#include <stdexcept>
#include <string>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>
#include <vector>

// The next allocation of exactly this many bytes fails; 0 fails none.
static std::size_t failingAllocationSize = 0;

// Out of line, so that the compiler pairs malloc and free itself instead of
// seeing free meet operator new.
[[gnu::noinline]] void* operator new(std::size_t size) {
  if (size == failingAllocationSize) {
    failingAllocationSize = 0;
    throw std::bad_alloc();
  }
  if (void* bytes = std::malloc(size ? size : 1))
    return bytes;
  throw std::bad_alloc();
}
[[gnu::noinline]] void operator delete(void* bytes) noexcept { std::free(bytes); }
[[gnu::noinline]] void operator delete(void* bytes, std::size_t) noexcept { std::free(bytes); }


namespace {

// --- open mode to creation rule --------------------------------------------

enum EOutcome { kOpened, kCreated, kEmptied, kMissing, kExists };

struct IModeCase {
  const char* fName;
  int fMode;
  EOutcome fOnMissing;  // what happens when the file does not exist
  EOutcome fOnExisting; // what happens to an existing file of 3 bytes
  EOutcome fOnDangling = kMissing; // a link to a missing file: its target is never made
};

class CreateRule : public ::testing::TestWithParam<IModeCase> {};

// Tries the mode on a missing and on an existing file. A mode that asks for no
// access at all passes the rule but is refused when the file is opened.
TEST_P(CreateRule, FindsMakesReplacesOrRefuses) {
  const IModeCase& c = GetParam();
  ITempDir dir;
  auto attempt = [&](const std::string& path) -> EOutcome {
    bool existed = pathExists(path);
    try {
      IFileIOStream s(path, c.fMode, 0);
    } catch (const IInvalidParameter&) {
      EXPECT_EQ(c.fMode & (ios::in | ios::out | ios::app | ios::trunc), 0) << "only a mode without access";
    } catch (const IAccessError& error) {
      if (error.errorId() == ENOENT)
        return kMissing;
      if (error.errorId() == EEXIST)
        return kExists;
      ADD_FAILURE() << error.what();
    }
    if (!existed)
      return pathExists(path) ? kCreated : kMissing;
    return readWholeFile(path).empty() ? kEmptied : kOpened;
  };

  std::string missing = dir.path("missing");
  EXPECT_EQ(attempt(missing), c.fOnMissing);
  std::string existing = dir.path("existing");
  writeWholeFile(existing, "old");
  EXPECT_EQ(attempt(existing), c.fOnExisting);
  if (c.fOnExisting != kEmptied) {
    EXPECT_EQ(readWholeFile(existing), "old");
  }
  const std::string link = dir.path("link");
  ASSERT_EQ(::symlink(dir.path("target").c_str(), link.c_str()), 0);
  EXPECT_EQ(attempt(link), c.fOnDangling);
  EXPECT_FALSE(pathExists(dir.path("target")));
}

INSTANTIATE_TEST_SUITE_P(
    Modes, CreateRule,
    ::testing::Values(IModeCase{"in", ios::in, kMissing, kOpened}, IModeCase{"out", ios::out, kCreated, kOpened},
                      IModeCase{"in_out", ios::in | ios::out, kCreated, kOpened},
                      IModeCase{"out_nocreate", ios::out | ios::nocreate, kMissing, kOpened},
                      IModeCase{"out_trunc", ios::out | ios::trunc, kCreated, kEmptied},
                      IModeCase{"out_trunc_noreplace", ios::out | ios::trunc | ios::noreplace, kCreated, kExists, kExists},
                      IModeCase{"in_trunc", ios::in | ios::trunc, kCreated, kEmptied},
                      IModeCase{"out_trunc_nocreate", ios::out | ios::trunc | ios::nocreate, kCreated, kEmptied},
                      IModeCase{"out_noreplace", ios::out | ios::noreplace, kCreated, kOpened},
                      IModeCase{"app", ios::app, kMissing, kOpened},
                      IModeCase{"out_app", ios::out | ios::app, kCreated, kOpened},
                      IModeCase{"none", 0, kMissing, kOpened}),
    [](const auto& info) { return std::string(info.param.fName); });

// --- construction and destruction ------------------------------------------

TEST(FileStream, FailedConstructionLeavesNothingOpen) {
  ITempDir dir;
  int before = openDescriptorCount();
  EXPECT_EQ(errorOf([&] { IFileIOStream s(dir.path("nothing"), ios::in, 0); }), ENOENT);
  EXPECT_EQ(errorOf([&] { IFileIOStream s(dir.path("no/such/folder"), ios::out, 0); }), ENOENT);
  EXPECT_EQ(errorOf([&] { IFileIOStream s("/proc/sys/kernel/ostype", ios::out, 0); }), EACCES);
  EXPECT_EQ(errorOf([&] { IFileIOStream s(dir.path(), ios::in, 0); }), EISDIR);
  EXPECT_THROW(IFileIOStream("", ios::in, 0), IInvalidParameter);
  EXPECT_EQ(openDescriptorCount(), before);
}

// The storage for the buffer is taken before the file is looked at, so a
// failed allocation neither makes nor cuts a file.
TEST(FileStream, FailedAllocationChangesNoFile) {
  ITempDir dir;
  writeWholeFile(dir.path("existing"), "old");
  int before = openDescriptorCount();
  const struct {
    const char* fName;
    int fMode;
  } attempts[] = {{"missing", ios::out}, {"existing", ios::out | ios::trunc}, {"missing", ios::in | ios::out}};
  for (const auto& a : attempts) {
    failingAllocationSize = sizeof(IFSFileBuf);
    EXPECT_THROW(IFileIOStream(dir.path(a.fName), a.fMode, 0), std::bad_alloc) << a.fName;
    failingAllocationSize = 0;
  }
  EXPECT_FALSE(pathExists(dir.path("missing")));
  EXPECT_EQ(readWholeFile(dir.path("existing")), "old");
  EXPECT_EQ(openDescriptorCount(), before);
  IFileIOStream s(dir.path("missing"), ios::out, 0); // nothing is left armed
  EXPECT_TRUE(pathExists(dir.path("missing")));
}

TEST(FileStream, FailingByteStreamFailsConstructionFromFile) {
  std::shared_ptr<IMemoryFile> mem;
  IFile file = memoryFile(mem, "abc");
  mem->fFailCall = 1;
  EXPECT_THROW(IFileIOStream(file, ios::in, 0), IAccessError);
  mem->fFailCall = 2; // the endOfFile of an ate open
  EXPECT_THROW(IFileIOStream(file, ios::in | ios::ate, 0), IAccessError);
  EXPECT_EQ(mem->fLiveStreams, 0);
  EXPECT_THROW(IFileIOStream(IFile(), ios::in, 0), IInvalidRequest);
}

TEST(FileStream, DestructionAfterCloseAndAfterFailedWrite) {
  ITempDir dir;
  {
    IFileIOStream s(dir.path("a"), ios::out, 0);
    s << "kept";
    s.close();
  } // the second close inside the destructor is a reported precondition, dropped
  EXPECT_EQ(readWholeFile(dir.path("a")), "kept");

  int before = openDescriptorCount();
  {
    IFileIOStream full("/dev/full", ios::out, 0);
    full << "lost";
    EXPECT_EQ(errorOf([&] { full.close(); }), ENOSPC);
  } // the destructor drops the failure and releases everything
  EXPECT_EQ(openDescriptorCount(), before);
}

template <class IBase>
class DeleteThrough : public ::testing::Test {};
using IBases = ::testing::Types<ios, istream, ostream, iostream, IFileIOStream>;
TYPED_TEST_SUITE(DeleteThrough, IBases);

TYPED_TEST(DeleteThrough, RunsTheWholeDestructor) {
  ITempDir dir;
  IFileIOStream* stream = new IFileIOStream(dir.path("f"), ios::out, 0);
  *stream << "flushed by the destructor";
  TypeParam* base = stream;
  delete base;
  EXPECT_EQ(readWholeFile(dir.path("f")), "flushed by the destructor");
}

TEST(FileStream, CloseAndOpenAnotherFileKeepsStateBits) {
  ITempDir dir;
  writeWholeFile(dir.path("one"), "1");
  writeWholeFile(dir.path("two"), "22");
  IFileIOStream s(dir.path("one"), ios::in, 0);
  int n = 0;
  s >> n;
  EXPECT_EQ(n, 1);
  EXPECT_TRUE(s.eof());
  IFile first = s.file();
  EXPECT_EQ(first.path(), IText(dir.path("one")));
  s.close();
  EXPECT_FALSE(s.file().isValid());
  EXPECT_TRUE(s.eof()) << "close leaves the state bits alone";

  s.open(IFile(dir.path("two")), ios::in, 0);
  EXPECT_TRUE(s.eof()) << "so does open";
  s.clear();
  s >> n;
  EXPECT_EQ(n, 22);
  EXPECT_EQ(first.path(), IText(dir.path("one"))) << "file() handed out a copy";
  EXPECT_THROW(s.open(first, ios::in, 0), IAssertionFailure);
}

// --- classic programs --------------------------------------------------------

TEST(FileStream, FormattedRecordsRoundTrip) {
  ITempDir dir;
  {
    IFileIOStream out(dir.path("r"), ios::out | ios::trunc, 0);
    for (int i = 0; i < 1000; ++i)
      out << "item" << i << ' ' << setw(8) << i * 37 << ' ' << i * 0.5 << ' ' << -i << '\n';
  }
  IFileIOStream in(dir.path("r"), ios::in, 0);
  std::string name;
  long quantity = 0;
  double half = 0;
  int negative = 0;
  for (int i = 0; i < 1000; ++i) {
    ASSERT_TRUE(in >> name >> quantity >> half >> negative) << i;
    EXPECT_EQ(name, "item" + std::to_string(i));
    EXPECT_EQ(quantity, i * 37);
    EXPECT_EQ(half, i * 0.5);
    EXPECT_EQ(negative, -i);
  }
  EXPECT_FALSE(in >> name);
  EXPECT_TRUE(in.eof());
}

TEST(FileStream, GetlineLoopOverManyBuffers) {
  ITempDir dir;
  std::string expected;
  for (int i = 0; i < 5000; ++i)
    expected += std::string(static_cast<std::size_t>(i % 97), 'a' + i % 26) + '\n';
  writeWholeFile(dir.path("lines"), expected);
  IFileIOStream in(dir.path("lines"), ios::in, 0);
  std::string line, seen;
  int count = 0;
  while (getline(in, line)) {
    seen += line + '\n';
    ++count;
  }
  EXPECT_EQ(count, 5000);
  EXPECT_EQ(seen, expected);
}

TEST(FileStream, ReadThenOverwriteWithoutSeek) {
  ITempDir dir;
  std::string content(10000, '.');
  for (std::size_t i = 0; i < content.size(); ++i)
    content[i] = static_cast<char>('a' + i % 26);
  writeWholeFile(dir.path("walk"), content);
  {
    IFileIOStream s(dir.path("walk"), ios::in | ios::out, 0);
    char block[100];
    while (s.read(block, 100))
      s.write("0123456789", 10);
  }
  std::string expected = content;
  for (std::size_t at = 0; at + 100 <= expected.size(); at += 10) {
    at += 100;
    expected.replace(at, std::min<std::size_t>(10, expected.size() - at), "0123456789");
  }
  EXPECT_EQ(readWholeFile(dir.path("walk")), expected);
}

TEST(FileStream, SeekTellAndPutbackAcrossBuffers) {
  ITempDir dir;
  std::string content(20000, '\0');
  for (std::size_t i = 0; i < content.size(); ++i)
    content[i] = static_cast<char>(i * 131 % 251);
  writeWholeFile(dir.path("s"), content);
  IFileIOStream s(dir.path("s"), ios::in | ios::out, 0);
  for (streampos pos : {0LL, 4095LL, 4096LL, 4097LL, 12345LL, 19999LL}) {
    s.seekg(pos);
    EXPECT_EQ(s.tellg(), pos);
    int c = s.get();
    EXPECT_EQ(c, static_cast<unsigned char>(content[static_cast<std::size_t>(pos)]));
    s.putback(static_cast<char>(c));
    EXPECT_EQ(s.get(), c);
  }
  s.seekg(-1, ios::end);
  EXPECT_EQ(s.tellg(), 19999);
  s.seekp(10, ios::beg);
  s.put('X');
  EXPECT_EQ(s.tellp(), 11);
  s.seekg(-1, ios::cur);
  EXPECT_EQ(s.get(), 'X');
}

TEST(FileStream, PositionsPastFourGibibytesAreExact) {
  ITempDir dir;
  const long long big = (1LL << 32) + 100;
  IFileIOStream s(dir.path("sparse"), ios::in | ios::out | ios::trunc, 0);
  static_cast<IFSFileBuf*>(s.rdbuf())->setEndOfFile(big);
  const long long positions[] = {(1LL << 31) - 2, (1LL << 31) + 8, (1LL << 32) - 2, (1LL << 32) + 8, big - 10};
  for (long long pos : positions) {
    s.seekp(pos);
    EXPECT_EQ(s.tellp(), pos);
    s.write("edge", 4);
    EXPECT_EQ(s.tellp(), pos + 4);
  }
  for (long long pos : positions) {
    s.seekg(pos);
    char word[5] = {};
    s.read(word, 4);
    EXPECT_STREQ(word, "edge") << pos;
    EXPECT_EQ(s.tellg(), pos + 4);
  }
  s.seekg(0, ios::end);
  EXPECT_EQ(s.tellg(), big);
}

// --- putback at the start of a file ----------------------------------------

struct IStartCase {
  const char* fName;
  int fRead;          // characters taken with get() first; -1: peek only
  bool fSeekToStart;  // seekg(0) after them
  const char* fBacks; // 'u' for unget, others for putback
  const char* fTaken; // per step: '1' taken, '0' refused with badbit
};

class StartOfFile : public ::testing::TestWithParam<IStartCase> {};

// A refused putback is a state bit like any other; nothing afterwards throws
// and the file's bytes and positions are as if it had not been tried.
TEST_P(StartOfFile, PutbackInFrontOfTheFirstByteIsRefused) {
  const IStartCase& c = GetParam();
  ITempDir dir;
  writeWholeFile(dir.path("f"), "abcdef");
  IFileIOStream s(dir.path("f"), ios::in | ios::out, 0);
  if (c.fRead < 0)
    s.peek();
  for (int i = 0; i < c.fRead; ++i)
    s.get();
  if (c.fSeekToStart)
    s.seekg(0);
  std::string taken;
  for (const char* b = c.fBacks; *b; ++b) {
    EXPECT_NO_THROW(*b == 'u' ? s.unget() : s.putback(*b));
    taken += s.bad() ? '0' : '1';
    s.clear();
  }
  EXPECT_EQ(taken, c.fTaken);
  streampos at = 0;
  EXPECT_NO_THROW(at = s.tellg());
  EXPECT_GE(at, 0);
  EXPECT_NO_THROW(s << 'Z' << flush);
  EXPECT_TRUE(s.good());
  EXPECT_NO_THROW(s.unget());
  s.close();
  std::string expected = "abcdef";
  expected[static_cast<std::size_t>(at)] = 'Z';
  EXPECT_EQ(readWholeFile(dir.path("f")), expected);
}

INSTANTIATE_TEST_SUITE_P(
    Steps, StartOfFile,
    ::testing::Values(IStartCase{"UngetAtOpen", 0, false, "u", "0"}, IStartCase{"PutbackAtOpen", 0, false, "X", "0"},
                      IStartCase{"UngetAfterPeek", -1, false, "u", "0"},
                      IStartCase{"AfterSeekToStart", 3, true, "uXY", "000"},
                      IStartCase{"UngetFirstByte", 1, false, "uu", "10"},
                      IStartCase{"PutbackOverFirstByte", 1, false, "XY", "10"},
                      IStartCase{"ThreeBackFour", 3, false, "uuuu", "1110"}),
    [](const auto& info) { return std::string(info.param.fName); });

// --- a borrowed descriptor ---------------------------------------------------

struct IBorrowedCase {
  const char* fName;
  int fMode;
  off_t fStandsAt;     // where the owner left the descriptor
  streampos fTell;     // where the stream starts
  int fBefore;         // the byte unget() gives back, or EOF: refused with badbit
  streampos fWriteAt;  // seekp there, then "X" is written
  const char* fAfter;  // the file then
};

class BorrowedDescriptor : public ::testing::TestWithParam<IBorrowedCase> {};

// A borrowed descriptor starts where its owner left it, or at the end for
// ate and app, and app writes at the end whatever a seek did.
TEST_P(BorrowedDescriptor, StartsWhereItStandsAndHonoursAteAndApp) {
  const IBorrowedCase& c = GetParam();
  ITempDir dir;
  writeWholeFile(dir.path("f"), "hello world");
  const int fd = ::open(dir.path("f").c_str(), O_RDWR | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::lseek(fd, c.fStandsAt, SEEK_SET), c.fStandsAt);
  {
    IFileIOStream s(IFile::borrowing(fd), c.fMode, 0);
    EXPECT_EQ(s.tellg(), c.fTell);
    EXPECT_NO_THROW(s.unget());
    EXPECT_EQ(s.bad() != 0, c.fBefore == EOF);
    if (c.fBefore != EOF) {
      EXPECT_EQ(s.get(), c.fBefore);
    }
    s.clear();
    s.seekp(c.fWriteAt);
    s << 'X' << flush;
    EXPECT_TRUE(s.good());
  }
  EXPECT_EQ(readWholeFile(dir.path("f")), c.fAfter);
  EXPECT_EQ(::close(fd), 0) << "the descriptor stays its owner's";
}

INSTANTIATE_TEST_SUITE_P(
    Modes, BorrowedDescriptor,
    ::testing::Values(IBorrowedCase{"AtTheStart", ios::in | ios::out, 0, 0, EOF, 0, "Xello world"},
                      IBorrowedCase{"WhereItStands", ios::in | ios::out, 5, 5, 'o', 5, "helloXworld"},
                      IBorrowedCase{"Ate", ios::in | ios::out | ios::ate, 0, 11, 'd', 11, "hello worldX"},
                      IBorrowedCase{"App", ios::in | ios::app, 0, 11, 'd', 0, "hello worldX"},
                      IBorrowedCase{"OutApp", ios::out | ios::app, 3, 11, EOF, 1, "hello worldX"}),
    [](const auto& info) { return std::string(info.param.fName); });

// --- pipes and terminals ------------------------------------------------------

// An end of a FIFO or the master of a pseudo-terminal, held by the test.
class IPeer {
public:
  explicit IPeer(int fd) : fFd(fd) {
    if (fd < 0)
      throw std::runtime_error(std::string("cannot open the peer: ") + std::strerror(errno));
  }
  ~IPeer() { ::close(fFd); }
  IPeer(const IPeer&) = delete;
  IPeer& operator=(const IPeer&) = delete;
  int fd() const { return fFd; }

  void send(const std::string& bytes) const {
    ASSERT_EQ(::write(fFd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  }
  // Exactly `count` bytes, or what came within a few seconds.
  std::string receive(std::size_t count) const {
    std::string got;
    while (got.size() < count) {
      pollfd p{fFd, POLLIN, 0};
      if (::poll(&p, 1, 5000) <= 0)
        break;
      char chunk[256];
      ssize_t n = ::read(fFd, chunk, std::min(sizeof chunk, count - got.size()));
      if (n <= 0)
        break;
      got.append(chunk, static_cast<std::size_t>(n));
    }
    return got;
  }
  // Whether anything is waiting to be read.
  bool quiet() const {
    pollfd p{fFd, POLLIN, 0};
    return ::poll(&p, 1, 50) == 0;
  }

private:
  int fFd;
};

// A prompt, an answer read with >>, another prompt while input is pending;
// the caller's own tell is answered by the system and loses nothing.
TEST(FileStreamPipe, FifoDialogueFromTheOtherEnd) {
  ITempDir dir;
  std::string path = dir.path("fifo");
  ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
  IPeer reader(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
  IFileIOStream s(path, ios::in | ios::out, 0);
  IPeer writer(::open(path.c_str(), O_WRONLY | O_CLOEXEC));

  s << "number? " << flush;
  EXPECT_EQ(reader.receive(8), "number? ");
  writer.send("42 7\n");
  int first = 0;
  ASSERT_TRUE(s >> first);
  EXPECT_EQ(first, 42);
  // " 7\n" is in the buffer now and the FIFO is empty: a flush must neither
  // give it back nor drop it.
  s << "got " << first << '\n' << flush;
  EXPECT_TRUE(s.good());
  EXPECT_EQ(reader.receive(7), "got 42\n");
  int second = 0;
  ASSERT_TRUE(s >> second);
  EXPECT_EQ(second, 7);
  s << "again? " << flush;
  EXPECT_EQ(reader.receive(7), "again? ");
  EXPECT_TRUE(reader.quiet());

  // The stream reads its own bytes back, writes while input is pending,
  // and asks for its position, which a FIFO does not have.
  EXPECT_EQ(s.get(), '\n');
  s << "hello world\n" << flush;
  EXPECT_EQ(s.get(), 'h');
  s.put('!');
  EXPECT_NO_THROW(s.flush());
  EXPECT_TRUE(s.good());
  EXPECT_EQ(reader.receive(1), "!");
  EXPECT_EQ(errorOf([&] { s.tellg(); }), ESPIPE);
  std::string rest;
  ASSERT_TRUE(getline(s, rest));
  EXPECT_EQ(rest, "ello world") << "unread input outlives a refused seek";
  EXPECT_TRUE(reader.quiet());
}

TEST(FileStreamPipe, TerminalDialogueFromTheOtherEnd) {
  IPeer master(::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC));
  ASSERT_EQ(::grantpt(master.fd()), 0);
  ASSERT_EQ(::unlockpt(master.fd()), 0);
  IFileIOStream s(std::string(::ptsname(master.fd())), ios::in | ios::out, 0);
  // Raw: no echo, no line editing, no "\r\n" for '\n', so each side sees
  // exactly the other's bytes.
  termios mode{};
  ASSERT_EQ(::tcgetattr(master.fd(), &mode), 0);
  ::cfmakeraw(&mode);
  ASSERT_EQ(::tcsetattr(master.fd(), TCSANOW, &mode), 0);

  s << "name? " << flush;
  EXPECT_EQ(master.receive(6), "name? ");
  master.send("42\n");
  int answer = 0;
  ASSERT_TRUE(s >> answer);
  EXPECT_EQ(answer, 42);
  s << "and? " << flush; // the '\n' after 42 is still unread
  EXPECT_TRUE(s.good());
  EXPECT_EQ(master.receive(5), "and? ");
  master.send("7 8\n");
  int a = 0, b = 0;
  ASSERT_TRUE(s >> a >> b);
  EXPECT_EQ(a * 10 + b, 78);
  s << "sum " << a + b << '\n';
  EXPECT_EQ(errorOf([&] { s.tellp(); }), ESPIPE) << "the caller's tell is the system's answer";
  EXPECT_EQ(master.receive(7), "sum 15\n") << "the tell wrote pending output first";
  EXPECT_EQ(s.get(), '\n');
  EXPECT_TRUE(master.quiet());
}

} // namespace
