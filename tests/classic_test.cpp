// Classic programs (tests/classic) run as their users run them, with a pipe
// on standard input, output and error: the standard streams' tie, unit
// buffering and flush at exit, their step with C stdio in both directions,
// and files through IFileIOStream and the classic file streams.
#include "tempdir.hpp"

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <ostream>
#include <poll.h>
#include <string>
#include <sys/wait.h>
#include <tuple>
#include <unistd.h>
#include <vector>

#if !defined(KFCLASSIC_PROGRAM) || !defined(KFMIXED_PROGRAM) || !defined(KFMIXED_PORT_PROGRAM) ||                   \
    !defined(KFFILES_PROGRAM)
#error "KFCLASSIC_PROGRAM, KFMIXED_PROGRAM, KFMIXED_PORT_PROGRAM and KFFILES_PROGRAM (the built classic programs) must be defined by the build"
#endif

namespace {

// A wait this long means the program is stuck, not slow.
constexpr int kStuckMillis = 60000;

void closeDescriptor(int& fd) {
  if (fd >= 0)
    ::close(fd);
  fd = -1;
}

// The classic program, started with pipes on its standard descriptors (or
// its output on a given file), killed and reaped if a test leaves early.
class IChild {
public:
  explicit IChild(const std::vector<std::string>& arguments, const char* outputFile = nullptr,
                  const char* programPath = KFCLASSIC_PROGRAM) {
    int in[2], out[2], err[2];
    if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0)
      throw std::runtime_error(std::string("pipe2: ") + std::strerror(errno));
    int output = out[1];
    if (outputFile && (output = ::open(outputFile, O_WRONLY | O_CLOEXEC)) < 0)
      throw std::runtime_error(std::string("open ") + outputFile + ": " + std::strerror(errno));

    std::vector<char*> argv;
    std::string program = programPath;
    argv.push_back(program.data());
    std::vector<std::string> copies = arguments;
    for (std::string& a : copies)
      argv.push_back(a.data());
    argv.push_back(nullptr);

    fPid = ::fork();
    if (fPid < 0)
      throw std::runtime_error(std::string("fork: ") + std::strerror(errno));
    if (fPid == 0) {
      // dup2 clears close-on-exec on the copies; everything else closes at exec.
      if (::dup2(in[0], 0) < 0 || ::dup2(output, 1) < 0 || ::dup2(err[1], 2) < 0)
        ::_exit(126);
      ::execv(argv[0], argv.data());
      ::_exit(127);
    }
    ::close(in[0]);
    ::close(out[1]);
    ::close(err[1]);
    if (output != out[1])
      ::close(output);
    fIn = in[1];
    fOut = out[0];
    fErr = err[0];
  }

  ~IChild() {
    closeDescriptor(fIn);
    closeDescriptor(fOut);
    closeDescriptor(fErr);
    if (fPid > 0) {
      ::kill(fPid, SIGKILL);
      int status;
      while (::waitpid(fPid, &status, 0) < 0 && errno == EINTR) {
      }
    }
  }

  IChild(const IChild&) = delete;
  IChild& operator=(const IChild&) = delete;

  void send(const std::string& text) {
    std::size_t done = 0;
    while (done < text.size()) {
      ssize_t n = ::write(fIn, text.data() + done, text.size() - done);
      if (n < 0 && errno == EINTR)
        continue;
      ASSERT_GT(n, 0) << "write to the program: " << std::strerror(errno);
      done += static_cast<std::size_t>(n);
    }
  }
  void endInput() { closeDescriptor(fIn); }

  // Reads standard output and error until `text` has arrived on the one
  // named; false when the program ends or stalls first.
  bool awaitOutput(const std::string& text) { return pump(&fOutText, text); }
  bool awaitError(const std::string& text) { return pump(&fErrText, text); }

  // Closes its input, reads everything and reaps it: its exit status, or -1.
  int finish() {
    endInput();
    pump(nullptr, "");
    int status = 0;
    pid_t got;
    while ((got = ::waitpid(fPid, &status, 0)) < 0 && errno == EINTR) {
    }
    fPid = -1;
    return got > 0 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  const std::string& output() const { return fOutText; }
  const std::string& error() const { return fErrText; }

private:
  // Reads what comes until `*target` holds `text` (with no target: until
  // both descriptors are at their end).
  bool pump(std::string* target, const std::string& text) {
    while (!(target && target->find(text) != std::string::npos)) {
      pollfd fds[2] = {{fOut, POLLIN, 0}, {fErr, POLLIN, 0}};
      if (fOut < 0 && fErr < 0)
        return false;
      int ready = ::poll(fds, 2, kStuckMillis);
      if (ready < 0 && errno == EINTR)
        continue;
      if (ready <= 0) {
        ADD_FAILURE() << "the program wrote nothing for " << kStuckMillis / 1000 << " s; waiting for \"" << text
                      << "\"; output so far \"" << fOutText << "\", errors \"" << fErrText << '"';
        return false;
      }
      drain(fds[0], fOut, fOutText);
      drain(fds[1], fErr, fErrText);
    }
    return true;
  }

  static void drain(const pollfd& p, int& fd, std::string& text) {
    if (fd < 0 || p.revents == 0)
      return;
    char chunk[4096];
    ssize_t n = ::read(fd, chunk, sizeof chunk);
    if (n > 0)
      text.append(chunk, static_cast<std::size_t>(n));
    else if (n == 0 || errno != EINTR)
      closeDescriptor(fd);
  }

  pid_t fPid = -1;
  int fIn = -1;
  int fOut = -1;
  int fErr = -1;
  std::string fOutText;
  std::string fErrText;
};

// A write to a program that has ended must fail, not kill the test.
class ClassicProgram : public ::testing::Test {
protected:
  void SetUp() override { fOldPipeHandler = std::signal(SIGPIPE, SIG_IGN); }
  void TearDown() override { std::signal(SIGPIPE, fOldPipeHandler); }

  void (*fOldPipeHandler)(int) = nullptr;
  ITempDir fDir;
};

std::string line(const char* label, const char* value) {
  char text[64];
  std::snprintf(text, sizeof text, "%-8s%10s\n", label, value);
  return text;
}

std::string fixed(double value) {
  char text[64];
  std::snprintf(text, sizeof text, "%.3f", value);
  return text;
}

std::string reportOf(const std::vector<double>& numbers) {
  std::string text = line("count", std::to_string(numbers.size()).c_str());
  if (numbers.empty())
    return text;
  double sum = 0, lowest = numbers[0], highest = numbers[0];
  for (double x : numbers) {
    sum += x;
    lowest = x < lowest ? x : lowest;
    highest = x > highest ? x : highest;
  }
  return text + line("sum", fixed(sum).c_str()) + line("mean", fixed(sum / numbers.size()).c_str()) +
         line("lowest", fixed(lowest).c_str()) + line("highest", fixed(highest).c_str());
}

// The prompt comes before any input only because reading cin flushes cout;
// the complaint comes while the program waits for more input only because
// cerr is unit-buffered; the last lines come only because exit flushes.
TEST_F(ClassicProgram, TalksThroughPipesAndWritesItsReport) {
  std::string file = fDir.path("report.txt");
  IChild child({file});
  ASSERT_TRUE(child.awaitOutput("numbers? "));
  child.send("3 4.5\noops 1\n");
  ASSERT_TRUE(child.awaitError("skipped 'oops'\n"));
  EXPECT_EQ(child.output(), "numbers? ") << "the report must wait for the end of the input";
  child.send("-2\n");
  ASSERT_EQ(child.finish(), 0) << child.error();

  std::string report = reportOf({3, 4.5, 1, -2});
  EXPECT_EQ(child.output(), "numbers? " + report + "report in " + file + "\n");
  EXPECT_EQ(child.error(), "skipped 'oops'\n4 numbers read\n");
  EXPECT_EQ(readWholeFile(file), report);
}

struct IBatch {
  const char* fName;
  std::string fInput;
  std::vector<double> fNumbers;
  std::string fComplaints;
};

std::vector<IBatch> batches() {
  // Enough numbers to need many reads of standard input, the fields lying
  // across the ends of the runtime's 4096-byte areas and of the pipe's chunks.
  IBatch many{"many", "", {}, ""};
  for (int i = 0; i < 5000; ++i) {
    many.fNumbers.push_back(i % 7 == 0 ? -i : i * 1.25);
    many.fInput += fixed(many.fNumbers.back()) + (i % 3 ? " " : "\n\t");
  }
  return {
      {"empty", "", {}, ""},
      {"blank", " \n\n\t ", {}, ""},
      {"one_unterminated", "42", {42}, ""},
      {"words_only", "alpha beta", {}, "skipped 'alpha'\nskipped 'beta'\n"},
      {"signs_and_exponents", "+1 -1 2e2 .5\n", {1, -1, 200, 0.5}, ""},
      many,
  };
}

void PrintTo(const IBatch& b, std::ostream* out) { *out << b.fName; }

class ClassicBatch : public ClassicProgram, public ::testing::WithParamInterface<IBatch> {};

TEST_P(ClassicBatch, ReportsAllItsInput) {
  const IBatch& b = GetParam();
  std::string file = fDir.path("report.txt");
  IChild child({file});
  // Sent in pieces of odd sizes, as a slow writer would.
  for (std::size_t at = 0; at < b.fInput.size(); at += 997)
    child.send(b.fInput.substr(at, 997));
  ASSERT_EQ(child.finish(), 0) << child.error();
  std::string report = reportOf(b.fNumbers);
  EXPECT_EQ(child.output(), "numbers? " + report + "report in " + file + "\n");
  EXPECT_EQ(child.error(), b.fComplaints + std::to_string(b.fNumbers.size()) + " numbers read\n");
  EXPECT_EQ(readWholeFile(file), report);
}

INSTANTIATE_TEST_SUITE_P(Inputs, ClassicBatch, ::testing::ValuesIn(batches()),
                         [](const auto& info) { return std::string(info.param.fName); });

TEST_F(ClassicProgram, FailuresReachItsUserAndItsExitStatus) {
  {
    IChild child({fDir.path()});
    child.send("1 2\n");
    EXPECT_EQ(child.finish(), 1);
    EXPECT_NE(child.error().find("it is a directory"), std::string::npos) << child.error();
  }
  {
    // ENOSPC on standard output: the flush fails and says so.
    IChild child({fDir.path("report.txt")}, "/dev/full");
    child.send("1 2\n");
    EXPECT_EQ(child.finish(), 3);
    EXPECT_EQ(child.error(), "kfclassic: cannot write the report\n");
    EXPECT_EQ(readWholeFile(fDir.path("report.txt")), reportOf({1, 2}));
  }
  {
    IChild child({});
    EXPECT_EQ(child.finish(), 2);
    EXPECT_EQ(child.error(), "usage: kfclassic REPORT\n");
  }
}

// --- C stdio and the standard streams, one program ---------------------------

// Each value shows how it was read; a byte read twice or skipped changes it.
const char kMixedInput[] = "1 2\n3 4 five\nsix seven\n8\n";
const char kMixedOutput[] = "prompt? a=1\nb=2\nc=10\nd=3\nline=[ 4 five\n]\nch=s\nword=ix\nrest=[ seven]\n"
                            "e=8, peeked 8\nh=10\nf=-1 eof\nend -1\n";
const char kMixedErrors[] = "e1 stdio\ne2 cerr\ne3 clog\ne4 stdio\n";

// A script of kfmixed (none: the long one), its input and what it writes.
struct IMixedRun {
  const char* fScript;
  const char* fInput;
  const char* fOutput;
  const char* fErrors;
};

const IMixedRun kMixedRuns[] = {
    {nullptr, kMixedInput, kMixedOutput, kMixedErrors},
    {"pushback", "abcdef", "got a, then Xbcdef\n", ""},
    {"switch", "7 8\n9 ten\n", "a=7 b=8 was 1 ch=10 c=9 word=ten end=10 then -1\n", ""},
};

void PrintTo(const IMixedRun& run, std::ostream* out) { *out << (run.fScript ? run.fScript : "the long script"); }

// The program (on the library's stdio seam, or on the portable one), the
// script, and the size of the pieces the input arrives in.
using IMixedCase = std::tuple<const char*, IMixedRun, std::size_t>;

class MixedProgram : public ClassicProgram, public ::testing::WithParamInterface<IMixedCase> {};

// The input arrives whole, or in pieces, so that reads of descriptor 0 end
// at every place in it.
TEST_P(MixedProgram, ReadsEachByteOnceAndWritesInProgramOrder) {
  const auto& [program, run, piece] = GetParam();
  std::vector<std::string> arguments;
  if (run.fScript)
    arguments.push_back(run.fScript);
  IChild child(arguments, nullptr, program);
  std::string input = run.fInput;
  for (std::size_t at = 0; at < input.size(); at += piece) {
    child.send(input.substr(at, piece));
    if (piece == 1)
      ::usleep(2000);
  }
  ASSERT_EQ(child.finish(), 0) << child.output() << child.error();
  EXPECT_EQ(child.output(), run.fOutput);
  EXPECT_EQ(child.error(), run.fErrors);
}

INSTANTIATE_TEST_SUITE_P(Pieces, MixedProgram,
                         ::testing::Combine(::testing::Values(KFMIXED_PROGRAM, KFMIXED_PORT_PROGRAM),
                                            ::testing::ValuesIn(kMixedRuns),
                                            ::testing::Values(std::size_t{1}, std::size_t{5}, std::size_t{100})));

// --- the classic file streams, one program ------------------------------------

TEST_F(ClassicProgram, CopiesCountsAndLogsThroughFstreamH) {
  std::string from = fDir.path("from.txt"), to = fDir.path("to.txt"), log = fDir.path("count.log");
  writeWholeFile(from, "one two\nthree  four five\n\nsix\n");
  writeWholeFile(to, "old bytes that must go");
  {
    IChild child({from, to, log}, nullptr, KFFILES_PROGRAM);
    ASSERT_EQ(child.finish(), 0) << child.error();
    EXPECT_EQ(child.output(), "4 6 30\n");
  }
  EXPECT_EQ(readWholeFile(to), readWholeFile(from)) << "ofstream(name) replaces the content";
  {
    IChild child({from, fDir.path("new.txt"), log, "new"}, nullptr, KFFILES_PROGRAM);
    ASSERT_EQ(child.finish(), 0) << child.error();
  }
  EXPECT_EQ(readWholeFile(log), "     4     6    30 " + from + "\n     4     6    30 " + from + "\n");
  {
    IChild child({from, to, log, "new"}, nullptr, KFFILES_PROGRAM);
    EXPECT_EQ(child.finish(), 1);
    EXPECT_EQ(child.error(), "kffiles: cannot make " + to + "\n");
  }
  {
    IChild child({fDir.path("missing"), to, log}, nullptr, KFFILES_PROGRAM);
    EXPECT_EQ(child.finish(), 1);
    EXPECT_EQ(child.error(), "kffiles: cannot open " + fDir.path("missing") + "\n");
  }
  EXPECT_EQ(readWholeFile(to), readWholeFile(from)) << "refused opens change nothing";
}

} // namespace
