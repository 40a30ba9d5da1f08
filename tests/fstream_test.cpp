// The classic file streams of fstream.h on real files: the open modes as
// classic programs use them, failures as state bits (never exceptions), the
// system's error kept for the program that asks, attach and fd, and the
// programs classic textbooks are made of.
#include "fstream.hpp"
#include "iomanip.hpp"
#include "tempdir.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <type_traits>
#include <unistd.h>

namespace {

static_assert(std::is_base_of_v<IFSFileBuf, filebuf>, "the classic filebuf is the file buffer itself");

// --- open modes --------------------------------------------------------------

enum EStart { kMissing, kExisting };

struct IModeCase {
  const char* fName;
  int fMode;
  EStart fStart;
  int fError;            // 0: the open succeeds; otherwise lastError()
  const char* fContent;  // the file afterwards (null: no file), after writing "new" when the stream can
};

class ClassicModes : public ::testing::TestWithParam<IModeCase> {};

TEST_P(ClassicModes, OpenWriteAndLeaveTheFileAsClassicProgramsExpect) {
  const IModeCase& c = GetParam();
  ITempDir dir;
  std::string path = dir.path("data");
  if (c.fStart == kExisting)
    writeWholeFile(path, "old content");
  fstream s(path.c_str(), c.fMode);
  if (c.fError != 0) {
    EXPECT_TRUE(!s) << "a failed open sets failbit";
    EXPECT_TRUE(s.fail());
    EXPECT_FALSE(s.is_open());
    EXPECT_EQ(s.rdbuf()->lastError(), c.fError) << s.rdbuf()->lastErrorText();
    EXPECT_NE(std::string(s.rdbuf()->lastErrorText()).find(path), std::string::npos) << s.rdbuf()->lastErrorText();
  } else {
    ASSERT_TRUE(s.good()) << s.rdbuf()->lastErrorText();
    EXPECT_TRUE(s.is_open());
    s << "new";
    s.close();
  }
  if (c.fContent)
    EXPECT_EQ(readWholeFile(path), c.fContent);
  else
    EXPECT_FALSE(pathExists(path));
}

const IModeCase kModes[] = {
    {"out_makes", ios::out, kMissing, 0, "new"},
    {"out_empties", ios::out, kExisting, 0, "new"},
    {"out_trunc_empties", ios::out | ios::trunc, kExisting, 0, "new"},
    {"in_out_keeps", ios::in | ios::out, kExisting, 0, "new content"},
    {"in_out_makes", ios::in | ios::out, kMissing, 0, "new"},
    {"out_ate_keeps", ios::out | ios::ate, kExisting, 0, "old contentnew"},
    {"app_appends", ios::app, kExisting, 0, "old contentnew"},
    {"out_app_appends", ios::out | ios::app, kExisting, 0, "old contentnew"},
    {"app_makes", ios::app, kMissing, 0, "new"},
    {"nocreate_refuses_missing", ios::out | ios::nocreate, kMissing, ENOENT, nullptr},
    {"nocreate_opens_and_empties", ios::out | ios::nocreate, kExisting, 0, "new"},
    {"nocreate_in_out_keeps", ios::in | ios::out | ios::nocreate, kExisting, 0, "new content"},
    {"noreplace_refuses_existing", ios::out | ios::noreplace, kExisting, EEXIST, "old content"},
    {"noreplace_in_out_refuses_existing", ios::in | ios::out | ios::noreplace, kExisting, EEXIST, "old content"},
    {"noreplace_makes", ios::out | ios::noreplace, kMissing, 0, "new"},
    {"nocreate_noreplace_existing", ios::out | ios::nocreate | ios::noreplace, kExisting, EEXIST, "old content"},
    {"nocreate_noreplace_missing", ios::out | ios::nocreate | ios::noreplace, kMissing, ENOENT, nullptr},
    {"in_refuses_missing", ios::in, kMissing, ENOENT, nullptr},
    {"no_access_refused", ios::nocreate, kExisting, EINVAL, "old content"},
};

INSTANTIATE_TEST_SUITE_P(Modes, ClassicModes, ::testing::ValuesIn(kModes),
                         [](const auto& info) { return std::string(info.param.fName); });

TEST(ClassicOpen, ReadOnlyStreamCannotWriteAndLeavesTheFile) {
  ITempDir dir;
  std::string path = dir.path("data");
  writeWholeFile(path, "old");
  ifstream in(path.c_str());
  ASSERT_TRUE(in.good());
  char c = 0;
  EXPECT_TRUE(in.get(c) && c == 'o');
  EXPECT_EQ(in.rdbuf()->sputc('X'), EOF) << "a stream opened for reading refuses output";
  in.close();
  EXPECT_EQ(readWholeFile(path), "old");
}

TEST(ClassicOpen, DirectoryAndNullNameFailQuietly) {
  ITempDir dir;
  ifstream folder(dir.path().c_str());
  EXPECT_TRUE(!folder);
  EXPECT_EQ(folder.rdbuf()->lastError(), EISDIR);
  ofstream nameless(nullptr);
  EXPECT_TRUE(!nameless);
  EXPECT_EQ(nameless.rdbuf()->lastError(), EINVAL);
  const ofstream& unchanged = nameless;
  EXPECT_EQ(unchanged.rdbuf()->lastError(), EINVAL) << "a const stream reaches its filebuf";
  filebuf fresh;
  EXPECT_EQ(fresh.lastError(), 0);
  EXPECT_STREQ(fresh.lastErrorText(), "");
}

// New files get the protection less the umask; existing files keep theirs.
TEST(ClassicOpen, ProtectionLessTheUmask) {
  ITempDir dir;
  mode_t old = ::umask(022);
  struct {
    const char* fName;
    int fProt;
    mode_t fExpected;
  } rows[] = {{"default", filebuf::openprot, 0644}, {"private", 0600, 0600}, {"all", 0666, 0644}, {"none", 0, 0}};
  for (const auto& row : rows) {
    std::string path = dir.path(row.fName);
    {
      ofstream out(path.c_str(), ios::out, row.fProt);
      EXPECT_TRUE(out.good()) << row.fName;
    }
    struct stat status {};
    ASSERT_EQ(::stat(path.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, row.fExpected) << row.fName;
  }
  ::chmod(dir.path("private").c_str(), 0640);
  { ofstream again(dir.path("private").c_str(), ios::out, 0600); }
  struct stat status {};
  ::stat(dir.path("private").c_str(), &status);
  EXPECT_EQ(status.st_mode & 0777, 0640u);
  ::umask(old);
}

TEST(ClassicOpen, CloseTwiceAndOpenTwiceFailQuietly) {
  ITempDir dir;
  std::string path = dir.path("data");
  ofstream out(path.c_str());
  out.open(path.c_str());
  EXPECT_TRUE(out.fail()) << "opening an open stream fails";
  out.clear();
  out << "kept";
  out.close();
  EXPECT_TRUE(out.good()) << "a successful close clears the state";
  out.close();
  EXPECT_TRUE(out.fail()) << "closing a closed stream sets failbit";
  EXPECT_EQ(out.rdbuf()->close(), nullptr);
  out.open(path.c_str(), ios::app);
  EXPECT_TRUE(out.good()) << "reopened";
  out << "+more";
  out.close();
  EXPECT_EQ(readWholeFile(path), "kept+more");
}

TEST(ClassicOpen, SetbufOnlyWhileClosed) {
  ITempDir dir;
  char space[64];
  filebuf b;
  EXPECT_EQ(b.setbuf(space, sizeof space), &b);
  ASSERT_EQ(b.open(dir.path("data").c_str(), ios::out), &b);
  EXPECT_EQ(b.setbuf(space, sizeof space), nullptr);
  ofstream out;
  out.setbuf(space, sizeof space);
  EXPECT_TRUE(out.good());
}

// --- failures become state bits ----------------------------------------------

TEST(ClassicFailure, FailedWriteSetsBadbitAndKeepsTheError) {
  ofstream full("/dev/full", ios::out | ios::nocreate);
  ASSERT_TRUE(full.good()) << full.rdbuf()->lastErrorText();
  for (int i = 0; i < 2000 && full.good(); ++i)
    full << "0123456789";
  // The flush inside overflow failed, and overflow with it: nothing is dropped.
  EXPECT_EQ(full.rdbuf()->out_waiting(), 4096);
  full.flush();
  EXPECT_TRUE(full.bad());
  EXPECT_EQ(full.rdbuf()->lastError(), ENOSPC);
  EXPECT_NE(std::string(full.rdbuf()->lastErrorText()).find("/dev/full"), std::string::npos);
  full.close();
  EXPECT_TRUE(full.fail()) << "the pending bytes could not be written";
  EXPECT_FALSE(full.is_open()) << "the file is closed all the same";
}

// A read that fails is not the end of the input: the stream gets badbit.
TEST(ClassicFailure, FailedReadSetsBadbit) {
  ITempDir dir;
  int folder = ::open(dir.path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  ASSERT_GE(folder, 0);
  ifstream in(folder);
  ASSERT_TRUE(in.good()) << in.rdbuf()->lastErrorText();
  char c = 0;
  EXPECT_FALSE(in.get(c));
  EXPECT_TRUE(in.bad());
  EXPECT_EQ(in.rdbuf()->lastError(), EISDIR);
  in.close();
  ::close(folder);
}

TEST(ClassicFailure, FailedCloseReportsAndCloses) {
  ofstream eio("/proc/version", ios::out | ios::nocreate);
  if (!eio)
    GTEST_SKIP() << "cannot open /proc/version for writing: " << eio.rdbuf()->lastErrorText();
  eio << "x";
  eio.close();
  EXPECT_TRUE(eio.fail());
  EXPECT_EQ(eio.rdbuf()->lastError(), EIO);
  EXPECT_FALSE(eio.is_open());
}

// --- attach and fd --------------------------------------------------------------

TEST(ClassicAttach, ReadsAndWritesABorrowedDescriptorAndLeavesItOpen) {
  int ends[2];
  ASSERT_EQ(::pipe(ends), 0);
  {
    ofstream out(ends[1]);
    ASSERT_TRUE(out.good()) << out.rdbuf()->lastErrorText();
    EXPECT_EQ(out.rdbuf()->fd(), ends[1]);
    out << "through " << 2 << " ends\n";
    out.close();
    EXPECT_EQ(out.rdbuf()->fd(), EOF);
  }
  EXPECT_EQ(::write(ends[1], "!", 1), 1) << "the descriptor belongs to its owner";
  ::close(ends[1]);
  ifstream in;
  in.attach(ends[0]);
  char word[16];
  int n;
  in >> word >> n;
  EXPECT_STREQ(word, "through");
  EXPECT_EQ(n, 2);
  in >> word >> word;
  EXPECT_STREQ(word, "!");
  in >> word;
  EXPECT_TRUE(in.eof());
  EXPECT_EQ(::close(ends[0]), 0);
}

TEST(ClassicAttach, RefusesWhatIsNotADescriptorOrAnOpenStream) {
  ifstream in;
  in.attach(-1);
  EXPECT_TRUE(in.fail());
  EXPECT_EQ(in.rdbuf()->lastError(), EBADF);
  ITempDir dir;
  ofstream out(dir.path("data").c_str());
  EXPECT_GE(out.rdbuf()->fd(), 0);
  out.attach(1);
  EXPECT_TRUE(out.fail()) << "an open stream takes no descriptor";
}

// --- classic programs -------------------------------------------------------

TEST(ClassicProgram, WritesThenReadsBack) {
  ITempDir dir;
  std::string path = dir.path("scores.txt");
  ofstream out(path.c_str());
  const char* names[] = {"alice", "bob", "carol"};
  for (int i = 0; i < 3; ++i)
    out << setw(8) << names[i] << ' ' << (i + 1) * 10 << ' ' << 1.5 * i << '\n';
  out.close();
  EXPECT_EQ(readWholeFile(path), "   alice 10 0\n     bob 20 1.5\n   carol 30 3\n");

  ifstream in(path.c_str());
  char name[16];
  int score;
  double ratio;
  int lines = 0, total = 0;
  while (in >> name >> score >> ratio) {
    ++lines;
    total += score;
  }
  EXPECT_TRUE(in.eof());
  EXPECT_EQ(lines, 3);
  EXPECT_EQ(total, 60);
}

TEST(ClassicProgram, CopiesEveryByteAndCounts) {
  ITempDir dir;
  std::string data;
  for (int i = 0; i < 10000; ++i)
    data += static_cast<char>(i % 7 == 0 ? '\n' : i % 5 == 0 ? ' ' : i % 256);
  writeWholeFile(dir.path("from"), data);
  ifstream in(dir.path("from").c_str(), ios::in | ios::binary);
  ofstream out(dir.path("to").c_str(), ios::out | ios::binary);
  char c = 0;
  long chars = 0, lines = 0;
  while (in.get(c)) {
    out.put(c);
    ++chars;
    lines += c == '\n';
  }
  EXPECT_TRUE(in.eof());
  out.close();
  EXPECT_EQ(readWholeFile(dir.path("to")), data);
  EXPECT_EQ(chars, 10000);
  EXPECT_EQ(lines, static_cast<long>(std::count(data.begin(), data.end(), '\n')));

  // The eof() loop of textbooks counts the failed get once more.
  ifstream again(dir.path("from").c_str());
  long loops = 0;
  while (!again.eof()) {
    again.get(c);
    ++loops;
  }
  EXPECT_EQ(loops, 10001);
}

struct IRecord {
  int fId;
  double fBalance;
  char fName[20];
};

TEST(ClassicProgram, BinaryRecordsWithSeekAndTell) {
  ITempDir dir;
  std::string path = dir.path("accounts.dat");
  {
    ofstream out(path.c_str(), ios::out | ios::binary);
    for (int i = 0; i < 500; ++i) {
      IRecord r{};
      r.fId = i;
      r.fBalance = i * 2.5;
      std::snprintf(r.fName, sizeof r.fName, "account %d", i);
      out.write(reinterpret_cast<const char*>(&r), sizeof r);
    }
  }
  fstream io(path.c_str(), ios::in | ios::out | ios::binary);
  ASSERT_TRUE(io.good());
  io.seekg(0, ios::end);
  EXPECT_EQ(io.tellg(), static_cast<streampos>(500 * sizeof(IRecord)));
  for (int i : {321, 7, 499, 0}) {
    io.seekg(static_cast<streamoff>(i * sizeof(IRecord)));
    EXPECT_EQ(io.tellg(), static_cast<streampos>(i * sizeof(IRecord)));
    IRecord r{};
    io.read(reinterpret_cast<char*>(&r), sizeof r);
    EXPECT_EQ(r.fId, i);
    EXPECT_EQ(r.fBalance, i * 2.5);
    EXPECT_EQ(io.tellg(), static_cast<streampos>((i + 1) * sizeof(IRecord)));
  }
  // Update one record in place, read its neighbour with no seek between.
  io.seekp(static_cast<streamoff>(100 * sizeof(IRecord)));
  IRecord changed{100, -1, "changed"};
  io.write(reinterpret_cast<const char*>(&changed), sizeof changed);
  IRecord next{};
  io.read(reinterpret_cast<char*>(&next), sizeof next);
  EXPECT_EQ(next.fId, 101);
  io.seekg(static_cast<streamoff>(100 * sizeof(IRecord)));
  IRecord back{};
  io.read(reinterpret_cast<char*>(&back), sizeof back);
  EXPECT_STREQ(back.fName, "changed");
  // Reading past the end fails and counts what it got.
  io.seekg(-4, ios::end);
  io.read(reinterpret_cast<char*>(&back), sizeof back);
  EXPECT_TRUE(io.eof());
  EXPECT_EQ(io.gcount(), 4);
}

TEST(ClassicProgram, AppendsALogAcrossRuns) {
  ITempDir dir;
  std::string path = dir.path("run.log");
  for (int run = 1; run <= 3; ++run) {
    ofstream log(path.c_str(), ios::app);
    ASSERT_TRUE(log.good());
    log << "run " << run << '\n';
  }
  EXPECT_EQ(readWholeFile(path), "run 1\nrun 2\nrun 3\n");
}

TEST(ClassicProgram, DeepPutbackAndLines) {
  ITempDir dir;
  std::string path = dir.path("text");
  writeWholeFile(path, "first line\nsecond\n");
  ifstream in(path.c_str());
  char line[32];
  in.getline(line, sizeof line);
  EXPECT_STREQ(line, "first line");
  for (const char* p = "XYZW12345"; *p; ++p)
    in.putback(*p);
  EXPECT_TRUE(in.good());
  char got[10] = {};
  in.read(got, 9);
  EXPECT_STREQ(got, "54321WZYX");
  in.getline(line, sizeof line);
  EXPECT_STREQ(line, "second");
}

} // namespace
