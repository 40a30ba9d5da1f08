// Fault injection: realistic workloads run through IFileIOStream over an
// in-memory file whose Nth byte-stream call fails, for N = 1, 2, ... until no
// failure fires. After each run: the failure reached the caller as the
// IAccessError that was injected; once the call may succeed again and the
// caller has retried, the file holds what a failure-free run leaves, byte for
// byte, and the caller read what it reads there; nothing is left open.
//
// What "retry" means is the caller's and differs by step:
//  - opening: nothing may be open after the failure; open again;
//  - output: flush, ask tellp how much of the text the stream accepted, and
//    write the rest. The stream must have taken a prefix of the text, no
//    more, no less than it reports;
//  - input: seek back to where the step started and read again. A step of one
//    character must not have moved the position;
//  - seeking, sizing: the position must be as before; do it again;
//  - closing: close again.
// In the second mode every call from the Nth on fails: the caller gives up at
// the first failure and destroys its stream, which must release everything
// and leave in the file no byte that a failure-free run would not write.
#include "filebuf.hpp"
#include "iexcept.hpp"
#include "ifilestr.hpp"
#include "memfile.hpp"

#include <gtest/gtest.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace {

constexpr int kCallKinds = ICall::kDelete; // createStream .. setEndOfFile; deletion never fails
const char* const kCallNames[kCallKinds] = {"createStream", "close",     "doRead",      "doWrite",
                                            "doSeek",       "endOfFile", "setEndOfFile"};

std::string pattern(std::size_t size, int seed) {
  std::string s(size, '\0');
  for (std::size_t i = 0; i < size; ++i)
    s[i] = (i % 61 == 60) ? '\n' : static_cast<char>('!' + (i * 7 + static_cast<std::size_t>(seed)) % 90);
  return s;
}

std::string describeDifference(const std::string& got, const std::string& expected) {
  std::size_t at = 0;
  while (at < got.size() && at < expected.size() && got[at] == expected[at])
    ++at;
  std::ostringstream text;
  text << "sizes " << got.size() << " and " << expected.size() << ", first difference at offset " << at;
  return text.str();
}

// Ends a workload at its first failure when every call from then on fails.
struct IStopRun {};

// The caller's side of one run: every stream operation of a workload is a step.
class IFaultRun {
public:
  IFaultRun(IMemoryFile& mem, bool onward) : fMem(mem), fOnward(onward) {}

  // Runs `op`; when an injected failure reaches it, checks the exception and
  // then runs `retry`, or ends the workload when failures go on.
  void step(const char* what, const std::function<void()>& op, const std::function<void()>& retry) {
    try {
      op();
      return;
    } catch (const IAccessError& error) {
      ++fCaught;
      EXPECT_EQ(error.errorId(), fMem.fErrorId) << what << ": " << error.what();
      EXPECT_NE(std::string(error.what()).find("/memory/file"), std::string::npos) << error.what();
      EXPECT_EQ(fMem.fFailuresInjected, fCaught) << what << ": a failure was lost on its way to the caller";
    }
    if (fOnward)
      throw IStopRun();
    retry();
  }
  void step(const char* what, const std::function<void()>& op) { step(what, op, op); }

  int caught() const { return fCaught; }
  IMemoryFile& mem() { return fMem; }

private:
  IMemoryFile& fMem;
  bool fOnward;
  int fCaught = 0;
};

// A workload's stream and the position it expects the stream to stand at.
struct IClient {
  IFaultRun& fRun;
  IFile fFile;
  std::unique_ptr<IFileIOStream> fStream;
  long long fPos = 0;
  std::string fSeen; // what the workload read, compared with the failure-free run

  IFileIOStream& s() { return *fStream; }
  IFSFileBuf& buf() { return *static_cast<IFSFileBuf*>(fStream->rdbuf()); }

  void construct(int mode) {
    auto make = [&] { fStream = std::make_unique<IFileIOStream>(fFile, mode, 0); };
    fRun.step("construct", make, [&] {
      EXPECT_EQ(fRun.mem().fLiveStreams, 0) << "a failed construction left a byte stream";
      make();
    });
    fPos = (mode & (ios::ate | ios::app)) ? static_cast<long long>(fRun.mem().fData.size()) : 0;
  }

  void open(int mode) {
    auto op = [&] { s().open(fFile, mode, 0); };
    fRun.step("open", op, [&] {
      EXPECT_EQ(fRun.mem().fLiveStreams, 0) << "a failed open left a byte stream";
      EXPECT_EQ(buf().mode(), 0);
      op();
    });
    fPos = (mode & (ios::ate | ios::app)) ? static_cast<long long>(fRun.mem().fData.size()) : 0;
  }

  void close() {
    fRun.step("close", [&] { s().close(); });
    EXPECT_EQ(fRun.mem().fLiveStreams, 0);
  }

  enum EHow { kByChar, kBlock, kFormatted };

  // Writes `text` at the expected position; kFormatted writes it with the
  // inserters `insert`, which must produce exactly `text`.
  void emit(const std::string& text, EHow how, const std::function<void(ostream&)>& insert = {}) {
    long long start = fPos;
    auto op = [&] {
      if (how == kByChar) {
        for (char c : text)
          s().put(c);
      } else if (how == kBlock) {
        s().write(text.data(), static_cast<int>(text.size()));
      } else {
        insert(s());
      }
    };
    fRun.step("output", op, [&] {
      EXPECT_FALSE(s().fail()) << "the failure passed through the inserter unchanged";
      s().flush();
      long long now = s().tellp();
      ASSERT_GE(now, start) << "the stream lost output it had accepted";
      ASSERT_LE(now, start + static_cast<long long>(text.size())) << "the stream wrote more than it was given";
      std::size_t done = static_cast<std::size_t>(now - start);
      s().write(text.data() + done, static_cast<int>(text.size() - done));
    });
    EXPECT_FALSE(s().fail());
    fPos = start + static_cast<long long>(text.size());
  }

  // Reads with `op` (which appends what it read to `got`); on a failure the
  // position must lie inside the step, and the step starts again.
  void input(const char* what, long long length, const std::function<void(std::string&)>& op, bool single = false) {
    long long start = fPos;
    std::string got;
    fRun.step(
        what, [&] { op(got); },
        [&] {
          s().clear();
          long long now = s().tellg();
          if (single) {
            EXPECT_EQ(now, start) << what << ": a failed read moved the position";
          } else {
            EXPECT_GE(now, start) << what;
            EXPECT_LE(now, start + length) << what;
          }
          s().seekg(start);
          got.clear();
          op(got);
        });
    fSeen += got;
    fPos = start + length;
  }

  // A seek or size change that must leave the position alone when it fails.
  void seek(const char* what, long long target, const std::function<void()>& op) {
    long long before = fPos;
    fRun.step(what, op, [&] {
      EXPECT_EQ(s().tellg(), before) << what << ": a failed seek moved the position";
      op();
    });
    fPos = target;
  }

  void record(long long value) { fSeen += "<" + std::to_string(value) + ">"; }
};

struct IWorkload {
  const char* fName;
  std::string fInitial;
  std::function<void(IClient&)> fRun;
  std::vector<ICall::EOp> fMustFail; // kinds of call that this workload makes fail at least once
};

void PrintTo(const IWorkload& w, std::ostream* out) { *out << w.fName; }

std::string getChars(IFileIOStream& s, int count) {
  std::string got;
  for (int i = 0; i < count; ++i) {
    int c = s.get();
    if (c == EOF)
      return got + "<EOF>";
    got += static_cast<char>(c);
  }
  return got;
}

// --- the workloads ----------------------------------------------------------

void writeMoreThanABuffer(IClient& c) {
  c.construct(ios::out | ios::trunc);
  c.emit(pattern(3000, 1), IClient::kByChar);
  c.emit(pattern(9000, 2), IClient::kBlock);
  for (int i = 0; i < 400; ++i) {
    std::ostringstream expected;
    expected << i << ' ' << i * 0.25 << " item-" << -i << '\n';
    c.emit(expected.str(), IClient::kFormatted,
           [i](ostream& out) { out << i << ' ' << i * 0.25 << " item-" << -i << '\n'; });
  }
  c.emit(pattern(40000, 3), IClient::kBlock);
  c.close();
}

void readBackWithPutbacks(IClient& c) {
  c.construct(ios::in);
  const long long size = static_cast<long long>(c.fRun.mem().fData.size());
  int turn = 0;
  while (c.fPos < size - 5000) {
    switch (turn++ % 5) {
    case 0: { // to a few bytes before a refill, so that the putbacks that follow cross it
      long long here = c.fPos;
      c.seek("seekg", here, [&] { c.s().seekg(here); });
      c.input("read", 4086, [&](std::string& got) {
        std::string block(4086, '\0');
        c.s().read(block.data(), 4086);
        got = block.substr(0, static_cast<std::size_t>(c.s().gcount()));
      });
      break;
    }
    case 1: { // more putbacks than the room in front of the refill: the array shifts
      const int depth = turn % 2 ? 15 : 1100;
      c.input("putback", depth, [&](std::string& got) {
        std::string first = getChars(c.s(), depth);
        for (std::size_t i = first.size(); i-- > 0;)
          c.s().putback(first[i]);
        got = first + "|" + getChars(c.s(), depth);
      });
      break;
    }
    case 2:
      c.input("peek, get, unget", 3, [&](std::string& got) {
        got = std::to_string(c.s().peek()) + getChars(c.s(), 3);
        c.s().unget();
        got += getChars(c.s(), 1);
      });
      break;
    case 3: {
      long long start = c.fPos;
      std::string line;
      c.fRun.step(
          "getline", [&] { getline(c.s(), line); },
          [&] {
            c.s().clear();
            c.s().seekg(start);
            getline(c.s(), line);
          });
      c.fSeen += line + "\n";
      c.fPos = start + static_cast<long long>(line.size()) + 1;
      break;
    }
    default:
      c.input(
          "get", 1, [&](std::string& got) { got = getChars(c.s(), 1); }, true);
      break;
    }
  }
  const int rest = static_cast<int>(size - c.fPos);
  c.input("tail", rest, [&](std::string& got) { got = getChars(c.s(), rest + 1); });
  c.close();
}

void readAndOverwriteInPlace(IClient& c) {
  c.construct(ios::in | ios::out);
  const long long size = static_cast<long long>(c.fRun.mem().fData.size());
  const int reads[] = {100, 37, 4000, 1, 250};
  const int writes[] = {10, 1, 300, 4096, 7};
  for (int i = 0; c.fPos + 5000 < size; ++i) {
    int n = reads[i % 5];
    c.input("read", n, [&](std::string& got) {
      std::string block(static_cast<std::size_t>(n), '\0');
      c.s().read(block.data(), n);
      got = block;
    });
    c.emit(pattern(static_cast<std::size_t>(writes[i % 5]), 10 + i), i % 2 ? IClient::kBlock : IClient::kByChar);
  }
  c.close();
}

void seekAround(IClient& c) {
  c.construct(ios::in | ios::out);
  IFileIOStream& s = c.s();
  const long long size = static_cast<long long>(c.fRun.mem().fData.size());
  const long long spots[] = {0, 4095, 4096, 9000, 12345, 19900};
  for (long long spot : spots) {
    c.seek("seekg", spot, [&] { s.seekg(spot); });
    c.input(
        "get", 1, [&](std::string& got) { got = getChars(s, 1); }, true);
    c.seek("seekg cur", c.fPos + 5, [&] { s.seekg(5, ios::cur); });
    c.input(
        "get", 1, [&](std::string& got) { got = getChars(s, 1); }, true);
    c.emit("#" + std::to_string(spot) + "#", IClient::kBlock);
    c.seek("seekp cur back", c.fPos - 3, [&] { s.seekp(-3, ios::cur); });
    c.input("get", 2, [&](std::string& got) { got = getChars(s, 2); });
    long long told = 0;
    c.fRun.step("tellg", [&] { told = s.tellg(); });
    c.record(told);
  }
  c.seek("seekg end", size - 10, [&] { s.seekg(-10, ios::end); });
  c.input("read", 10, [&](std::string& got) { got = getChars(s, 10); });
  c.seek("seekp end", size, [&] { s.seekp(0, ios::end); });
  c.emit(pattern(5000, 4), IClient::kBlock);
  long long end = 0;
  c.fRun.step("flush", [&] { s.flush(); });
  c.fRun.step("endOfFile", [&] { end = c.buf().endOfFile(); });
  c.record(end);
  c.fRun.step("setEndOfFile", [&] { c.buf().setEndOfFile(end - 2500); });
  c.seek("seekp beyond", end + 100, [&] { s.seekp(end + 100); });
  c.emit("past the end", IClient::kBlock);
  c.seek("seekg mid", 3000, [&] { s.seekg(3000); });
  c.input(
      "get", 1, [&](std::string& got) { got = getChars(s, 1); }, true);
  c.fRun.step("setEndOfFile", [&] { c.buf().setEndOfFile(size / 2); }); // read-ahead stays as it was
  c.input("read", 20, [&](std::string& got) { got = getChars(s, 20); });
  c.close();
}

void closeAndReopen(IClient& c) {
  c.construct(ios::out | ios::trunc);
  c.emit(pattern(5000, 5), IClient::kBlock);
  c.close();
  c.open(ios::in | ios::out | ios::ate);
  c.emit(pattern(3000, 6), IClient::kByChar);
  c.close();
  c.open(ios::app);
  c.emit(pattern(100, 7), IClient::kBlock);
  c.close();
  c.open(ios::in);
  c.input("read all", 8101, [&](std::string& got) { got = getChars(c.s(), 8101); });
  c.close();
  c.construct(ios::in | ios::out | ios::ate);
  c.emit("tail", IClient::kBlock);
  c.seek("seekg", 100, [&] { c.s().seekg(100); });
  c.input("read", 50, [&](std::string& got) { got = getChars(c.s(), 50); });
  c.close();
}

const std::vector<IWorkload>& workloads() {
  using E = ICall::EOp;
  static const std::vector<IWorkload> all = {
      {"WriteMoreThanABuffer", "", writeMoreThanABuffer, {E::kCreate, E::kWrite, E::kClose}},
      {"ReadBackWithPutbacks", pattern(40000, 8), readBackWithPutbacks, {E::kCreate, E::kRead, E::kSeek, E::kClose}},
      {"ReadAndOverwriteInPlace",
       pattern(30000, 9),
       readAndOverwriteInPlace,
       {E::kCreate, E::kRead, E::kWrite, E::kSeek, E::kClose}},
      {"SeekAround",
       pattern(20000, 10),
       seekAround,
       {E::kCreate, E::kRead, E::kWrite, E::kSeek, E::kEndOfFile, E::kSetEndOfFile, E::kClose}},
      {"CloseAndReopen",
       "old contents",
       closeAndReopen,
       {E::kCreate, E::kRead, E::kWrite, E::kSeek, E::kEndOfFile, E::kClose}},
  };
  return all;
}

// --- the driver ---------------------------------------------------------------

struct ITally {
  long long fRuns = 0;
  long long fInjected = 0;
  std::array<long long, kCallKinds> fByKind{};
};

ITally& grandTotal() {
  static ITally total;
  return total;
}

// Prints the figures once all workloads have run.
class IFigures : public ::testing::Environment {
public:
  void TearDown() override {
    const ITally& t = grandTotal();
    std::printf("fault injection: %lld runs, %lld injected failures survived (", t.fRuns, t.fInjected);
    for (int k = 0; k < kCallKinds; ++k)
      std::printf("%s%s %lld", k ? ", " : "", kCallNames[k], t.fByKind[static_cast<std::size_t>(k)]);
    std::printf(")\n");
  }
};
const auto* const gFigures = ::testing::AddGlobalTestEnvironment(new IFigures);

struct IRunResult {
  std::string fData;
  std::string fSeen;
  int fLiveStreams = 0;
  int fCaught = 0;
  int fInjected = 0;
  std::vector<ICall> fInjectedCalls;
  std::vector<std::string> fEverHeld; // by offset: every value the byte had during the run
};

// With `shortReads` the file answers reads with fewer bytes than asked, so
// that the get areas, and the putback shifts in them, fall elsewhere.
IRunResult runOnce(const IWorkload& w, long long failCall, bool onward, bool shortReads) {
  std::shared_ptr<IMemoryFile> mem;
  IFile file = memoryFile(mem, w.fInitial);
  mem->fFailCall = failCall;
  mem->fFailOnward = onward;
  mem->fErrorId = onward ? ENOSPC : EIO;
  if (shortReads) {
    static const long long kLimits[] = {777, 1, 4096, 100, 3000, 2};
    for (int i = 0; i < 6000; ++i)
      mem->fReadLimits.push_back(kLimits[i % 6]);
  }
  mem->fKeepWrites = failCall == 0;
  IFaultRun run(*mem, onward);
  IRunResult result;
  {
    IClient client{run, file, nullptr, 0, {}};
    try {
      w.fRun(client);
    } catch (const IStopRun&) {
    }
    result.fSeen = client.fSeen;
  } // the client's stream goes here; its destructor must swallow what still fails
  result.fData = mem->fData;
  result.fLiveStreams = mem->fLiveStreams;
  result.fCaught = run.caught();
  result.fInjected = mem->fFailuresInjected;
  result.fInjectedCalls = mem->fInjected;
  if (mem->fKeepWrites) {
    std::vector<std::string>& held = result.fEverHeld;
    auto note = [&](std::size_t at, char c) {
      if (held.size() <= at)
        held.resize(at + 1);
      if (held[at].find(c) == std::string::npos)
        held[at] += c;
    };
    for (std::size_t i = 0; i < w.fInitial.size(); ++i)
      note(i, w.fInitial[i]);
    for (const auto& [at, bytes] : mem->fWrites)
      for (std::size_t i = 0; i < bytes.size(); ++i)
        note(static_cast<std::size_t>(at) + i, bytes[i]);
  }
  return result;
}

class Faults : public ::testing::TestWithParam<std::tuple<IWorkload, bool, bool>> {};

TEST_P(Faults, EveryCallFailsInTurn) {
  const IWorkload& w = std::get<0>(GetParam());
  const bool onward = std::get<1>(GetParam());
  const bool shortReads = std::get<2>(GetParam());
  IRunResult clean = runOnce(w, 0, false, shortReads);
  ASSERT_EQ(clean.fLiveStreams, 0);
  ASSERT_EQ(clean.fCaught, 0);

  ITally tally;
  for (long long n = 1;; ++n) {
    IRunResult r = runOnce(w, n, onward, shortReads);
    ++tally.fRuns;
    if (r.fInjected == 0) {
      EXPECT_EQ(r.fData, clean.fData) << "a run without failure differs";
      break;
    }
    const ICall& failed = r.fInjectedCalls.front();
    SCOPED_TRACE(::testing::Message() << w.fName << ", call " << n << " (" << failed << ") fails"
                                      << (onward ? " and every call after it" : " once"));
    tally.fInjected += r.fInjected;
    ++tally.fByKind[static_cast<std::size_t>(failed.fOp)];
    EXPECT_EQ(r.fLiveStreams, 0) << "a byte stream was left undeleted";
    EXPECT_GE(r.fCaught, 1) << "the failure never reached the caller";
    if (!onward) {
      EXPECT_EQ(r.fCaught, 1);
      EXPECT_TRUE(r.fData == clean.fData) << describeDifference(r.fData, clean.fData);
      EXPECT_TRUE(r.fSeen == clean.fSeen) << "what the caller read: " << describeDifference(r.fSeen, clean.fSeen);
    } else {
      // Each byte holds what it held at the start, what the failure-free run
      // wrote there at some time, or 0 where the file was extended.
      EXPECT_LE(r.fData.size(), clean.fEverHeld.size());
      for (std::size_t i = 0; i < r.fData.size(); ++i) {
        if (r.fData[i] != '\0' &&
            (i >= clean.fEverHeld.size() || clean.fEverHeld[i].find(r.fData[i]) == std::string::npos)) {
          ADD_FAILURE() << "byte " << i << " holds what no run writes there";
          break;
        }
      }
    }
    if (HasFailure())
      return; // the first broken run tells the story; the rest repeat it
  }

  for (ICall::EOp kind : w.fMustFail)
    EXPECT_GT(tally.fByKind[static_cast<std::size_t>(kind)], 0) << "no failure of " << kCallNames[kind];
  std::printf("%s, %s%s: %lld runs, %lld failures injected\n", w.fName, onward ? "failing onward" : "failing once",
              shortReads ? ", short reads" : "", tally.fRuns, tally.fInjected);
  ITally& total = grandTotal();
  total.fRuns += tally.fRuns;
  total.fInjected += tally.fInjected;
  for (int k = 0; k < kCallKinds; ++k)
    total.fByKind[static_cast<std::size_t>(k)] += tally.fByKind[static_cast<std::size_t>(k)];
}

INSTANTIATE_TEST_SUITE_P(Workloads, Faults,
                         ::testing::Combine(::testing::ValuesIn(workloads()), ::testing::Bool(), ::testing::Bool()),
                         [](const auto& info) {
                           return std::string(std::get<0>(info.param).fName) +
                                  (std::get<1>(info.param) ? "_Onward" : "_Once") +
                                  (std::get<2>(info.param) ? "_ShortReads" : "");
                         });

} // namespace
