// Real failures of the operating system on real files: a full device, files
// that may not be written, a write that fails with EIO, a file that reaches
// its size limit part-way through a write, a close that fails, a stream that
// cannot seek, and a process out of descriptors. Each failure reaches the
// caller as an IAccessError with the system's error; the stream keeps what it
// accepted, writes it once when a retry succeeds, and leaks nothing.
#include "errorof.hpp"
#include "iexcept.hpp"
#include "ifilestr.hpp"
#include "posix.hpp"
#include "tempdir.hpp"

#include <gtest/gtest.h>

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <dirent.h>
#include <exception>
#include <fcntl.h>
#include <memory>
#include <optional>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace kelhost; // the host layer, private to the library, reached through its static archive

namespace {

std::string messageOf(auto&& attempt) {
  try {
    attempt();
  } catch (const std::exception& error) {
    return error.what();
  }
  return {};
}

std::string text(std::size_t size) {
  std::string s(size, '\0');
  for (std::size_t i = 0; i < size; ++i)
    s[i] = static_cast<char>('a' + (i * 5 + i / 26) % 26);
  return s;
}

// Sets a soft resource limit for its lifetime.
class IResourceLimit {
public:
  IResourceLimit(int resource, rlim_t soft) : fResource(resource) {
    if (::getrlimit(resource, &fSaved) != 0)
      throw std::runtime_error("getrlimit failed");
    rlimit lowered = fSaved;
    lowered.rlim_cur = soft;
    if (::setrlimit(resource, &lowered) != 0)
      throw std::runtime_error("setrlimit failed");
  }
  ~IResourceLimit() { ::setrlimit(fResource, &fSaved); }
  IResourceLimit(const IResourceLimit&) = delete;
  IResourceLimit& operator=(const IResourceLimit&) = delete;

private:
  int fResource;
  rlimit fSaved;
};

// Ignores a signal for its lifetime.
class IIgnoredSignal {
public:
  explicit IIgnoredSignal(int signal) : fSignal(signal) {
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    ::sigaction(signal, &ignore, &fSaved);
  }
  ~IIgnoredSignal() { ::sigaction(fSignal, &fSaved, nullptr); }
  IIgnoredSignal(const IIgnoredSignal&) = delete;
  IIgnoredSignal& operator=(const IIgnoredSignal&) = delete;

private:
  int fSignal;
  struct sigaction fSaved {};
};

// The descriptor this process has open on `path`, or -1.
int descriptorOn(const std::string& path) {
  DIR* folder = ::opendir("/proc/self/fd");
  int found = -1;
  while (const dirent* entry = folder ? ::readdir(folder) : nullptr) {
    char target[PATH_MAX] = {};
    std::string link = std::string("/proc/self/fd/") + entry->d_name;
    ssize_t n = ::readlink(link.c_str(), target, sizeof target - 1);
    if (n > 0 && path == target)
      found = std::atoi(entry->d_name);
  }
  if (folder)
    ::closedir(folder);
  return found;
}

// The number that the next descriptor would get.
int nextDescriptor() {
  int fd = ::dup(0);
  ::close(fd);
  return fd;
}

// --- a full device -------------------------------------------------------------

TEST(FullDevice, FlushFailsWithEnospcAndKeepsTheOutput) {
  const int before = openDescriptorCount();
  {
    IFileIOStream full("/dev/full", ios::out, 0);
    full << "kept for a retry";
    std::string message = messageOf([&] { full.flush(); });
    EXPECT_NE(message.find("/dev/full"), std::string::npos) << message;
    EXPECT_NE(message.find("write"), std::string::npos) << message;
    EXPECT_TRUE(full.good()) << "the failure passes through the stream unchanged";
    EXPECT_EQ(errorOf([&] { full.flush(); }), ENOSPC) << "the output is still waiting";
    EXPECT_EQ(errorOf([&] { full.close(); }), ENOSPC);
  }
  EXPECT_EQ(openDescriptorCount(), before);
}

TEST(FullDevice, AFullPutAreaFailsWhileWriting) {
  IFileIOStream full("/dev/full", ios::out, 0);
  const std::string block = text(10000);
  EXPECT_EQ(errorOf([&] { full.write(block.data(), static_cast<int>(block.size())); }), ENOSPC);
  EXPECT_EQ(errorOf([&] { full.put('x'); }), ENOSPC) << "the full put area is still there";
}

TEST(FullDevice, DestructorDropsTheFailureAndLeaksNothing) {
  const int before = openDescriptorCount();
  for (int i = 0; i < 50; ++i) {
    EXPECT_NO_THROW({
      IFileIOStream full("/dev/full", ios::in | ios::out, 0);
      full << "never written " << i;
    });
  }
  EXPECT_EQ(openDescriptorCount(), before);
}

// --- files that may not be written, or not this way ------------------------------

TEST(Refused, ReopeningOnAFileThatMayNotBeWrittenLeavesTheStreamUsable) {
  ITempDir dir;
  const int before = openDescriptorCount();
  IFileIOStream s(dir.path("first"), ios::out, 0);
  s.close();
  IFile ostype(IText("/proc/sys/kernel/ostype"));
  for (int mode : {ios::out | 0, ios::in | ios::out, ios::app | 0, ios::out | ios::trunc})
    EXPECT_EQ(errorOf([&] { s.open(ostype, mode, 0); }), EACCES) << "mode " << mode;
  EXPECT_FALSE(s.file().isValid()) << "a failed open leaves the stream closed";
  s.open(IFile(IText(dir.path("first"))), ios::out, 0);
  s << "still usable";
  s.close();
  EXPECT_EQ(readWholeFile(dir.path("first")), "still usable");
  EXPECT_EQ(openDescriptorCount(), before);
}

TEST(Refused, AWriteThatFailsWithEioAfterReading) {
  const int before = openDescriptorCount();
  int opened = errorOf([] { IFileIOStream probe("/proc/version", ios::in | ios::out, 0); });
  if (opened == EACCES)
    GTEST_SKIP() << "only a privileged user may open /proc/version for writing";
  ASSERT_EQ(opened, 0);
  {
    IFileIOStream s("/proc/version", ios::in | ios::out, 0);
    std::string word;
    s >> word;
    EXPECT_FALSE(word.empty());
    s << "x";
    EXPECT_EQ(errorOf([&] { s.flush(); }), EIO);
    EXPECT_EQ(errorOf([&] { s.get(); }), EIO) << "reading writes the waiting output first";
    EXPECT_EQ(errorOf([&] { s.close(); }), EIO);
  } // the output that can never be written goes with the stream
  EXPECT_EQ(openDescriptorCount(), before);
}

struct IRefusal {
  const char* fName;
  const char* fWhere; // "dir": an existing folder; "missing": a path in a folder that does not exist
  int fMode;
  int fError;
};

class Refusal : public ::testing::TestWithParam<IRefusal> {};

// The cases of a folder opened for reading and of a missing folder opened for
// writing alone are in the file stream's own tests.
TEST_P(Refusal, NothingIsMadeAndNothingStaysOpen) {
  const IRefusal& c = GetParam();
  ITempDir dir;
  const std::string path = std::string(c.fWhere) == "dir" ? dir.path() : dir.path("missing/file");
  const int before = openDescriptorCount();
  std::string message = messageOf([&] { IFileIOStream s(path, c.fMode, 0); });
  EXPECT_EQ(errorOf([&] { IFileIOStream s(path, c.fMode, 0); }), c.fError) << message;
  EXPECT_NE(message.find(path), std::string::npos) << message;
  EXPECT_EQ(openDescriptorCount(), before);
  EXPECT_FALSE(pathExists(dir.path("missing")));
}

INSTANTIATE_TEST_SUITE_P(
    Modes, Refusal,
    ::testing::Values(IRefusal{"FolderForWriting", "dir", ios::out, EISDIR},
                      IRefusal{"FolderForReadingAndWriting", "dir", ios::in | ios::out, EISDIR},
                      IRefusal{"FolderReplaced", "dir", ios::out | ios::trunc, EISDIR},
                      IRefusal{"FolderCreatedOnly", "dir", ios::out | ios::trunc | ios::noreplace, EISDIR},
                      IRefusal{"FolderAppended", "dir", ios::app, EISDIR},
                      IRefusal{"MissingFolderForReading", "missing", ios::in, ENOENT},
                      IRefusal{"MissingFolderReplaced", "missing", ios::in | ios::out | ios::trunc, ENOENT},
                      IRefusal{"MissingFolderCreatedOnly", "missing", ios::out | ios::trunc | ios::noreplace, ENOENT},
                      IRefusal{"MissingFolderAppended", "missing", ios::out | ios::app, ENOENT}),
    [](const auto& info) { return std::string(info.param.fName); });

// --- a trunc that is refused cuts nothing --------------------------------------------

// What holds the refusal in place for one row, and the file whose bytes must stay.
struct IArranged {
  std::shared_ptr<void> fHold;
  std::string fKept;
  bool fNoDescriptorsLeft = false; // the opens run with no descriptor to spare
};

// A child process that holds `path` open for reading, granting reading and
// writing, until the parent lets it go.
class IChildReader {
public:
  explicit IChildReader(const std::string& path) {
    int ready[2], release[2];
    if (::pipe2(ready, O_CLOEXEC) != 0 || ::pipe2(release, O_CLOEXEC) != 0)
      throw std::runtime_error("pipe failed");
    fPid = ::fork();
    if (fPid == 0) {
      ::close(release[1]); // or the read below never sees the end
      int code = 0;
      try {
        IFileIOStream reader(path, ios::in, ios::in | ios::out);
        char byte = 'r';
        if (::write(ready[1], &byte, 1) != 1 || ::read(release[0], &byte, 1) < 0)
          code = 2;
      } catch (...) {
        code = 1;
      }
      ::_exit(code);
    }
    char byte;
    const bool started = fPid > 0 && ::read(ready[0], &byte, 1) == 1;
    ::close(ready[0]);
    ::close(ready[1]);
    ::close(release[0]);
    fRelease = release[1];
    if (!started)
      throw std::runtime_error("the child did not open the file");
  }
  ~IChildReader() {
    ::close(fRelease);
    int status = 0;
    ::waitpid(fPid, &status, 0);
  }

private:
  pid_t fPid = -1;
  int fRelease = -1;
};

// The lock calls fail as on a file system without open file description locks.
class INoLocks {
public:
  INoLocks() {
    IHostCalls::current().fcntl = [](int, int, struct flock*) {
      errno = ENOLCK;
      return -1;
    };
  }
  ~INoLocks() { IHostCalls::current() = IHostCalls::system(); }
};

struct ITruncRefusal {
  const char* fName;
  int fError;
  IArranged (*fArrange)(const std::string& path);
};

class TruncRefused : public ::testing::TestWithParam<ITruncRefusal> {};

// The file was located, by path or as a replacement, before the open was
// refused: whatever refused it, the bytes stay as they were.
TEST_P(TruncRefused, TheFileKeepsItsBytes) {
  const ITruncRefusal& c = GetParam();
  ITempDir dir;
  const std::string path = dir.path("f");
  const std::string kept = "kept bytes";
  writeWholeFile(path, kept);
  const IFile replaced(IText(path), IFileSystemEntity::kReplaceExisting);
  const int descriptors = openDescriptorCount();
  IArranged arranged = c.fArrange(path);
  int byPath = 0, byFile = 0, both = 0;
  {
    std::optional<IResourceLimit> limit;
    if (arranged.fNoDescriptorsLeft)
      limit.emplace(RLIMIT_NOFILE, static_cast<rlim_t>(nextDescriptor()));
    byPath = errorOf([&] { IFileIOStream s(path, ios::out | ios::trunc, 0); });
    byFile = errorOf([&] { IFileIOStream s(replaced, ios::out, 0); });
    both = errorOf([&] { IFileIOStream s(path, ios::in | ios::out | ios::trunc, 0); });
  }
  arranged.fHold.reset();
  EXPECT_EQ(byPath, c.fError);
  EXPECT_EQ(byFile, c.fError);
  EXPECT_EQ(both, c.fError);
  EXPECT_EQ(readWholeFile(arranged.fKept.empty() ? path : arranged.fKept), kept);
  EXPECT_EQ(openDescriptorCount(), descriptors);
}

INSTANTIATE_TEST_SUITE_P(
    Ways, TruncRefused,
    ::testing::Values(
        ITruncRefusal{"SharingInThisProcess", EBUSY,
                      [](const std::string& path) {
                        return IArranged{std::make_shared<IFileIOStream>(path, ios::in, ios::in | ios::out), {}};
                      }},
        ITruncRefusal{"SharingWithAnotherProcess", EBUSY,
                      [](const std::string& path) { return IArranged{std::make_shared<IChildReader>(path), {}}; }},
        ITruncRefusal{"ADirectoryInItsPlace", EISDIR,
                      [](const std::string& path) {
                        if (::rename(path.c_str(), (path + ".moved").c_str()) != 0 || ::mkdir(path.c_str(), 0755) != 0)
                          throw std::runtime_error("cannot put a folder in the file's place");
                        return IArranged{nullptr, path + ".moved"};
                      }},
        ITruncRefusal{"OutOfDescriptors", EMFILE,
                      [](const std::string&) { return IArranged{nullptr, {}, true}; }},
        ITruncRefusal{"NoLocksOnTheFileSystem", ENOLCK,
                      [](const std::string&) { return IArranged{std::make_shared<INoLocks>(), {}}; }}),
    [](const auto& info) { return std::string(info.param.fName); });

// --- opens that must not block -----------------------------------------------------------

// The file is opened once, as open(2) opens it: a FIFO opened for reading and
// writing does not wait for a partner, and trunc leaves it and a device alone.
TEST(NoBlock, FifoAndDeviceOpenWithTruncAtOnce) {
  ITempDir dir;
  const std::string pipe = dir.path("pipe");
  ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
  ::alarm(20); // a blocked open ends the test instead of hanging it
  {
    IFileIOStream fifo(pipe, ios::in | ios::out | ios::trunc, 0);
    fifo << "through\n";
    fifo.flush();
    std::string word;
    fifo >> word;
    EXPECT_EQ(word, "through");
    IFileIOStream null("/dev/null", ios::out | ios::trunc, 0);
    null << "gone";
    null.flush();
    EXPECT_TRUE(null.good());
    const IFile replaced(IText(pipe), IFileSystemEntity::kReplaceExisting);
    IFileIOStream again(replaced, ios::in | ios::out, 0);
  }
  ::alarm(0);
}

// --- app ------------------------------------------------------------------------------------

// app appends every write at the end as it is then: a seek moves only where
// the stream reads, and after a flush the position is where the write ended,
// also when another writer grew the file meanwhile.
TEST(Append, EveryWriteLandsAtTheEndAsItIsThen) {
  ITempDir dir;
  const std::string f = dir.path("f");
  writeWholeFile(f, "0123456789");
  IFileIOStream s(f, ios::in | ios::app, ios::in | ios::out);
  s.seekp(2);
  EXPECT_EQ(s.get(), '2');
  s << "ab" << flush;
  EXPECT_EQ(s.tellp(), 12);
  appendTo(f, "OTHER");
  s << "XY" << flush;
  EXPECT_EQ(s.tellg(), 19);
  EXPECT_EQ(s.get(), EOF);
  s.close();
  EXPECT_EQ(readWholeFile(f), "0123456789abOTHERXY");
}

// --- a file that reaches its size limit part-way through a write ---------------------

// write(2) takes the bytes up to the limit and then fails with EFBIG: the
// byte stream has moved on by the part written. A retry must write each byte
// once, at its own offset.
TEST(SizeLimit, RetryAfterAPartialWriteWritesEachByteOnce) {
  ITempDir dir;
  const std::string content = text(3000);
  IIgnoredSignal ignore(SIGXFSZ);
  IFileIOStream s(dir.path("f"), ios::out | ios::trunc, 0);
  s.write(content.data(), static_cast<int>(content.size()));
  int error = 0;
  {
    IResourceLimit limit(RLIMIT_FSIZE, 1000); // nothing may print to a file in here
    error = errorOf([&] { s.flush(); });
  }
  EXPECT_EQ(error, EFBIG);
  s.flush();
  EXPECT_EQ(s.tellp(), 3000);
  s.close();
  const std::string written = readWholeFile(dir.path("f"));
  EXPECT_EQ(written.size(), content.size());
  EXPECT_TRUE(written == content) << "the bytes before the limit were written twice";
}

TEST(SizeLimit, RetryOfAFailedCloseWritesEachByteOnce) {
  ITempDir dir;
  const std::string content = text(5000);
  IIgnoredSignal ignore(SIGXFSZ);
  IFileIOStream s(dir.path("f"), ios::out | ios::trunc, 0);
  s.write(content.data(), static_cast<int>(content.size())); // 4096 written, the rest waits
  int error = 0;
  {
    IResourceLimit limit(RLIMIT_FSIZE, 4500);
    error = errorOf([&] { s.close(); });
  }
  EXPECT_EQ(error, EFBIG);
  s.close();
  const std::string written = readWholeFile(dir.path("f"));
  EXPECT_EQ(written.size(), content.size());
  EXPECT_TRUE(written == content) << "the bytes before the limit were written twice";
}

TEST(SizeLimit, RetryInAppendModeWritesEachByteOnce) {
  ITempDir dir;
  const std::string before(500, '.');
  const std::string content = text(3000);
  writeWholeFile(dir.path("f"), before);
  IIgnoredSignal ignore(SIGXFSZ);
  IFileIOStream s(dir.path("f"), ios::app, ios::in | ios::out);
  s.write(content.data(), static_cast<int>(content.size()));
  int error = 0;
  {
    IResourceLimit limit(RLIMIT_FSIZE, 1000);
    error = errorOf([&] { s.flush(); });
  }
  EXPECT_EQ(error, EFBIG);
  appendTo(dir.path("f"), "OTHER"); // another writer, between the failure and the retry
  s.close();
  const std::string written = readWholeFile(dir.path("f"));
  EXPECT_TRUE(written == before + content.substr(0, 500) + "OTHER" + content.substr(500))
      << "a byte was lost, appended twice, or written over the other writer's";
}

// --- a close that fails ---------------------------------------------------------------

// close(2) fails here because the descriptor was closed behind the stream's
// back, the one way to make it fail on a local file. The failure is reported
// once; the file is released all the same, so a retry has nothing left to do
// and the stream can open again.
TEST(FailedClose, IsReportedOnceAndTheStreamCanOpenAgain) {
  ITempDir dir;
  const int before = openDescriptorCount();
  IFileIOStream s(dir.path("f"), ios::out | ios::trunc, 0);
  s << "written";
  s.flush();
  const int fd = descriptorOn(dir.path("f"));
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::close(fd), 0);
  EXPECT_EQ(errorOf([&] { s.close(); }), EBADF);
  EXPECT_NO_THROW(s.close()) << "the retry of a close whose descriptor is gone";
  EXPECT_NO_THROW(s.open(IFile(IText(dir.path("f"))), ios::in, 0));
  std::string word;
  s >> word;
  EXPECT_EQ(word, "written");
  EXPECT_EQ(openDescriptorCount(), before + 1);
}

// --- a stream that cannot seek ----------------------------------------------------------

// Opening a FIFO for reading and writing does not wait for a partner on Linux.
TEST(NoSeek, AFailedSeekOnAPipeKeepsTheUnreadInput) {
  ITempDir dir;
  const std::string pipe = dir.path("pipe");
  ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
  const int before = openDescriptorCount();
  {
    IFileIOStream s(pipe, ios::in | ios::out, 0);
    s << "hello\n";
    s.flush();
    EXPECT_EQ(s.get(), 'h');
    EXPECT_EQ(errorOf([&] { s.tellg(); }), ESPIPE);
    EXPECT_EQ(errorOf([&] { s.seekg(0); }), ESPIPE);
    EXPECT_EQ(errorOf([&] { s.seekg(1, ios::beg); }), ESPIPE);
    // More input, so that a stream that lost its read-ahead reads this
    // instead of waiting for ever.
    int writer = ::open(pipe.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(writer, 0);
    ASSERT_EQ(::write(writer, "world\n", 6), 6);
    ::close(writer);
    std::string line;
    getline(s, line);
    EXPECT_EQ(line, "ello") << "the bytes read ahead were lost";
  }
  EXPECT_EQ(openDescriptorCount(), before);
}

// --- a process out of descriptors ---------------------------------------------------------

TEST(OutOfDescriptors, EveryOpenFailsCleanlyAndNothingIsHalfMade) {
  ITempDir dir;
  writeWholeFile(dir.path("existing"), "content");
  IFile existing(IText(dir.path("existing")));
  IFileIOStream closed(dir.path("other"), ios::out, 0);
  closed.close();
  const int before = openDescriptorCount();
  int byPath = 0, created = 0, byFile = 0, reopened = 0;
  std::string message;
  std::exception_ptr failure;
  {
    IResourceLimit limit(RLIMIT_NOFILE, static_cast<rlim_t>(nextDescriptor()));
    byPath = errorOf([&] { IFileIOStream s(dir.path("existing"), ios::in, 0); });
    created = errorOf([&] { IFileIOStream s(dir.path("new"), ios::out | ios::trunc, 0); });
    byFile = errorOf([&] { IFileIOStream s(existing, ios::in | ios::out, 0); });
    reopened = errorOf([&] { closed.open(existing, ios::in, 0); });
    // Kept, and read once descriptors are free again: the sanitizers' type
    // check of a call on the exception needs a pipe.
    try {
      IFileIOStream s(existing, ios::in, 0);
    } catch (...) {
      failure = std::current_exception();
    }
  }
  message = messageOf([&] {
    if (failure)
      std::rethrow_exception(failure);
  });
  EXPECT_EQ(byPath, EMFILE);
  EXPECT_EQ(created, EMFILE);
  EXPECT_EQ(byFile, EMFILE);
  EXPECT_EQ(reopened, EMFILE);
  EXPECT_NE(message.find(dir.path("existing")), std::string::npos) << message;
  EXPECT_FALSE(pathExists(dir.path("new"))) << "a file was made for a stream that failed";
  EXPECT_EQ(openDescriptorCount(), before);
  EXPECT_FALSE(closed.file().isValid());
  closed.open(existing, ios::in, 0);
  std::string word;
  closed >> word;
  EXPECT_EQ(word, "content");
}

} // namespace
