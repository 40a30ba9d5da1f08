// The host byte stream and file record over real files and real system errors.
#include "hostdesc.hpp"
#include "hostrec.hpp"
#include "hoststrm.hpp"
#include "errorof.hpp"
#include "iexcept.hpp"
#include "ifilesys.hpp"
#include "memfile.hpp"
#include "tempdir.hpp"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

using namespace kelhost; // the host layer, private to the library, reached through its static archive

namespace {

constexpr int kIn = 1, kOut = 2, kAte = 4, kApp = 8, kTrunc = 16, kNoCreate = 32, kNoReplace = 64, kBin = 128;

std::unique_ptr<IFSFileStream> openStream(const std::string& path, int mode, int otherMode = 0) {
  return std::unique_ptr<IFSFileStream>(IFile(path).getRecord()->createStream(mode, otherMode));
}

std::set<int> openDescriptors() {
  std::set<int> numbers;
  for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd"))
    numbers.insert(std::stoi(entry.path().filename().string()));
  std::erase_if(numbers, [](int fd) { return ::fcntl(fd, F_GETFD) < 0; }); // the listing's own
  return numbers;
}

// The open(2) flags of descriptor `fd`, as the kernel reports them.
int descriptorFlags(int fd) {
  std::ifstream info("/proc/self/fdinfo/" + std::to_string(fd));
  std::string key;
  while (info >> key) {
    if (key == "flags:") {
      std::string octal;
      info >> octal;
      return std::stoi(octal, nullptr, 8);
    }
  }
  throw std::runtime_error("no flags for descriptor " + std::to_string(fd));
}

// Expects `action` to throw an IAccessError with `error`, whose text names the
// operation, the path and the system's error; returns the text.
std::string expectAccessError(const std::function<void()>& action, const std::string& operation,
                              const std::string& path, int error) {
  try {
    action();
  } catch (const IAccessError& e) {
    EXPECT_EQ(e.errorId(), error) << e.what();
    const std::string text = e.what();
    EXPECT_EQ(text.rfind(operation + " of '" + path + "' failed: ", 0), 0u) << text;
    EXPECT_NE(text.find(std::strerror(error)), std::string::npos) << text;
    EXPECT_NE(text.find("(errno " + std::to_string(error) + ")"), std::string::npos) << text;
    return text;
  }
  ADD_FAILURE() << "no IAccessError for " << operation << " of " << path;
  return {};
}

class HostStreamTest : public ::testing::Test {
protected:
  ITempDir fDir;
  std::string fFile = fDir.path("data");
};

// --- modes --------------------------------------------------------------

struct ModeCase {
  const char* name;
  int mode;
  int access;    // O_RDONLY, O_WRONLY or O_RDWR
  bool truncate; // the file is cut to 0
  bool atEnd;    // the stream starts at the end
};

class HostStreamModeTest : public HostStreamTest, public ::testing::WithParamInterface<ModeCase> {};

TEST_P(HostStreamModeTest, ModeGivesAccessPositionAndFlags) {
  const ModeCase& c = GetParam();
  const std::string before = "0123456789";
  writeWholeFile(fFile, before);

  const std::set<int> old = openDescriptors();
  auto stream = openStream(fFile, c.mode, 0x55);
  std::set<int> added;
  for (int fd : openDescriptors())
    if (!old.count(fd))
      added.insert(fd);
  ASSERT_EQ(added.size(), 1u);
  const int flags = descriptorFlags(*added.begin());
  EXPECT_EQ(flags & O_ACCMODE, c.access);
  EXPECT_EQ(flags & (O_APPEND | O_TRUNC), (c.mode & kApp) ? O_APPEND : 0)
      << "app appends every write; trunc cuts once the sharing claim holds";
  EXPECT_NE(flags & O_CLOEXEC, 0);

  const IFileSize size = c.truncate ? 0 : 10;
  EXPECT_EQ(stream->endOfFile(), size);
  EXPECT_EQ(stream->doSeek(0, IFSFileStream::cur), c.atEnd ? size : 0);

  stream->doSeek(0, IFSFileStream::beg);
  char buffer[4];
  if (c.access == O_WRONLY)
    expectAccessError([&] { stream->doRead(buffer, 4); }, "read", fFile, EBADF);
  else
    EXPECT_EQ(stream->doRead(buffer, 4), c.truncate ? 0 : 4);

  stream->doSeek(0, IFSFileStream::beg);
  if (c.access == O_RDONLY) {
    expectAccessError([&] { stream->doWrite("X", 1); }, "write", fFile, EBADF);
    EXPECT_EQ(readWholeFile(fFile), before);
  } else {
    stream->doWrite("X", 1);
    const std::string kept = c.truncate ? "" : before;
    EXPECT_EQ(readWholeFile(fFile),
              (c.mode & kApp) ? kept + "X" : "X" + kept.substr(std::min<size_t>(1, kept.size())));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Modes, HostStreamModeTest,
    ::testing::Values(ModeCase{"in", kIn, O_RDONLY, false, false},
                      ModeCase{"out", kOut, O_WRONLY, false, false},
                      ModeCase{"inOut", kIn | kOut, O_RDWR, false, false},
                      ModeCase{"app", kApp, O_WRONLY, false, true},
                      ModeCase{"outApp", kOut | kApp, O_WRONLY, false, true},
                      ModeCase{"inApp", kIn | kApp, O_RDWR, false, true},
                      ModeCase{"inAte", kIn | kAte, O_RDONLY, false, true},
                      ModeCase{"outAte", kOut | kAte, O_WRONLY, false, true},
                      ModeCase{"outTrunc", kOut | kTrunc, O_WRONLY, true, false},
                      ModeCase{"trunc", kTrunc, O_WRONLY, true, false},
                      ModeCase{"inTrunc", kIn | kTrunc, O_RDWR, true, false},
                      ModeCase{"appTrunc", kApp | kTrunc, O_WRONLY, true, true},
                      ModeCase{"inOutWithIgnoredBits", kIn | kOut | kBin | kNoCreate | kNoReplace, O_RDWR, false,
                               false}),
    [](const auto& info) { return std::string(info.param.name); });

class HostStreamBadModeTest : public HostStreamTest, public ::testing::WithParamInterface<int> {};

TEST_P(HostStreamBadModeTest, ModeWithoutAccessIsRefusedWithoutOpening) {
  writeWholeFile(fFile, "kept");
  const IFile file(fFile);
  const int descriptors = openDescriptorCount();
  try {
    std::unique_ptr<IFSFileStream> stream(file.getRecord()->createStream(GetParam(), 0));
    FAIL() << "mode " << GetParam() << " was accepted";
  } catch (const IInvalidParameter& e) {
    EXPECT_NE(std::string(e.what()).find("none of in, out, app"), std::string::npos) << e.what();
  }
  EXPECT_EQ(openDescriptorCount(), descriptors);
  EXPECT_EQ(readWholeFile(fFile), "kept");
}

INSTANTIATE_TEST_SUITE_P(Modes, HostStreamBadModeTest,
                         ::testing::Values(0, kAte, kBin, kNoCreate, kNoReplace, kAte | kBin | kNoCreate | kNoReplace));

// --- reading, writing, positions ------------------------------------------

class HostStreamRoundTripTest : public HostStreamTest, public ::testing::WithParamInterface<int> {};

TEST_P(HostStreamRoundTripTest, WrittenBytesReadBackInChunks) {
  std::string data(static_cast<size_t>(GetParam()), '\0');
  for (size_t i = 0; i < data.size(); ++i)
    data[i] = static_cast<char>((i * 131 + i / 251) & 0xff);
  writeWholeFile(fFile, "");
  auto stream = openStream(fFile, kIn | kOut);
  stream->doWrite(data.data(), static_cast<int>(data.size()));
  EXPECT_EQ(stream->endOfFile(), static_cast<IFileSize>(data.size()));
  EXPECT_EQ(stream->doSeek(0, IFSFileStream::beg), 0);

  std::string back;
  char chunk[1000];
  while (std::ptrdiff_t got = stream->doRead(chunk, sizeof chunk)) {
    ASSERT_GT(got, 0);
    back.append(chunk, static_cast<size_t>(got));
  }
  EXPECT_EQ(back, data);
  EXPECT_EQ(stream->doRead(chunk, sizeof chunk), 0); // still at the end
  stream->close();
  EXPECT_EQ(readWholeFile(fFile), data);
}

INSTANTIATE_TEST_SUITE_P(Sizes, HostStreamRoundTripTest, ::testing::Values(1, 4095, 4096, 4097, 8192, 1 << 20));

TEST_F(HostStreamTest, SeekMovesInAllThreeDirections) {
  writeWholeFile(fFile, "0123456789");
  auto stream = openStream(fFile, kIn);
  char c;
  EXPECT_EQ(stream->doSeek(3, IFSFileStream::beg), 3);
  EXPECT_EQ(stream->doSeek(2, IFSFileStream::cur), 5);
  ASSERT_EQ(stream->doRead(&c, 1), 1);
  EXPECT_EQ(c, '5');
  EXPECT_EQ(stream->doSeek(-2, IFSFileStream::end), 8);
  ASSERT_EQ(stream->doRead(&c, 1), 1);
  EXPECT_EQ(c, '8');
  EXPECT_EQ(stream->doSeek(5, IFSFileStream::end), 15); // past the end is allowed
  EXPECT_EQ(stream->doRead(&c, 1), 0);
}

TEST_F(HostStreamTest, SeekBeforeStartIsRefusedAndKeepsPosition) {
  writeWholeFile(fFile, "0123456789");
  auto stream = openStream(fFile, kIn);
  const std::pair<IFileSize, IFSFileStream::seek_dir> seeks[] = {
      {-1, IFSFileStream::beg}, {-5, IFSFileStream::cur}, {-11, IFSFileStream::end}};
  for (const auto& [offset, dir] : seeks) {
    stream->doSeek(4, IFSFileStream::beg);
    const std::string text =
        expectAccessError([&] { stream->doSeek(offset, dir); }, "seek", fFile, EINVAL);
    EXPECT_NE(text.find("before the start"), std::string::npos) << text;
    EXPECT_EQ(stream->doSeek(0, IFSFileStream::cur), 4);
  }
  EXPECT_THROW(stream->doSeek(0, static_cast<IFSFileStream::seek_dir>(3)), IInvalidParameter);
}

TEST_F(HostStreamTest, PositionsAndSizesAre64Bit) {
  writeWholeFile(fFile, "");
  auto stream = openStream(fFile, kIn | kOut);
  const IFileSize far = (IFileSize(5) << 30) + 7; // past 4 GiB, a sparse file
  EXPECT_EQ(stream->doSeek(far, IFSFileStream::beg), far);
  stream->doWrite("z", 1);
  EXPECT_EQ(stream->endOfFile(), far + 1);
  EXPECT_EQ(stream->doSeek(-1, IFSFileStream::end), far);
  char c = 0;
  ASSERT_EQ(stream->doRead(&c, 1), 1);
  EXPECT_EQ(c, 'z');
  stream->setEndOfFile(IFileSize(3) << 31);
  EXPECT_EQ(stream->endOfFile(), IFileSize(3) << 31);
}

TEST_F(HostStreamTest, SetEndOfFileCutsAndExtendsWithZerosLeavingPosition) {
  writeWholeFile(fFile, "abcdef");
  auto stream = openStream(fFile, kIn | kOut | kAte);
  stream->setEndOfFile(3);
  EXPECT_EQ(stream->endOfFile(), 3);
  EXPECT_EQ(readWholeFile(fFile), "abc");
  stream->setEndOfFile(5);
  EXPECT_EQ(readWholeFile(fFile), std::string("abc\0\0", 5));
  EXPECT_EQ(stream->doSeek(0, IFSFileStream::cur), 6);
  EXPECT_THROW(stream->setEndOfFile(-1), IInvalidParameter);
  EXPECT_EQ(stream->endOfFile(), 5);
}

// --- closing ----------------------------------------------------------------

TEST_F(HostStreamTest, CloseReleasesTheDescriptorAndEndsTheStream) {
  writeWholeFile(fFile, "abc");
  const int descriptors = openDescriptorCount();
  auto stream = openStream(fFile, kIn | kOut);
  EXPECT_EQ(openDescriptorCount(), descriptors + 1);
  stream->close();
  EXPECT_EQ(openDescriptorCount(), descriptors);

  EXPECT_NO_THROW(stream->close()) << "a retried close has nothing left to do";
  char buffer[1];
  const std::function<void()> operations[] = {
      [&] { stream->doRead(buffer, 1); },
      [&] { stream->doWrite("x", 1); },
      [&] { stream->doSeek(0, IFSFileStream::beg); },
      [&] { stream->endOfFile(); },
      [&] { stream->setEndOfFile(0); }};
  for (const auto& operation : operations)
    EXPECT_THROW(operation(), IInvalidRequest);
  EXPECT_TRUE(stream->canSeek()) << "a question, answered after the close as well";
  stream.reset();
  EXPECT_EQ(openDescriptorCount(), descriptors);
}

TEST_F(HostStreamTest, DeletingAnOpenStreamReleasesTheDescriptor) {
  writeWholeFile(fFile, "");
  const int descriptors = openDescriptorCount();
  {
    auto stream = openStream(fFile, kOut);
    stream->doWrite("data", 4);
  }
  EXPECT_EQ(openDescriptorCount(), descriptors);
  EXPECT_EQ(readWholeFile(fFile), "data");
}

// --- the byte-stream contract, kept by the host stream and the tests' in-memory one -----

// A file with `content`, a stream on it with `mode`, and the file's bytes.
struct IHostSide {
  ITempDir fDir;
  std::string fPath = fDir.path("contract");
  std::unique_ptr<IFSFileStream> make(const std::string& content, int mode) {
    writeWholeFile(fPath, content);
    return std::unique_ptr<IFSFileStream>(IFile(fPath).getRecord()->createStream(mode, 0));
  }
  std::string bytes() const { return readWholeFile(fPath); }
};

struct IMemorySide {
  std::shared_ptr<IMemoryFile> fFile;
  IFile fObject;
  std::unique_ptr<IFSFileStream> make(const std::string& content, int mode) {
    fObject = memoryFile(fFile, content);
    return std::unique_ptr<IFSFileStream>(fObject.getRecord()->createStream(mode, 0));
  }
  std::string bytes() const { return fFile->fData; }
};

// A descriptor that its owner opened with the access that `mode` asks for
// (and O_TRUNC for trunc, which a borrowed stream leaves to the owner).
struct IBorrowedSide {
  ITempDir fDir;
  std::string fPath = fDir.path("contract");
  IDescriptor fOwned;
  IFile fObject;
  std::unique_ptr<IFSFileStream> make(const std::string& content, int mode) {
    writeWholeFile(fPath, content);
    const bool writes = mode & (kOut | kApp | kTrunc);
    const int flags = ((mode & kIn) && writes ? O_RDWR : writes ? O_WRONLY : O_RDONLY) | ((mode & kTrunc) ? O_TRUNC : 0);
    fOwned = IDescriptor(::open(fPath.c_str(), flags | O_CLOEXEC));
    fObject = IFile::borrowing(fOwned.get());
    return std::unique_ptr<IFSFileStream>(fObject.getRecord()->createStream(mode, 0));
  }
  std::string bytes() const { return readWholeFile(fPath); }
};

template <class ISide>
class ByteStreamContract : public ::testing::Test {
protected:
  ISide fSide;
};

using ISides = ::testing::Types<IHostSide, IMemorySide, IBorrowedSide>;
TYPED_TEST_SUITE(ByteStreamContract, ISides);

TYPED_TEST(ByteStreamContract, ReadsAndWritesAtOnePositionThatSeeksMoveInEachDirection) {
  auto s = this->fSide.make("", kIn | kOut);
  s->doWrite("hello world", 11);
  EXPECT_EQ(s->doSeek(0, IFSFileStream::cur), 11);
  EXPECT_EQ(s->doSeek(0, IFSFileStream::beg), 0);
  char buffer[16] = {};
  ASSERT_EQ(s->doRead(buffer, 5), 5);
  EXPECT_EQ(std::string(buffer, 5), "hello");
  EXPECT_EQ(s->doSeek(-5, IFSFileStream::end), 6);
  s->doWrite("W", 1);
  EXPECT_EQ(s->doSeek(-2, IFSFileStream::cur), 5);
  ASSERT_EQ(s->doRead(buffer, 16), 6);
  EXPECT_EQ(std::string(buffer, 6), " World");
  EXPECT_EQ(s->doRead(buffer, 16), 0);
  EXPECT_EQ(s->endOfFile(), 11);
  EXPECT_EQ(this->fSide.bytes(), "hello World");
}

TYPED_TEST(ByteStreamContract, ASeekBeforeTheStartIsEinvalAndKeepsThePosition) {
  auto s = this->fSide.make("0123456789", kIn);
  EXPECT_EQ(s->doSeek(3, IFSFileStream::beg), 3);
  EXPECT_EQ(errorOf([&] { s->doSeek(-1, IFSFileStream::beg); }), EINVAL);
  EXPECT_EQ(errorOf([&] { s->doSeek(-4, IFSFileStream::cur); }), EINVAL);
  EXPECT_EQ(errorOf([&] { s->doSeek(-11, IFSFileStream::end); }), EINVAL);
  EXPECT_EQ(s->doSeek(0, IFSFileStream::cur), 3);
  EXPECT_EQ(s->doSeek(20, IFSFileStream::beg), 20); // past the end is allowed
}

TYPED_TEST(ByteStreamContract, SetEndOfFileCutsAndExtendsWithZerosLeavingThePosition) {
  auto s = this->fSide.make("0123456789", kIn | kOut);
  s->doSeek(7, IFSFileStream::beg);
  s->setEndOfFile(4);
  EXPECT_EQ(s->endOfFile(), 4);
  s->setEndOfFile(6);
  EXPECT_EQ(this->fSide.bytes(), std::string("0123\0\0", 6));
  EXPECT_EQ(s->doSeek(0, IFSFileStream::cur), 7);
}

struct IModePlacement {
  int fMode;
  IFileSize fStart;
  const char* fAfterWrite; // "X" written at the start, then "Y" at 1
};

// ate and app place the stream at the end; trunc empties the file; a write
// after a seek lands where the stream stands, but with app at the end.
TYPED_TEST(ByteStreamContract, ModesPlaceTheStreamAndAppAlwaysWritesAtTheEnd) {
  for (const IModePlacement& c : {IModePlacement{kOut, 0, "XY23"}, IModePlacement{kOut | kAte, 4, "XY23"},
                                  IModePlacement{kApp, 4, "0123XY"}, IModePlacement{kIn | kApp, 4, "0123XY"},
                                  IModePlacement{kOut | kTrunc, 0, "XY"}, IModePlacement{kApp | kTrunc, 0, "XY"}}) {
    SCOPED_TRACE("mode " + std::to_string(c.fMode));
    auto s = this->fSide.make("0123", c.fMode);
    EXPECT_EQ(s->doSeek(0, IFSFileStream::cur), c.fStart);
    s->doSeek(0, IFSFileStream::beg);
    s->doWrite("X", 1);
    s->doWrite("Y", 1);
    EXPECT_EQ(this->fSide.bytes(), c.fAfterWrite);
  }
}

TYPED_TEST(ByteStreamContract, AStreamDoesOnlyWhatItsModeAsks) {
  char buffer[4];
  EXPECT_EQ(errorOf([&] { this->fSide.make("abc", kOut)->doRead(buffer, 1); }), EBADF);
  EXPECT_EQ(errorOf([&] { this->fSide.make("abc", kIn)->doWrite("x", 1); }), EBADF);
  EXPECT_EQ(this->fSide.bytes(), "abc");
}

TYPED_TEST(ByteStreamContract, CountsOfZeroDoNothingAndNegativeCountsAreRefused) {
  auto s = this->fSide.make("abc", kIn | kOut);
  char buffer[4];
  EXPECT_EQ(s->doRead(buffer, 0), 0);
  EXPECT_EQ(s->doRead(nullptr, 0), 0);
  s->doWrite(nullptr, 0);
  EXPECT_THROW(s->doRead(buffer, -1), IInvalidParameter);
  EXPECT_THROW(s->doWrite(buffer, -1), IInvalidParameter);
  EXPECT_EQ(s->doSeek(0, IFSFileStream::cur), 0);
  s->doWrite("X", 1); // one byte, the smallest write
  EXPECT_EQ(this->fSide.bytes(), "Xbc");
}

TYPED_TEST(ByteStreamContract, CloseEndsTheStreamAndASecondCloseDoesNothing) {
  auto s = this->fSide.make("abc", kIn | kOut);
  s->close();
  EXPECT_NO_THROW(s->close());
  char buffer[4];
  const std::function<void()> operations[] = {[&] { s->doRead(buffer, 1); },
                                              [&] { s->doWrite("x", 1); },
                                              [&] { s->doSeek(0, IFSFileStream::beg); },
                                              [&] { s->endOfFile(); },
                                              [&] { s->setEndOfFile(0); }};
  for (const auto& operation : operations)
    EXPECT_THROW(operation(), IInvalidRequest);
  EXPECT_EQ(this->fSide.bytes(), "abc");
}

// --- replacing ---------------------------------------------------------------------

// kReplaceExisting only finds the file: its first stream cuts it, once that
// stream's claim holds, and later streams open what is there.
TEST_F(HostStreamTest, AReplacementIsCutByItsFirstStreamOnly) {
  writeWholeFile(fFile, "old bytes");
  const IFile replaced(fFile, IFileSystemEntity::kReplaceExisting);
  EXPECT_EQ(readWholeFile(fFile), "old bytes");
  {
    std::unique_ptr<IFSFileStream> first(replaced.getRecord()->createStream(kIn, kIn | kOut));
    EXPECT_EQ(first->endOfFile(), 0);
    char buffer[4];
    EXPECT_EQ(first->doRead(buffer, 4), 0);
  }
  writeWholeFile(fFile, "new");
  std::unique_ptr<IFSFileStream> second(replaced.getRecord()->createStream(kIn, kIn | kOut));
  EXPECT_EQ(second->endOfFile(), 3);
}

// --- real failures ------------------------------------------------------------

TEST(HostStreamFailureTest, WriteToFullDeviceIsENOSPC) {
  auto stream = openStream("/dev/full", kOut);
  expectAccessError([&] { stream->doWrite("x", 1); }, "write", "/dev/full", ENOSPC);
}

TEST(HostStreamFailureTest, TruncatingADeviceIsEINVAL) {
  auto stream = openStream("/dev/full", kOut);
  expectAccessError([&] { stream->setEndOfFile(0); }, "truncate", "/dev/full", EINVAL);
}

TEST(HostStreamFailureTest, WriteToProcVersionIsEIO) {
  std::unique_ptr<IFSFileStream> stream;
  try {
    stream = openStream("/proc/version", kOut);
  } catch (const IAccessError& e) {
    if (e.errorId() == EACCES && ::geteuid() != 0)
      GTEST_SKIP() << "only root may open /proc/version for writing";
    throw;
  }
  expectAccessError([&] { stream->doWrite("x", 1); }, "write", "/proc/version", EIO);
}

TEST(HostStreamFailureTest, ReadOfUnmappedMemoryIsEIO) {
  auto stream = openStream("/proc/self/mem", kIn);
  char buffer[8];
  expectAccessError([&] { stream->doRead(buffer, sizeof buffer); }, "read", "/proc/self/mem", EIO);
}

TEST(HostStreamFailureTest, FailedOpensLeakNoDescriptor) {
  ITempDir dir;
  const IFile ostype("/proc/sys/kernel/ostype");
  const IHostFileRecord folder(dir.path());
  const IFile vanished(dir.path("vanished"), IFileSystemEntity::kCreateOnly);
  ASSERT_EQ(::unlink(dir.path("vanished").c_str()), 0);

  struct Case {
    const IFSFileRecord& record;
    int mode;
    std::string path;
    int error;
  } cases[] = {
      {*ostype.getRecord(), kOut, "/proc/sys/kernel/ostype", EACCES}, // even for root
      {folder, kIn, dir.path(), EISDIR},
      {folder, kOut, dir.path(), EISDIR},
      {folder, kIn | kOut, dir.path(), EISDIR},
      {*vanished.getRecord(), kOut, dir.path("vanished"), ENOENT},
  };
  for (const Case& c : cases) {
    const int descriptors = openDescriptorCount();
    const std::string text = expectAccessError(
        [&] { std::unique_ptr<IFSFileStream>(c.record.createStream(c.mode, 0)); }, "open", c.path, c.error);
    if (c.error == EISDIR) {
      EXPECT_NE(text.find("directory"), std::string::npos) << text;
    }
    EXPECT_EQ(openDescriptorCount(), descriptors) << text;
  }
  EXPECT_FALSE(pathExists(dir.path("vanished"))); // opening never creates
}

} // namespace
