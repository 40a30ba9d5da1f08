// The host layer through its system-call table: EINTR, short and empty
// writes, failing closes and answers that a real file cannot be made to give;
// the runtime's descriptor buffer through the same table.
#include "errorof.hpp"
#include "fdbuf.hpp"
#include "hoststrm.hpp"
#include "iexcept.hpp"
#include "ifilestr.hpp"
#include "ifilesys.hpp"
#include "posix.hpp"
#include "tempdir.hpp"

#include <gtest/gtest.h>

#include <cerrno>
#include <fcntl.h>
#include <functional>
#include <memory>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

using namespace kelhost; // the host layer, private to the library, reached through its static archive
using kelrt::IDescriptorBuf;

namespace {

constexpr int kIn = 1, kOut = 2, kApp = 8;

enum ECall { kOpen, kClose, kRead, kWrite, kSeek, kTruncate, kFstat, kStat, kFcntl, kCallKinds };

// What the scripted table does, per kind of call.
struct IScript {
  int fCount[kCallKinds] = {};
  int fInterrupts[kCallKinds] = {}; // the next calls of the kind fail with EINTR
  int fFailure[kCallKinds] = {};    // then every call of the kind fails with this errno...
  bool fFailAfterCall[kCallKinds] = {}; // ...having made the real call first (close)
  std::size_t fWriteLimit = 0;      // a write passes at most this many bytes (0: all)
  int fWritesBeforeZero = -1;       // after this many writes, write returns 0
  std::function<void()> fBeforeFailedWrite; // runs before a scripted write failure
};
IScript gScript;

// Counts the call; true when it is to fail now (errno set).
bool scripted(ECall kind) {
  ++gScript.fCount[kind];
  if (gScript.fInterrupts[kind] > 0) {
    --gScript.fInterrupts[kind];
    errno = EINTR;
    return true;
  }
  if (gScript.fFailure[kind] != 0 && !gScript.fFailAfterCall[kind]) {
    errno = gScript.fFailure[kind];
    return true;
  }
  return false;
}

const IHostCalls& real() { return IHostCalls::system(); }

int fakeOpen(const char* path, int flags, mode_t mode) {
  return scripted(kOpen) ? -1 : real().open(path, flags, mode);
}
int fakeClose(int fd) {
  if (scripted(kClose))
    return -1;
  const int result = real().close(fd);
  if (gScript.fFailure[kClose] != 0) {
    errno = gScript.fFailure[kClose];
    return -1;
  }
  return result;
}
ssize_t fakeRead(int fd, void* buffer, std::size_t count) {
  return scripted(kRead) ? -1 : real().read(fd, buffer, count);
}
ssize_t fakeWrite(int fd, const void* buffer, std::size_t count) {
  if (scripted(kWrite)) {
    const int error = errno;
    if (error != EINTR && gScript.fBeforeFailedWrite)
      gScript.fBeforeFailedWrite();
    errno = error;
    return -1;
  }
  if (gScript.fWritesBeforeZero == 0)
    return 0;
  --gScript.fWritesBeforeZero;
  if (gScript.fWriteLimit != 0 && count > gScript.fWriteLimit)
    count = gScript.fWriteLimit;
  const ssize_t done = real().write(fd, buffer, count);
  if (gScript.fWritesBeforeZero == 0 && gScript.fFailure[kWrite] == 0 && gScript.fBeforeFailedWrite)
    gScript.fFailure[kWrite] = EFBIG; // the write after this one fails
  return done;
}
off_t fakeSeek(int fd, off_t offset, int whence) {
  return scripted(kSeek) ? -1 : real().lseek(fd, offset, whence);
}
int fakeTruncate(int fd, off_t size) { return scripted(kTruncate) ? -1 : real().ftruncate(fd, size); }
int fakeFstat(int fd, struct stat* status) { return scripted(kFstat) ? -1 : real().fstat(fd, status); }
int fakeStat(const char* path, struct stat* status) { return scripted(kStat) ? -1 : real().stat(path, status); }
int fakeFcntl(int fd, int command, struct flock* lock) {
  return scripted(kFcntl) ? -1 : real().fcntl(fd, command, lock);
}

// Puts the scripted table in place for one test, and the system's back after.
class PosixTest : public ::testing::Test {
protected:
  PosixTest() {
    gScript = IScript();
    IHostCalls::current() = {fakeOpen,     fakeClose, fakeRead, fakeWrite, fakeSeek,
                             fakeTruncate, fakeFstat, fakeStat, fakeFcntl};
  }
  ~PosixTest() override {
    IHostCalls::current() = IHostCalls::system();
    gScript = IScript();
  }

public:
  std::unique_ptr<IFSFileStream> open(int mode, int otherMode = 0) {
    return std::unique_ptr<IFSFileStream>(IFile(fFile, IFileSystemEntity::kCreateIfNeeded).getRecord()->createStream(mode, otherMode));
  }

protected:
  ITempDir fDir;
  std::string fFile = fDir.path("data");
};

// --- EINTR --------------------------------------------------------------------

struct IRetryCase {
  const char* fName;
  ECall fCall;
  std::function<void(PosixTest&, IFSFileStream&)> fAction;
};

class PosixRetry : public PosixTest, public ::testing::WithParamInterface<IRetryCase> {};

// Two interruptions cost two more calls of the kind and change nothing else.
TEST_P(PosixRetry, EveryRetriedCallSurvivesEintr) {
  const IRetryCase& c = GetParam();
  writeWholeFile(fFile, "0123456789");
  int plain = 0;
  for (int interrupts : {0, 2}) {
    auto stream = open(kIn | kOut, kIn | kOut);
    const int before = gScript.fCount[c.fCall];
    gScript.fInterrupts[c.fCall] = interrupts;
    EXPECT_NO_THROW(c.fAction(*this, *stream)) << interrupts << " interruptions";
    EXPECT_EQ(gScript.fInterrupts[c.fCall], 0);
    const int made = gScript.fCount[c.fCall] - before;
    if (interrupts == 0)
      plain = made;
    else
      EXPECT_EQ(made, plain + interrupts);
  }
  EXPECT_EQ(readWholeFile(fFile).size(), 10u);
}

INSTANTIATE_TEST_SUITE_P(
    Calls, PosixRetry,
    ::testing::Values(
        IRetryCase{"open", kOpen, [](PosixTest& t, IFSFileStream&) { t.open(kIn, kIn | kOut); }},
        IRetryCase{"read", kRead,
                   [](PosixTest&, IFSFileStream& s) {
                     char buffer[4];
                     EXPECT_EQ(s.doRead(buffer, 4), 4);
                   }},
        IRetryCase{"write", kWrite, [](PosixTest&, IFSFileStream& s) { s.doWrite("abcd", 4); }},
        IRetryCase{"lseek", kSeek, [](PosixTest&, IFSFileStream& s) { EXPECT_EQ(s.doSeek(3, IFSFileStream::beg), 3); }},
        IRetryCase{"ftruncate", kTruncate, [](PosixTest&, IFSFileStream& s) { s.setEndOfFile(10); }},
        IRetryCase{"fstat", kFstat, [](PosixTest&, IFSFileStream& s) { EXPECT_EQ(s.endOfFile(), 10); }},
        IRetryCase{"stat", kStat, [](PosixTest& t, IFSFileStream&) { t.open(kIn, kIn | kOut); }},
        IRetryCase{"fcntl", kFcntl, [](PosixTest& t, IFSFileStream&) { t.open(kIn, kIn | kOut); }},
        // The runtime's descriptor buffer, on the stream's descriptor.
        IRetryCase{"fdbufRead", kRead,
                   [](PosixTest&, IFSFileStream& s) {
                     IDescriptorBuf in(s.descriptor());
                     EXPECT_EQ(in.sgetc(), '0');
                   }},
        IRetryCase{"fdbufWrite", kWrite,
                   [](PosixTest&, IFSFileStream& s) {
                     IDescriptorBuf out(s.descriptor());
                     EXPECT_EQ(out.sputn("abcd", 4), 4);
                     EXPECT_EQ(out.sync(), 0);
                   }},
        IRetryCase{"fdbufLseek", kSeek,
                   [](PosixTest&, IFSFileStream& s) {
                     IDescriptorBuf buffer(s.descriptor());
                     EXPECT_EQ(buffer.seekoff(3, ios::beg), 3);
                   }}),
    [](const auto& info) { return std::string(info.param.fName); });

// --- writes -------------------------------------------------------------------

TEST_F(PosixTest, ShortWritesAreContinued) {
  auto stream = open(kOut);
  gScript.fWriteLimit = 3;
  stream->doWrite("hello world", 11);
  EXPECT_EQ(gScript.fCount[kWrite], 4);
  EXPECT_EQ(readWholeFile(fFile), "hello world");
  EXPECT_EQ(stream->doSeek(0, IFSFileStream::cur), 11);
  // The runtime's descriptor buffer continues them too, and fails (EOF, the
  // bytes dropped) on a write that takes nothing.
  IDescriptorBuf out(stream->descriptor());
  EXPECT_EQ(out.sputn(" again", 6), 6);
  EXPECT_EQ(out.sync(), 0);
  EXPECT_EQ(gScript.fCount[kWrite], 6);
  EXPECT_EQ(readWholeFile(fFile), "hello world again");
  gScript.fWritesBeforeZero = 0;
  EXPECT_EQ(out.sputn("!", 1), 1);
  EXPECT_EQ(out.sync(), EOF);
  EXPECT_EQ(gScript.fCount[kWrite], 7);
  EXPECT_EQ(readWholeFile(fFile), "hello world again");
}

// write(2) taking nothing would loop for ever: it is EIO. What went out
// before stays out, and the error says how much: a retry writes the rest.
TEST_F(PosixTest, AWriteThatTakesNothingIsEioAndKeepsWhatWentOut) {
  writeWholeFile(fFile, "..");
  auto stream = open(kOut);
  stream->doSeek(2, IFSFileStream::beg);
  gScript.fWriteLimit = 4;
  gScript.fWritesBeforeZero = 1;
  try {
    stream->doWrite("abcdefgh", 8);
    FAIL() << "a write that took nothing succeeded";
  } catch (const IWriteError& e) {
    EXPECT_EQ(e.errorId(), EIO);
    EXPECT_EQ(e.bytesWritten(), 4);
    EXPECT_NE(std::string(e.what()).find("4 of 8 bytes reached the file: the system accepted no bytes"),
              std::string::npos)
        << e.what();
  }
  EXPECT_EQ(stream->doSeek(0, IFSFileStream::cur), 6);
  gScript = IScript();
  stream->doWrite("efgh", 4);
  EXPECT_EQ(readWholeFile(fFile), "..abcdefgh");
}

// In app mode the rest goes to the end as it is then, behind what another
// writer appended meanwhile; nothing is cut or overwritten.
TEST_F(PosixTest, AFailedPartialWriteInAppModeCutsNothingAndTheRestIsAppended) {
  writeWholeFile(fFile, ".....");
  auto stream = open(kApp);
  ASSERT_EQ(stream->doSeek(0, IFSFileStream::cur), 5);
  gScript.fWriteLimit = 3;
  gScript.fWritesBeforeZero = 1;
  const std::string path = fFile;
  gScript.fBeforeFailedWrite = [path] {
    const int other = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
    ASSERT_GE(other, 0);
    ASSERT_EQ(::write(other, "tail", 4), 4);
    ::close(other);
  };
  long long written = -1;
  try {
    stream->doWrite("abcdef", 6);
  } catch (const IWriteError& e) {
    written = e.bytesWritten();
  }
  ASSERT_EQ(written, 3);
  gScript = IScript();
  stream->doSeek(0, IFSFileStream::beg); // where it reads; it still appends
  stream->doWrite("def", 3);
  EXPECT_EQ(readWholeFile(fFile), ".....abctaildef");
}

// A pipe has no position to step back to: after a failed flush the stream
// keeps only what did not go out, and the next flush sends that, once.
TEST_F(PosixTest, AFailedFlushToAPipeSendsTheRestOnce) {
  const std::string fifo = fDir.path("fifo");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  IFileIOStream s(fifo, ios::in | ios::out, 0); // a FIFO opened both ways reads back what it was sent
  std::string sent;
  for (int i = 0; i < 20; ++i)
    sent += "line " + std::to_string(i) + "\n";
  s << sent.c_str();
  gScript.fWriteLimit = 30;
  gScript.fWritesBeforeZero = 1;
  EXPECT_EQ(errorOf([&] { s.flush(); }), EIO);
  gScript = IScript();
  s.flush();
  std::string received(sent.size(), '\0');
  s.read(received.data(), static_cast<int>(received.size()));
  EXPECT_EQ(received, sent);
}

// --- close ---------------------------------------------------------------------

class PosixCloseFailure : public PosixTest, public ::testing::WithParamInterface<int> {};

// close(2) is never retried: the descriptor is gone whatever it returns.
// EINTR is no failure; any other error is reported once.
TEST_P(PosixCloseFailure, IsNeverRetriedAndReportedOnce) {
  const int descriptors = openDescriptorCount();
  auto stream = open(kOut);
  gScript.fFailure[kClose] = GetParam();
  gScript.fFailAfterCall[kClose] = true;
  const int before = gScript.fCount[kClose];
  EXPECT_EQ(errorOf([&] { stream->close(); }), GetParam() == EINTR ? 0 : GetParam());
  EXPECT_NO_THROW(stream->close());
  stream.reset();
  EXPECT_EQ(gScript.fCount[kClose] - before, 1);
  EXPECT_EQ(openDescriptorCount(), descriptors);
}

INSTANTIATE_TEST_SUITE_P(Errors, PosixCloseFailure, ::testing::Values(EINTR, EIO));

TEST_F(PosixTest, DescriptorOwnerClosesOnceAndMovesOwnership) {
  IDescriptor first = IPosix::open(fFile, O_WRONLY | O_CREAT);
  const int fd = first.get();
  IDescriptor second(std::move(first));
  EXPECT_FALSE(first.isOpen());
  EXPECT_EQ(second.get(), fd);
  second = IDescriptor();
  EXPECT_EQ(gScript.fCount[kClose], 1);
  EXPECT_LT(::fcntl(fd, F_GETFD), 0);
}

// --- answers a real file does not give -----------------------------------------

TEST_F(PosixTest, AFailingFstatAfterOpenLeaksNoDescriptor) {
  writeWholeFile(fFile, "kept");
  const IFile file(fFile);
  const int descriptors = openDescriptorCount();
  gScript.fFailure[kFstat] = EIO;
  EXPECT_EQ(errorOf([&] { std::unique_ptr<IFSFileStream>(file.getRecord()->createStream(kOut | 16, 0)); }), EIO);
  EXPECT_EQ(gScript.fCount[kOpen], 1);
  EXPECT_EQ(gScript.fCount[kClose], 1);
  EXPECT_EQ(openDescriptorCount(), descriptors);
  EXPECT_EQ(readWholeFile(fFile), "kept");
}

TEST_F(PosixTest, EspipeFromLseekIsReportedWithItsReason) {
  auto stream = open(kIn | kOut);
  gScript.fFailure[kSeek] = ESPIPE;
  try {
    stream->doSeek(1, IFSFileStream::beg);
    FAIL() << "the seek succeeded";
  } catch (const IAccessError& e) {
    EXPECT_EQ(e.errorId(), ESPIPE);
    const std::string text = e.what();
    EXPECT_EQ(text.rfind("seek of '" + fFile + "' failed: ", 0), 0u) << text;
    EXPECT_NE(text.find("no position"), std::string::npos) << text;
  }
}

} // namespace
