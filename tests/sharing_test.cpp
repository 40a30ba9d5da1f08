// Sharing modes: which opens of a file keep out which, in one process and
// across processes; when the rules end; racing opens; what a refused open
// leaves; file systems without the locks.
#include "filebuf.hpp"
#include "fstream.hpp"
#include "hostcall.hpp"
#include "hostshar.hpp"
#include "posix.hpp"
#include "iexcept.hpp"
#include "ifilestr.hpp"
#include "ifilesys.hpp"
#include "tempdir.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <condition_variable>
#include <cstdio>
#include <functional>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace kelhost; // the host layer, private to the library, reached through its static archive

namespace {

using kelhost::IHostSharing;
using ILockCall = int (*)(int descriptor, int command, struct flock* lock);

// A claim whose lock calls go through `call` in the host's table of system
// calls (the system's fcntl for null), put back after the claim.
void claimWith(IHostSharing& held, int fd, const std::string& path, unsigned access, unsigned granted,
               ILockCall call = nullptr, const struct stat* file = nullptr) {
  IHostCalls& calls = IHostCalls::current();
  const auto saved = calls.fcntl;
  if (call)
    calls.fcntl = call;
  try {
    held.claim(fd, path, IAccess::fromBits(access), IAccess::fromBits(granted), file);
    calls.fcntl = saved;
  } catch (...) {
    calls.fcntl = saved;
    throw;
  }
}

// The same, for a claim that is dropped at once.
void claimOnce(int fd, const std::string& path, unsigned access, unsigned granted, ILockCall call = nullptr,
               const struct stat* file = nullptr) {
  IHostSharing held;
  claimWith(held, fd, path, access, granted, call, file);
  held.release(path);
}

// --- helpers ------------------------------------------------------------------

// Whether `error` is the refusal of an open of `path` for its sharing mode.
::testing::AssertionResult isSharingViolation(const IAccessError& error, const std::string& path) {
  const std::string text = error.what();
  if (error.errorId() == EBUSY && text.find("sharing violation") != std::string::npos &&
      text.find("'" + path + "'") != std::string::npos)
    return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "errno " << error.errorId() << ": " << text;
}

enum EOutcome { kOpens, kRefused };

// Opens `path` with IFileIOStream and closes it again; a sharing violation is
// kRefused, any other failure passes on. By a path, the open mode's creation
// rule comes first (trunc replaces the file there); by a file object, the
// stream's own open decides alone.
enum EBy { kByPath, kByFile };
EOutcome tryOpen(const std::string& path, int mode, int share, EBy by = kByPath) {
  try {
    if (by == kByPath)
      IFileIOStream stream(path, mode, share);
    else
      IFileIOStream stream(IFile(path), mode, share);
    return kOpens;
  } catch (const IAccessError& error) {
    if (!isSharingViolation(error, path))
      throw;
    return kRefused;
  }
}

// Whether any open file description holds a lock on the file at `path`.
// (/proc/locks would list them, but it is read in pieces, and while other
// processes take and drop locks a line can come twice or not at all.)
bool isLocked(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0)
    throw std::runtime_error("open of '" + path + "' failed");
  struct flock lock {};
  lock.l_type = F_WRLCK;
  lock.l_whence = SEEK_SET; // l_start 0, l_len 0: every byte
  const int result = ::fcntl(fd, F_OFD_GETLK, &lock);
  ::close(fd);
  if (result != 0)
    throw std::runtime_error("F_OFD_GETLK on '" + path + "' failed");
  return lock.l_type != F_UNLCK;
}

// A forked child running `body`, which returns the child's exit code. The
// child never returns into the test (it leaves with _exit, so no test state
// and no destructor of the parent's objects runs there). The child may call
// ready() to tell the parent it holds what it should, and waitForGo() to wait
// until the parent calls go().
class IChild {
public:
  explicit IChild(const std::function<int(IChild&)>& body) {
    if (::pipe2(fReady, O_CLOEXEC) != 0 || ::pipe2(fGo, O_CLOEXEC) != 0)
      throw std::runtime_error("pipe2 failed");
    fPid = ::fork();
    if (fPid < 0)
      throw std::runtime_error("fork failed");
    if (fPid == 0) {
      ::close(fReady[0]);
      ::close(fGo[1]);
      int code = 99;
      try {
        code = body(*this);
      } catch (...) {
        code = 98;
      }
      ::_exit(code);
    }
    ::close(fReady[1]);
    ::close(fGo[0]);
  }
  ~IChild() {
    if (fPid > 0) {
      ::kill(fPid, SIGKILL);
      reap();
    }
    ::close(fReady[0]);
    ::close(fGo[1]);
  }
  IChild(const IChild&) = delete;
  IChild& operator=(const IChild&) = delete;

  // In the child.
  void ready(char report = 'r') { (void)!::write(fReady[1], &report, 1); }
  void waitForGo() {
    char c;
    while (::read(fGo[0], &c, 1) < 0 && errno == EINTR) {
    }
  }

  // In the parent: the child's report, or 0 when it ended without one.
  char waitReady() {
    char report = 0;
    ssize_t got;
    while ((got = ::read(fReady[0], &report, 1)) < 0 && errno == EINTR) {
    }
    return got == 1 ? report : 0;
  }
  void go() { (void)!::write(fGo[1], "g", 1); }
  void kill(int signal) { ::kill(fPid, signal); }
  // The exit code, or 128 + the signal that ended the child.
  int reap() {
    int status = 0;
    while (::waitpid(fPid, &status, 0) < 0 && errno == EINTR) {
    }
    fPid = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }
  int finish() {
    go();
    return reap();
  }

private:
  pid_t fPid = -1;
  int fReady[2] = {-1, -1};
  int fGo[2] = {-1, -1};
};

class SharingTest : public ::testing::Test {
protected:
  void SetUp() override { writeWholeFile(fFile, "kept bytes"); }

  ITempDir fDir;
  std::string fFile = fDir.path("shared");
};

// --- the table of conflicts -----------------------------------------------------

struct IOpening {
  const char* fName;
  int fMode;
  int fShare;
};

constexpr IOpening kOpenings[] = {
    {"inShareNone", ios::in, 0},           {"inShareIn", ios::in, ios::in},
    {"inShareOut", ios::in, ios::out},     {"inShareBoth", ios::in, ios::in | ios::out},
    {"outShareNone", ios::out, 0},         {"outShareIn", ios::out, ios::in},
    {"outShareOut", ios::out, ios::out},   {"outShareBoth", ios::out, ios::in | ios::out},
    {"inOutShareNone", ios::in | ios::out, 0},
    {"inOutShareIn", ios::in | ios::out, ios::in},
    {"inOutShareOut", ios::in | ios::out, ios::out},
    {"inOutShareBoth", ios::in | ios::out, ios::in | ios::out},
};
constexpr int kOpeningCount = sizeof kOpenings / sizeof kOpenings[0];

// Row: the stream already open; column: the second open, in the order of
// kOpenings; '+' where the second opens. It opens when each of the two grants
// what the other does.
constexpr const char* kSecondOpens[kOpeningCount] = {
    // second: in, out, in|out, each sharing none, in, out, both
    // NIOBNIOBNIOB
    "------------", // in, share none
    "-+-+--------", // in, share in
    "-----+-+----", // in, share out
    "-+-+-+-+-+-+", // in, share both
    "------------", // out, share none
    "--++--------", // out, share in
    "------++----", // out, share out
    "--++--++--++", // out, share both
    "------------", // in|out, share none
    "---+--------", // in|out, share in
    "-------+----", // in|out, share out
    "---+---+---+", // in|out, share both
};

// Whether the first open is held by this process or by another one.
enum EHolder { kThisProcess, kOtherProcess };

class SharingTableTest : public SharingTest, public ::testing::WithParamInterface<std::tuple<int, EHolder>> {};

TEST_P(SharingTableTest, SecondOpenSucceedsOnlyWhereBothGrantWhatTheOtherDoes) {
  const auto [row, holder] = GetParam();
  const IOpening& first = kOpenings[row];

  std::unique_ptr<IFileIOStream> held;
  std::unique_ptr<IChild> child;
  if (holder == kThisProcess) {
    held = std::make_unique<IFileIOStream>(fFile, first.fMode, first.fShare);
  } else {
    child = std::make_unique<IChild>([&](IChild& self) {
      IFileIOStream stream(fFile, first.fMode, first.fShare);
      self.ready();
      self.waitForGo();
      return 0;
    });
    ASSERT_EQ(child->waitReady(), 'r') << "the child could not open the file";
  }

  for (int column = 0; column < kOpeningCount; ++column) {
    const IOpening& second = kOpenings[column];
    SCOPED_TRACE(std::string(first.fName) + " then " + second.fName);
    EXPECT_EQ(tryOpen(fFile, second.fMode, second.fShare), kSecondOpens[row][column] == '+' ? kOpens : kRefused);
  }
  if (child) {
    EXPECT_EQ(child->finish(), 0);
  }
  EXPECT_EQ(readWholeFile(fFile), "kept bytes");
}

INSTANTIATE_TEST_SUITE_P(Table, SharingTableTest,
                         ::testing::Combine(::testing::Range(0, kOpeningCount),
                                            ::testing::Values(kThisProcess, kOtherProcess)),
                         [](const auto& info) {
                           return std::string(kOpenings[std::get<0>(info.param)].fName) +
                                  (std::get<1>(info.param) == kThisProcess ? "_thisProcess" : "_otherProcess");
                         });

// The modes that write without `out`, and `ate`, count as what they do.
TEST_F(SharingTest, AppTruncAndAteCountAsTheAccessTheyGive) {
  {
    IFileIOStream reader(fFile, ios::in | ios::ate, ios::in); // reads, denies writing
    EXPECT_EQ(tryOpen(fFile, ios::app, ios::in | ios::out), kRefused);
    EXPECT_EQ(tryOpen(fFile, ios::out | ios::trunc, ios::in | ios::out), kRefused);
    EXPECT_EQ(tryOpen(fFile, ios::in | ios::trunc, ios::in | ios::out), kRefused);
    EXPECT_EQ(tryOpen(fFile, ios::out | ios::trunc, ios::in | ios::out, kByFile), kRefused);
    EXPECT_EQ(tryOpen(fFile, ios::app, ios::in | ios::out, kByFile), kRefused);
    EXPECT_EQ(tryOpen(fFile, ios::in | ios::nocreate | ios::bin, ios::in | ios::out), kOpens);
    EXPECT_EQ(readWholeFile(fFile), "kept bytes") << "a refused trunc cut the file";
  }
  {
    IFileIOStream appender(fFile, ios::app, ios::out); // writes, denies reading
    EXPECT_EQ(tryOpen(fFile, ios::in, ios::in | ios::out), kRefused);
    EXPECT_EQ(tryOpen(fFile, ios::app, ios::out), kOpens);
  }
}

// Sharing bits besides in and out say nothing.
TEST_F(SharingTest, OtherBitsOfTheSharingModeAreIgnored) {
  IFileIOStream first(fFile, ios::in, ios::in | ios::app | ios::trunc | ios::bin);
  EXPECT_EQ(tryOpen(fFile, ios::in, ios::in), kOpens);
  EXPECT_EQ(tryOpen(fFile, ios::out, ios::in | ios::out), kRefused);
}

struct IRefusal {
  IOpening fHolder, fRefused;
  const char* fWords; // why, in the refusal's text
};

void PrintTo(const IRefusal& refusal, std::ostream* out) {
  *out << refusal.fRefused.fName << " beside " << refusal.fHolder.fName;
}

class SharingRefusalTest : public SharingTest, public ::testing::WithParamInterface<IRefusal> {};

TEST_P(SharingRefusalTest, RefusalNamesThePathAndTheConflict) {
  const IRefusal& c = GetParam();
  IFileIOStream holder(fFile, c.fHolder.fMode, c.fHolder.fShare);
  try {
    IFileIOStream second(fFile, c.fRefused.fMode, c.fRefused.fShare);
    ADD_FAILURE() << "the second stream opened";
  } catch (const IAccessError& error) {
    const std::string text = error.what();
    EXPECT_TRUE(isSharingViolation(error, fFile));
    EXPECT_EQ(text.rfind("open of '" + fFile + "' failed: sharing violation: ", 0), 0u) << text;
    EXPECT_NE(text.find(c.fWords), std::string::npos) << text;
    EXPECT_NE(text.find("(errno " + std::to_string(EBUSY) + ")"), std::string::npos) << text;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Conflicts, SharingRefusalTest,
    ::testing::Values(IRefusal{{"readerDenyingReads", ios::in, ios::out},
                               {"reader", ios::in, ios::in | ios::out},
                               "lets no one else read it"},
                      IRefusal{{"writerDenyingWrites", ios::out, ios::in},
                               {"writer", ios::out, ios::in | ios::out},
                               "lets no one else write it"},
                      IRefusal{{"reader", ios::in, ios::in | ios::out},
                               {"writerDenyingReads", ios::out, ios::out},
                               "open elsewhere for reading, which this open's sharing mode denies"},
                      IRefusal{{"writer", ios::out, ios::in | ios::out},
                               {"readerDenyingWrites", ios::in, ios::in},
                               "open elsewhere for writing, which this open's sharing mode denies"}),
    [](const auto& info) { return std::string(info.param.fRefused.fName) + "Beside" + info.param.fHolder.fName; });

// Many streams that write alone, each on a marker byte of its own, next to
// readers that share one.
TEST_F(SharingTest, ManyWritersAndReadersShareUntilTheLastCloses) {
  std::vector<std::unique_ptr<IFileIOStream>> writers, readers;
  for (int i = 0; i < 5; ++i) {
    writers.push_back(std::make_unique<IFileIOStream>(fFile, ios::out, ios::in | ios::out));
    readers.push_back(std::make_unique<IFileIOStream>(fFile, ios::in, ios::in | ios::out));
  }
  while (!writers.empty() || !readers.empty()) {
    SCOPED_TRACE(std::to_string(writers.size()) + " writers and " + std::to_string(readers.size()) + " readers");
    EXPECT_EQ(tryOpen(fFile, ios::in, ios::in), writers.empty() ? kOpens : kRefused);
    EXPECT_EQ(tryOpen(fFile, ios::out, ios::out), readers.empty() ? kOpens : kRefused);
    EXPECT_EQ(tryOpen(fFile, ios::in | ios::out, 0), kRefused);
    auto& fewer = writers.size() >= readers.size() ? writers : readers;
    fewer.erase(fewer.begin() + static_cast<std::ptrdiff_t>(fewer.size() / 2));
  }
  EXPECT_EQ(tryOpen(fFile, ios::in | ios::out, 0), kOpens);
}

// The replacement is cut by the first stream on the file object, once that
// stream's own claim holds.
TEST_F(SharingTest, IFileReplaceIsAWriteAndKeepsTheBytesWhenRefused) {
  const IFile replaced(fFile, IFileSystemEntity::kReplaceExisting);
  {
    IFileIOStream reader(fFile, ios::in, ios::in);
    try {
      IFileIOStream writer(replaced, ios::out, ios::in | ios::out);
      ADD_FAILURE() << "the file was replaced while a stream denied writing";
    } catch (const IAccessError& error) {
      EXPECT_TRUE(isSharingViolation(error, fFile));
    }
    EXPECT_EQ(readWholeFile(fFile), "kept bytes");
  }
  IFileIOStream sharing(fFile, ios::in, ios::in | ios::out);
  IFileIOStream writer(replaced, ios::out, ios::in | ios::out);
  EXPECT_EQ(readWholeFile(fFile), "");
}

// Beside a stream of this process or of another; an open for writing takes
// its markers before it knows what it opened, so the other process's open
// meets them.
TEST(SharingDeviceTest, DevicesKeepNoRules) {
  ITempDir dir;
  const std::string fifo = dir.path("fifo");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  for (const std::string& path : {std::string("/dev/null"), fifo}) {
    for (const bool elsewhere : {false, true}) {
      SCOPED_TRACE(path + (elsewhere ? ", held by another process" : ", held here"));
      std::unique_ptr<IFileIOStream> first;
      std::unique_ptr<IChild> holder;
      if (elsewhere) {
        holder = std::make_unique<IChild>([&](IChild& self) {
          IFileIOStream stream(path, ios::in | ios::out, 0);
          self.ready();
          self.waitForGo();
          return 0;
        });
        ASSERT_EQ(holder->waitReady(), 'r');
      } else {
        first = std::make_unique<IFileIOStream>(path, ios::in | ios::out, 0);
      }
      for (const int mode : {int(ios::in | ios::out), int(ios::out)}) {
        IFileIOStream second(path, mode, 0);
        second << "gone" << flush;
        EXPECT_TRUE(second.good());
      }
      if (holder) {
        EXPECT_EQ(holder->finish(), 0);
      }
    }
  }
}

// --- release ----------------------------------------------------------------------

TEST_F(SharingTest, RulesEndWithCloseAndWithTheStream) {
  IFileIOStream stream(fFile, ios::in | ios::out, 0);
  EXPECT_EQ(tryOpen(fFile, ios::in, ios::in | ios::out), kRefused);
  stream.close();
  EXPECT_EQ(tryOpen(fFile, ios::in | ios::out, 0), kOpens);
  stream.open(IFile(fFile), ios::in, ios::in);
  EXPECT_EQ(tryOpen(fFile, ios::in, ios::in | ios::out), kOpens);
  EXPECT_EQ(tryOpen(fFile, ios::out, ios::in | ios::out), kRefused);
  {
    IFileIOStream scoped(fDir.path("other"), ios::out, 0);
    EXPECT_EQ(tryOpen(fDir.path("other"), ios::in, ios::in | ios::out), kRefused);
  }
  EXPECT_EQ(tryOpen(fDir.path("other"), ios::in | ios::out, 0), kOpens);
}

enum EEnding { kExits, kExitsWithoutClosing, kIsKilled };
constexpr const char* kEndingNames[] = {"exits", "exitsWithoutClosing", "isKilled"};

class SharingReleaseTest : public SharingTest, public ::testing::WithParamInterface<EEnding> {};

TEST_P(SharingReleaseTest, RulesEndWithTheOwningProcess) {
  const EEnding ending = GetParam();
  IChild child([&](IChild& self) {
    IFileIOStream stream(fFile, ios::in | ios::out, 0);
    self.ready();
    self.waitForGo(); // a kill ends the child here
    if (ending == kExitsWithoutClosing)
      ::_exit(7); // no destructor runs
    return 7;
  });
  ASSERT_EQ(child.waitReady(), 'r');
  EXPECT_EQ(tryOpen(fFile, ios::in, ios::in | ios::out), kRefused);
  if (ending == kIsKilled) {
    child.kill(SIGKILL);
    EXPECT_EQ(child.reap(), 128 + SIGKILL);
  } else {
    EXPECT_EQ(child.finish(), 7);
  }
  EXPECT_EQ(tryOpen(fFile, ios::in | ios::out, 0), kOpens);
  EXPECT_FALSE(isLocked(fFile));
}

INSTANTIATE_TEST_SUITE_P(Endings, SharingReleaseTest, ::testing::Values(kExits, kExitsWithoutClosing, kIsKilled),
                         [](const auto& info) { return std::string(kEndingNames[info.param]); });

// A child made by fork shares the stream's open file description, and so its
// locks; the rules stay the opening process's.
TEST_F(SharingTest, ForkedCopyNeitherLiftsNorKeepsTheParentsRules) {
  IFileIOStream stream(fFile, ios::in | ios::out, 0);
  {
    IChild closer([&](IChild& self) {
      stream.close();
      self.ready();
      self.waitForGo();
      return 0;
    });
    ASSERT_EQ(closer.waitReady(), 'r');
    EXPECT_EQ(tryOpen(fFile, ios::in, ios::in | ios::out), kRefused) << "the child's close lifted the rules";
    EXPECT_EQ(closer.finish(), 0);
  }
  IChild keeper([&](IChild& self) {
    self.ready();
    self.waitForGo();
    return 0;
  });
  ASSERT_EQ(keeper.waitReady(), 'r');
  stream.close();
  EXPECT_EQ(tryOpen(fFile, ios::in | ios::out, 0), kOpens) << "the child's copy kept the rules";
  EXPECT_EQ(keeper.finish(), 0);
}

// Streams of one kind in one process share one lock on the file; when the
// stream that holds it closes, one that stays open takes it over, and another
// process stays out until the last of them closes.
struct IHandOver {
  const char* fName;
  IOpening fKind, fClashing;
};

void PrintTo(const IHandOver& c, std::ostream* out) { *out << c.fName; }

class SharingHandOverTest : public SharingTest, public ::testing::WithParamInterface<IHandOver> {};

TEST_P(SharingHandOverTest, TheLockPassesToTheStreamsThatStayOpen) {
  const IHandOver& c = GetParam();
  const auto openedByAnotherProcess = [&] {
    IChild child([&](IChild&) { return tryOpen(fFile, c.fClashing.fMode, c.fClashing.fShare) == kOpens ? 1 : 2; });
    return child.reap() == 1;
  };
  std::vector<std::unique_ptr<IFileIOStream>> streams;
  for (int i = 0; i < 3; ++i)
    streams.push_back(std::make_unique<IFileIOStream>(fFile, c.fKind.fMode, c.fKind.fShare));
  for (const std::size_t closing : {0u, 2u, 1u}) { // the first opened holds the lock
    SCOPED_TRACE("closing stream " + std::to_string(closing));
    EXPECT_FALSE(openedByAnotherProcess());
    EXPECT_EQ(tryOpen(fFile, c.fClashing.fMode, c.fClashing.fShare), kRefused);
    streams[closing]->close();
  }
  EXPECT_FALSE(isLocked(fFile));
  EXPECT_TRUE(openedByAnotherProcess());
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, SharingHandOverTest,
    ::testing::Values(IHandOver{"readersDenyingWrites", {"", ios::in, ios::in}, {"", ios::out, ios::in | ios::out}},
                      IHandOver{"writersDenyingReads", {"", ios::out, ios::out}, {"", ios::in, ios::in | ios::out}},
                      IHandOver{"writersSharingAll", {"", ios::out, ios::in | ios::out}, {"", ios::in, ios::in}}),
    [](const auto& info) { return std::string(info.param.fName); });

// The same file under another name is the same file.
TEST_F(SharingTest, AHardLinkIsTheSameFile) {
  const std::string link = fDir.path("link");
  ASSERT_EQ(::link(fFile.c_str(), link.c_str()), 0);
  // A reader's open looks the file up at once; a writer's only when the next claim comes.
  for (const int mode : {int(ios::in), int(ios::in | ios::out)}) {
    IFileIOStream holder(fFile, mode, ios::in);
    EXPECT_EQ(tryOpen(link, ios::out, ios::in | ios::out), kRefused) << mode;
    EXPECT_EQ(tryOpen(link, ios::in, ios::in | ios::out), kOpens) << mode;
  }
}

// A claim whose file cannot be looked up when the next claim comes keeps its
// rules by its marker alone, and the next open is not refused for it.
TEST_F(SharingTest, AClaimThatCannotBeLookedUpKeepsItsRules) {
  static int unreadable = -1;
  IFSFileBuf first(IFile(fFile), ios::in | ios::out, 0);
  unreadable = first.descriptor();
  const std::string other = fDir.path("other");
  writeWholeFile(other, "x");
  IHostCalls& calls = IHostCalls::current();
  const auto saved = calls.fstat;
  calls.fstat = [](int fd, struct stat* status) {
    errno = EIO;
    return fd == unreadable ? -1 : ::fstat(fd, status);
  };
  EXPECT_EQ(tryOpen(other, ios::out, 0), kOpens);
  EXPECT_EQ(tryOpen(fFile, ios::in, ios::in | ios::out), kRefused);
  calls.fstat = saved;
}

// A child's own streams keep their rules of their own, whatever its parent
// opened before the fork and closes after it.
TEST_F(SharingTest, AChildsOwnStreamsOutliveTheParentsStreamOfTheirKind) {
  auto stream = std::make_unique<IFileIOStream>(fFile, ios::in, ios::in);
  IChild child([&](IChild& self) {
    IFileIOStream own(fFile, ios::in, ios::in);
    self.ready();
    self.waitForGo();
    return 0;
  });
  ASSERT_EQ(child.waitReady(), 'r');
  stream.reset();
  EXPECT_EQ(tryOpen(fFile, ios::out, ios::in | ios::out), kRefused) << "the child's stream lost its rules";
  EXPECT_EQ(child.finish(), 0);
  EXPECT_EQ(tryOpen(fFile, ios::out, ios::in | ios::out), kOpens);
}

// An open makes as many lock calls beside twenty holders in other processes as
// beside one, and one beside streams of its own kind in its own process.
int gLockCalls = 0;
int countedLock(int fd, int command, struct flock* lock) {
  ++gLockCalls;
  return ::fcntl(fd, command, lock);
}

TEST_F(SharingTest, LockCallsOfAnOpenDoNotGrowWithTheHolders) {
  for (const int access : {int(IAccess::kWrite), int(IAccess::kRead)}) {
    SCOPED_TRACE(access == IAccess::kWrite ? "writer" : "reader");
    const int flags = (access == IAccess::kWrite ? O_WRONLY : O_RDONLY) | O_CLOEXEC;
    const int mode = access == IAccess::kWrite ? int(ios::out) : int(ios::in);
    std::vector<std::unique_ptr<IChild>> holders;
    for (const std::size_t count : {1u, 20u}) {
      while (holders.size() < count) {
        holders.push_back(std::make_unique<IChild>([&](IChild& self) {
          IFileIOStream stream(fFile, mode, ios::in | ios::out);
          self.ready();
          self.waitForGo();
          return 0;
        }));
        ASSERT_EQ(holders.back()->waitReady(), 'r');
      }
      const int fd = ::open(fFile.c_str(), flags);
      ASSERT_GE(fd, 0);
      gLockCalls = 0;
      IHostSharing claim;
      claimWith(claim, fd, fFile, access, IAccess::kReadWrite, &countedLock);
      EXPECT_EQ(gLockCalls, 2) << count << " holders"; // announce, look
      // The first claim was made without its file; a joiner that knows its own
      // has it looked up, and joins it all the same.
      for (const bool named : {false, true}) {
        const int joining = ::open(fFile.c_str(), flags);
        ASSERT_GE(joining, 0);
        struct stat status;
        ASSERT_EQ(::fstat(joining, &status), 0);
        gLockCalls = 0;
        claimOnce(joining, fFile, access, IAccess::kReadWrite, &countedLock, named ? &status : nullptr);
        EXPECT_EQ(gLockCalls, 1) << count << " holders, named " << named; // the look for foreign locks
        ::close(joining);
      }
      claim.release(fFile);
      ::close(fd);
    }
    for (auto& holder : holders)
      EXPECT_EQ(holder->finish(), 0);
  }
  // A stream that writes and denies everything takes one lock over all kinds.
  const int fd = ::open(fFile.c_str(), O_RDWR | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  gLockCalls = 0;
  claimOnce(fd, fFile, IAccess::kReadWrite, IAccess::kNone, &countedLock);
  EXPECT_EQ(gLockCalls, 1);
  ::close(fd);
}

// --- racing opens -------------------------------------------------------------------

struct IRace {
  const char* fName;
  IOpening fEven, fOdd; // what the even and the odd contenders ask for
  bool fOneWinner;      // exactly one may win; else every winner is of one kind
};

void PrintTo(const IRace& race, std::ostream* out) { *out << race.fName; }

class SharingRaceTest : public SharingTest, public ::testing::WithParamInterface<IRace> {};

TEST_P(SharingRaceTest, ConflictingOpensAtOnceNeverBothSucceed) {
  const IRace& race = GetParam();
  constexpr int kContenders = 8;
  constexpr int kRounds = 4;
  for (int round = 0; round < kRounds; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    const std::string path = fDir.path("race" + std::to_string(round));
    writeWholeFile(path, "");
    int start[2];
    ASSERT_EQ(::pipe2(start, O_CLOEXEC), 0);
    std::vector<std::unique_ptr<IChild>> contenders;
    for (int i = 0; i < kContenders; ++i) {
      const IOpening& opening = i % 2 ? race.fOdd : race.fEven;
      contenders.push_back(std::make_unique<IChild>([&, startRead = start[0], startWrite = start[1]](IChild& self) {
        ::close(startWrite);
        char c;
        while (::read(startRead, &c, 1) < 0 && errno == EINTR) {
        } // all leave at once when the parent closes its end
        std::unique_ptr<IFileIOStream> stream;
        try {
          stream = std::make_unique<IFileIOStream>(path, opening.fMode, opening.fShare);
          self.ready('w');
        } catch (const IAccessError& error) {
          self.ready(error.errorId() == EBUSY ? 'l' : 'e');
        }
        self.waitForGo(); // a winner holds the file until every contender has tried
        return 0;
      }));
    }
    ::close(start[0]);
    ::close(start[1]);

    int evenWins = 0, oddWins = 0;
    for (int i = 0; i < kContenders; ++i) {
      const char report = contenders[i]->waitReady();
      EXPECT_TRUE(report == 'w' || report == 'l') << "contender " << i << " reported " << int(report);
      if (report == 'w')
        ++(i % 2 ? oddWins : evenWins);
    }
    for (auto& contender : contenders)
      EXPECT_EQ(contender->finish(), 0);
    if (race.fOneWinner)
      EXPECT_EQ(evenWins + oddWins, 1);
    else
      EXPECT_TRUE((evenWins > 0) != (oddWins > 0)) << evenWins << " even and " << oddWins << " odd won";
  }
}

INSTANTIATE_TEST_SUITE_P(
    Races, SharingRaceTest,
    ::testing::Values(IRace{"exclusive", {"", ios::in | ios::out, 0}, {"", ios::in | ios::out, 0}, true},
                      IRace{"exclusiveWriters", {"", ios::out, ios::in}, {"", ios::out, ios::in}, true},
                      IRace{"readersAgainstWriters", {"", ios::in, ios::in}, {"", ios::out, ios::in | ios::out},
                            false}),
    [](const auto& info) { return std::string(info.param.fName); });

TEST_F(SharingTest, ThreadsOpeningExclusivelyAtOnceHaveOneWinner) {
  constexpr int kThreads = 8;
  for (int round = 0; round < 4; ++round) {
    std::vector<std::unique_ptr<IFileIOStream>> won(kThreads);
    std::vector<int> outcome(kThreads, -1);
    std::vector<std::thread> threads;
    for (int i = 0; i < kThreads; ++i)
      threads.emplace_back([&, i] {
        try {
          won[i] = std::make_unique<IFileIOStream>(fFile, ios::in | ios::out, 0);
          outcome[i] = kOpens;
        } catch (const IAccessError& error) {
          outcome[i] = isSharingViolation(error, fFile) ? kRefused : -1;
        }
      });
    for (auto& thread : threads)
      thread.join();
    EXPECT_EQ(std::count(outcome.begin(), outcome.end(), int(kOpens)), 1) << "round " << round;
    EXPECT_EQ(std::count(outcome.begin(), outcome.end(), int(kRefused)), kThreads - 1) << "round " << round;
  }
}

// A rival claim made at each lock call of a claim in turn: the first call,
// the second, ... until the claim makes fewer calls than that. The rival is
// another process, as claims of one process are settled in memory with no
// lock call between them. The claim goes on once the rival has finished or
// has seen a lock of the claim (then it backs off and tries again later);
// both hold what they won until both are done.
class IInterleaving {
public:
  static int claimLock(int fd, int command, struct flock* lock) {
    if (++fActive->fCalls == fActive->fStopAt)
      fActive->startRival();
    return ::fcntl(fd, command, lock);
  }
  static int rivalLock(int fd, int command, struct flock* lock) {
    const int result = ::fcntl(fd, command, lock);
    if (command == F_OFD_GETLK && result == 0 && lock->l_type != F_UNLCK && !fActive->fToldWaiting) {
      fActive->fToldWaiting = true;
      fActive->fRivalSelf->ready('s');
    }
    return result;
  }

  IInterleaving(const std::string& path, const IOpening& claim, const IOpening& rival, int stopAt)
      : fPath(path), fClaim(claim), fRivalOpening(rival), fStopAt(stopAt) {
    fActive = this;
  }
  ~IInterleaving() { fActive = nullptr; }

  // Runs both; whether each got its claim.
  std::pair<bool, bool> run() {
    const int fd = openFor(fClaim);
    bool won, rivalWon = false;
    {
      IHostSharing held;
      won = claims(fd, fClaim, &claimLock, held);
      if (fRival) {
        const char report = fFirstReport == 's' ? fRival->waitReady() : fFirstReport;
        EXPECT_TRUE(report == 'w' || report == 'l') << "the rival reported " << int(report);
        rivalWon = report == 'w';
        EXPECT_EQ(fRival->finish(), 0);
      }
    }
    ::close(fd);
    return {won, rivalWon};
  }
  int calls() const { return fCalls; }

private:
  // A descriptor with just the access the opening asks for: one that writes
  // alone cannot hold read locks.
  int openFor(const IOpening& opening) const {
    const int access = opening.fMode == IAccess::kRead ? O_RDONLY
                       : opening.fMode == IAccess::kWrite ? O_WRONLY
                                                                : O_RDWR;
    return ::open(fPath.c_str(), access | O_CLOEXEC);
  }
  bool claims(int fd, const IOpening& opening, ILockCall call, IHostSharing& held) {
    try {
      claimWith(held, fd, fPath, opening.fMode, opening.fShare, call);
      return true;
    } catch (const IAccessError& error) {
      EXPECT_TRUE(isSharingViolation(error, fPath));
      return false;
    }
  }
  void startRival() {
    fRival = std::make_unique<IChild>([this](IChild& self) {
      fRivalSelf = &self;
      IHostSharing held;
      const bool won = claims(openFor(fRivalOpening), fRivalOpening, &rivalLock, held);
      self.ready(won ? 'w' : 'l');
      self.waitForGo();
      return 0;
    });
    fFirstReport = fRival->waitReady();
  }

  static inline IInterleaving* fActive = nullptr;

  std::string fPath;
  IOpening fClaim, fRivalOpening;
  int fStopAt;
  int fCalls = 0;
  std::unique_ptr<IChild> fRival;
  char fFirstReport = 0;
  IChild* fRivalSelf = nullptr; // in the rival
  bool fToldWaiting = false;    // in the rival
};

struct IPair {
  const char* fName;
  IOpening fFirst, fSecond;
  bool fConflict;
};

void PrintTo(const IPair& pair, std::ostream* out) { *out << pair.fName; }

class SharingInterleavingTest : public SharingTest, public ::testing::WithParamInterface<IPair> {};

TEST_P(SharingInterleavingTest, RivalAtEveryLockCallNeverWinsBesideAConflict) {
  const IPair& pair = GetParam();
  for (int stopAt = 1;; ++stopAt) {
    SCOPED_TRACE("rival at lock call " + std::to_string(stopAt));
    IInterleaving interleaving(fFile, pair.fFirst, pair.fSecond, stopAt);
    const auto [first, second] = interleaving.run();
    if (interleaving.calls() < stopAt)
      break; // the rival never ran
    if (pair.fConflict)
      EXPECT_EQ(int(first) + int(second), 1) << "first " << first << ", second " << second;
    else
      EXPECT_TRUE(first && second) << "first " << first << ", second " << second;
    EXPECT_FALSE(isLocked(fFile));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Pairs, SharingInterleavingTest,
    ::testing::Values(IPair{"exclusive", {"", IAccess::kReadWrite, 0}, {"", IAccess::kReadWrite, 0}, true},
                      IPair{"readerDenyingWritesAndWriter",
                            {"", IAccess::kRead, IAccess::kRead},
                            {"", IAccess::kWrite, IAccess::kReadWrite},
                            true},
                      IPair{"writerAndReaderDenyingWrites",
                            {"", IAccess::kWrite, IAccess::kReadWrite},
                            {"", IAccess::kRead, IAccess::kRead},
                            true},
                      IPair{"twoReadersDenyingWrites",
                            {"", IAccess::kRead, IAccess::kRead},
                            {"", IAccess::kRead, IAccess::kRead},
                            false}),
    [](const auto& info) { return std::string(info.param.fName); });

// --- what a refused open leaves ---------------------------------------------------------

TEST_F(SharingTest, RefusedOpenLeavesNoDescriptorNoLockAndTheBytes) {
  IFileIOStream holder(fFile, ios::in, 0);
  const int descriptors = openDescriptorCount();
  ASSERT_TRUE(isLocked(fFile));

  const IOpening refused[] = {{"in", ios::in, ios::in | ios::out},
                              {"out", ios::out, ios::in | ios::out},
                              {"outTrunc", ios::out | ios::trunc, ios::in | ios::out},
                              {"app", ios::app, 0},
                              {"inOutAte", ios::in | ios::out | ios::ate, ios::in}};
  for (const IOpening& opening : refused) {
    SCOPED_TRACE(opening.fName);
    EXPECT_EQ(tryOpen(fFile, opening.fMode, opening.fShare), kRefused);
    EXPECT_EQ(openDescriptorCount(), descriptors);
    EXPECT_EQ(readWholeFile(fFile), "kept bytes");
  }
  holder.close();
  EXPECT_FALSE(isLocked(fFile)) << "a refused open left a lock";
  EXPECT_EQ(tryOpen(fFile, ios::in | ios::out, 0), kOpens);
}

// A program that locks its file to the end (length 0) covers the markers too.
// The lock is held in a child: closing any descriptor of the file, as a
// refused open does, would drop a record lock of this process.
TEST_F(SharingTest, RecordLockOverTheWholeFileRefusesOpens) {
  IChild locker([&](IChild& self) {
    const int fd = ::open(fFile.c_str(), O_RDONLY | O_CLOEXEC);
    struct flock lock {};
    lock.l_type = F_RDLCK;
    lock.l_whence = SEEK_SET; // l_start 0, l_len 0: the whole file, however long
    if (fd < 0 || ::fcntl(fd, F_SETLK, &lock) != 0)
      return 1;
    self.ready();
    self.waitForGo();
    return 0;
  });
  ASSERT_EQ(locker.waitReady(), 'r');
  for (int mode : {int(ios::in), int(ios::out), int(ios::in | ios::out)}) {
    try {
      IFileIOStream stream(fFile, mode, ios::in | ios::out);
      ADD_FAILURE() << "mode " << mode << " opened";
    } catch (const IAccessError& error) {
      EXPECT_TRUE(isSharingViolation(error, fFile));
      EXPECT_NE(std::string(error.what()).find("record lock"), std::string::npos) << error.what();
    }
  }
  EXPECT_EQ(locker.finish(), 0);
  EXPECT_EQ(tryOpen(fFile, ios::in | ios::out, 0), kOpens);
}

// --- file systems without the locks ------------------------------------------------------

template <int kError>
int noLocks(int, int, struct flock*) {
  errno = kError;
  return -1;
}

struct INoLocks {
  ILockCall fCall;
  int fError;
};

void PrintTo(const INoLocks& c, std::ostream* out) { *out << "errno " << c.fError; }

class SharingWithoutLocksTest : public SharingTest, public ::testing::WithParamInterface<INoLocks> {};

TEST_P(SharingWithoutLocksTest, OnlyASharingModeThatDeniesNothingOpens) {
  const INoLocks& c = GetParam();
  const int fd = ::open(fFile.c_str(), O_RDWR | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  IHostSharing open;
  claimWith(open, fd, fFile, IAccess::kReadWrite, IAccess::kReadWrite, c.fCall);
  EXPECT_FALSE(open.holds());
  open.release(fFile);

  for (int granted : {0, int(IAccess::kRead), int(IAccess::kWrite)}) {
    try {
      claimOnce(fd, fFile, IAccess::kRead, granted, c.fCall);
      ADD_FAILURE() << "sharing mode " << granted << " was taken";
    } catch (const IAccessError& e) {
      const std::string text = e.what();
      EXPECT_EQ(e.errorId(), c.fError) << text;
      EXPECT_EQ(text.rfind("open of '" + fFile + "' failed: ", 0), 0u) << text;
      EXPECT_NE(text.find("keeps no open file description locks"), std::string::npos) << text;
      EXPECT_NE(text.find("ios::in | ios::out"), std::string::npos) << text;
    }
  }
  EXPECT_FALSE(isLocked(fFile));
  ::close(fd);
}

INSTANTIATE_TEST_SUITE_P(Errors, SharingWithoutLocksTest,
                         ::testing::Values(INoLocks{&noLocks<ENOLCK>, ENOLCK}, INoLocks{&noLocks<EINVAL>, EINVAL},
                                           INoLocks{&noLocks<EOPNOTSUPP>, EOPNOTSUPP}));

TEST_F(SharingTest, ClaimRefusesAnAccessOfNeitherReadNorWrite) {
  const int fd = ::open(fFile.c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  EXPECT_THROW(claimOnce(fd, fFile, 0, IAccess::kReadWrite), IInvalidParameter);
  EXPECT_THROW(claimOnce(fd, fFile, 4, IAccess::kReadWrite), IInvalidParameter);
  EXPECT_FALSE(isLocked(fFile));
  ::close(fd);
}


// --- many appenders ---------------------------------------------------------------

// How one program logs its lines: through IFileIOStream or the classic
// ofstream, keeping one stream or opening one per line.
struct IAppender {
  const char* fName;
  void (*fLog)(const std::string& path, const std::string& line);
  bool fOnePerLine;
};

void logThroughFileStream(const std::string& path, const std::string& line) {
  IFileIOStream log(path, ios::out | ios::app, ios::in | ios::out);
  log << line << endl;
}

void logThroughClassicStream(const std::string& path, const std::string& line) {
  ofstream log(path.c_str(), ios::app);
  log << line.c_str() << endl;
}

class ManyAppenders : public ::testing::TestWithParam<IAppender> {};

// Every write of an appending stream lands at the end as it is then, so four
// programs logging whole lines to one file lose none and write none twice.
TEST_P(ManyAppenders, KeepEveryLineOnce) {
  constexpr int kWriters = 4, kLines = 3000;
  ITempDir dir;
  const std::string path = dir.path("log");
  const IAppender appender = GetParam();
  std::vector<std::unique_ptr<IChild>> writers;
  for (int w = 0; w < kWriters; ++w)
    writers.push_back(std::make_unique<IChild>([&, w](IChild& self) {
      self.waitForGo();
      const auto line = [w](int i) { return "writer " + std::to_string(w) + " line " + std::to_string(i); };
      if (appender.fOnePerLine) {
        for (int i = 0; i < kLines; ++i)
          appender.fLog(path, line(i));
      } else if (appender.fLog == logThroughFileStream) {
        IFileIOStream log(path, ios::out | ios::app, ios::in | ios::out);
        for (int i = 0; i < kLines; ++i)
          log << line(i) << endl;
      } else {
        ofstream log(path.c_str(), ios::app);
        for (int i = 0; i < kLines; ++i)
          log << line(i).c_str() << endl;
      }
      return 0;
    }));
  for (auto& writer : writers)
    writer->go();
  for (auto& writer : writers)
    ASSERT_EQ(writer->reap(), 0);

  std::vector<int> next(kWriters, 0); // each writer's lines arrive in its own order
  int kept = 0;
  const std::string text = readWholeFile(path);
  for (std::size_t at = 0, end; at < text.size(); at = end + 1) {
    end = text.find('\n', at);
    ASSERT_NE(end, std::string::npos) << "a line without its end";
    int w = -1, i = -1;
    ASSERT_EQ(std::sscanf(text.substr(at, end - at).c_str(), "writer %d line %d", &w, &i), 2)
        << "a torn line: " << text.substr(at, end - at);
    ASSERT_TRUE(w >= 0 && w < kWriters && i == next[w]) << text.substr(at, end - at);
    ++next[w];
    ++kept;
  }
  EXPECT_EQ(kept, kWriters * kLines);
}

INSTANTIATE_TEST_SUITE_P(Streams, ManyAppenders,
                         ::testing::Values(IAppender{"fileStream", logThroughFileStream, false},
                                           IAppender{"fileStreamPerLine", logThroughFileStream, true},
                                           IAppender{"classic", logThroughClassicStream, false},
                                           IAppender{"classicPerLine", logThroughClassicStream, true}),
                         [](const auto& info) { return std::string(info.param.fName); });

} // namespace
