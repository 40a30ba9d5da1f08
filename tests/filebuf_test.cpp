// The file stream buffer over a recording in-memory byte stream: the calls it
// makes, in order and with their arguments, and the bytes it delivers.
#include "filebuf.hpp"
#include "iexcept.hpp"
#include "memfile.hpp"
#include "tempdir.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using namespace calls;
using ICalls = std::vector<ICall>;

// Shows the buffer's areas to the tests.
class IProbeBuf : public IFSFileBuf {
public:
  using IFSFileBuf::IFSFileBuf;
  // The array, found from a get area that a refill has just made.
  char* arrayAfterRefill() const { return gptr() - 4; }
  using streambuf::eback;
  using streambuf::egptr;
  using streambuf::epptr;
  using streambuf::gptr;
  using streambuf::pbase;
  using streambuf::pptr;
};

std::string pattern(std::size_t size) {
  std::string s(size, '\0');
  for (std::size_t i = 0; i < size; ++i)
    s[i] = static_cast<char>('A' + (i * 7 + i / 26) % 26);
  return s;
}

std::string readAll(streambuf& buf) {
  std::string s;
  for (int c; (c = buf.sbumpc()) != EOF;)
    s += static_cast<char>(c);
  return s;
}

// Line `number` (from 1) of the buffer's source, "" past its end.
std::string sourceLine(unsigned long number) {
  std::string text = readWholeFile(KEL_FILEBUF_SOURCE);
  std::size_t start = 0;
  for (unsigned long n = 1; n < number && start != std::string::npos; ++n) {
    start = text.find('\n', start);
    if (start != std::string::npos)
      ++start;
  }
  if (number == 0 || start == std::string::npos)
    return "";
  return text.substr(start, text.find('\n', start) - start);
}

// The failure names the check's own line: there the source names the
// function and takes the line from __LINE__.
void expectAssertion(auto&& operation, const char* expression, const char* function) {
  try {
    operation();
    FAIL() << "no assertion for " << expression;
  } catch (const IAssertionFailure& failure) {
    EXPECT_STREQ(failure.expression(), expression);
    EXPECT_STREQ(failure.location().fileName(), "filebuf");
    EXPECT_STREQ(failure.location().functionName(), function);
    std::string line = sourceLine(failure.location().lineNumber());
    EXPECT_NE(line.find(std::string("\"") + function + "\""), std::string::npos) << line;
    EXPECT_NE(line.find("__LINE__"), std::string::npos) << line;
  }
}

class FileBuf : public ::testing::Test {
protected:
  // Opens a buffer on an in-memory file holding `content`; the log starts empty.
  std::unique_ptr<IProbeBuf> make(std::string content, int mode, int others = 0) {
    IFile f = memoryFile(fMem, std::move(content));
    auto buf = std::make_unique<IProbeBuf>(f, mode, others);
    fMem->fCalls.clear();
    return buf;
  }
  // The same, standing at `start` after `start` bytes of filler: room for
  // putback in front of `content`.
  std::unique_ptr<IProbeBuf> makeAt(std::size_t start, const std::string& content, int mode) {
    auto buf = make(std::string(start, '.') + content, mode);
    buf->seekpos(static_cast<streampos>(start), ios::in);
    fMem->fCalls.clear();
    return buf;
  }
  // A pipe: `input` to read, and what is written collects in fMem->fOutput.
  std::unique_ptr<IProbeBuf> makePipe(std::string input, int mode = ios::in | ios::out) {
    IFile f = memoryFile(fMem, std::move(input));
    fMem->fCanSeek = false;
    auto buf = std::make_unique<IProbeBuf>(f, mode, 0);
    fMem->fCalls.clear();
    return buf;
  }
  const ICalls& log() const { return fMem->fCalls; }

  std::shared_ptr<IMemoryFile> fMem;
};

// --- opening and closing ---------------------------------------------------

struct IOpenCase {
  int fMode;
  int fExpectedMode;
  bool fAtEnd;
};

class FileBufOpen : public FileBuf, public ::testing::WithParamInterface<IOpenCase> {};

TEST_P(FileBufOpen, ModeAndStartPosition) {
  const IOpenCase& c = GetParam();
  IFile f = memoryFile(fMem, pattern(300));
  IProbeBuf buf(f, c.fMode, ios::in);
  EXPECT_EQ(buf.mode(), c.fExpectedMode);
  EXPECT_EQ(buf.position(), c.fAtEnd ? 300 : 0);
  EXPECT_EQ(buf.gptr(), nullptr);
  EXPECT_EQ(buf.pbase(), nullptr);
  ICalls expected{create(c.fMode, ios::in)};
  if (c.fAtEnd)
    expected.push_back(endOfFile());
  EXPECT_EQ(log(), expected);
}

INSTANTIATE_TEST_SUITE_P(Modes, FileBufOpen,
                         ::testing::Values(IOpenCase{ios::in | ios::out, 3, false}, IOpenCase{ios::app, 10, true},
                                           IOpenCase{ios::in | ios::ate, 5, true}, IOpenCase{ios::in, 1, false},
                                           IOpenCase{ios::out | ios::app | ios::in, 11, true}));

TEST_F(FileBuf, OpenOnOpenBufferReportsBeforeAnyCall) {
  auto buf = make("abc", ios::in);
  std::shared_ptr<IMemoryFile> second;
  IFile other = memoryFile(second, "x");
  expectAssertion([&] { buf->open(other, ios::in, 0); }, "!fByteStream", "IFSFileBuf::open(const IFile&,int,int)");
  EXPECT_TRUE(log().empty());
  EXPECT_TRUE(second->fCalls.empty());
  EXPECT_EQ(buf->mode(), ios::in);
}

TEST_F(FileBuf, SecondCloseReportsAndMakesNoCall) {
  auto buf = make("abc", ios::in);
  buf->close();
  fMem->fCalls.clear();
  expectAssertion([&] { buf->close(); }, "fByteStream", "IFSFileBuf::close()");
  EXPECT_TRUE(log().empty());
}

TEST_F(FileBuf, CloseLeavesClosedStateAndReopenReusesArray) {
  auto buf = make("abcdef", ios::in | ios::out);
  EXPECT_EQ(buf->sgetc(), 'a');
  char* array = buf->arrayAfterRefill();
  buf->sbumpc();
  buf->close();
  EXPECT_EQ(buf->mode(), 0);
  EXPECT_FALSE(buf->file().isValid());
  EXPECT_EQ(buf->position(), 0);
  EXPECT_EQ(buf->gptr(), nullptr) << "unread input of a closed file must go";

  std::shared_ptr<IMemoryFile> second;
  IFile other = memoryFile(second, "XYZ");
  buf->open(other, ios::in, 0);
  EXPECT_EQ(buf->file().getRecord(), other.getRecord());
  EXPECT_EQ(buf->sgetc(), 'X');
  EXPECT_EQ(buf->arrayAfterRefill(), array);
  EXPECT_EQ(readAll(*buf), "XYZ");
  EXPECT_EQ(second->fCalls.front(), create(ios::in, 0));
}

TEST_F(FileBuf, CloseNeverGivesUnreadInputToTheNextFile) {
  auto buf = make(pattern(100), ios::in);
  buf->sbumpc();
  buf->close();
  std::shared_ptr<IMemoryFile> second;
  IFile other = memoryFile(second, "0123456789");
  buf->open(other, ios::in | ios::out, 0);
  buf->sync();
  EXPECT_EQ(second->fCalls, ICalls{create(ios::in | ios::out, 0)});
  EXPECT_EQ(buf->position(), 0);
}

TEST_F(FileBuf, ClosedBufferSeeksNothingAndReportsFileSizeQueries) {
  auto buf = make("abc", ios::in | ios::out);
  buf->close();
  fMem->fCalls.clear();
  EXPECT_EQ(buf->seekoff(0, ios::cur, ios::in), EOF);
  EXPECT_EQ(buf->seekpos(1, ios::in), EOF);
  EXPECT_EQ(buf->position(), 0);
  EXPECT_EQ(buf->sputc('x'), EOF);
  EXPECT_EQ(buf->sgetc(), EOF);
  expectAssertion([&] { buf->endOfFile(); }, "fByteStream", "IFSFileBuf::endOfFile() const");
  expectAssertion([&] { buf->setEndOfFile(0); }, "fByteStream", "IFSFileBuf::setEndOfFile(IFileSize)");
  EXPECT_TRUE(log().empty());
}

TEST_F(FileBuf, FailingEndOfFileDuringAteOpenDeletesStreamUnclosed) {
  IFile f = memoryFile(fMem, "abc");
  fMem->fFailCall = 2; // createStream, then endOfFile
  EXPECT_THROW(IProbeBuf(f, ios::in | ios::ate, 0), IAccessError);
  EXPECT_EQ(fMem->fCalls, (ICalls{create(ios::in | ios::ate, 0), endOfFile(), destroy()}));
  EXPECT_EQ(fMem->fLiveStreams, 0);

  auto buf = make("abc", ios::in);
  buf->close();
  IFile g = memoryFile(fMem, "xyz");
  fMem->fFailCall = 2;
  EXPECT_THROW(buf->open(g, ios::app, 0), IAccessError);
  EXPECT_EQ(buf->mode(), 0);
  EXPECT_EQ(fMem->fLiveStreams, 0);
  fMem->fFailCall = 0;
  buf->open(g, ios::in, 0);
  EXPECT_EQ(readAll(*buf), "xyz");
}

TEST_F(FileBuf, FailingCreateLeavesBufferClosedAndReusable) {
  auto buf = make("abc", ios::in);
  buf->close();
  IFile f = memoryFile(fMem, "hello");
  fMem->fFailCall = 1;
  EXPECT_THROW(buf->open(f, ios::in, 0), IAccessError);
  EXPECT_EQ(buf->mode(), 0);
  EXPECT_FALSE(buf->file().isValid());
  fMem->fFailCall = 0;
  buf->open(f, ios::in, 0);
  EXPECT_EQ(readAll(*buf), "hello");
  EXPECT_THROW(buf->open(IFile(), ios::in, 0), IAssertionFailure);
  buf->close();
  EXPECT_THROW(buf->open(IFile(), ios::in, 0), IInvalidRequest);
  EXPECT_EQ(buf->mode(), 0);
}

TEST_F(FileBuf, DestroyingOpenBufferWritesClosesThenDeletes) {
  auto buf = make("", ios::out);
  for (char c : std::string("0123456789"))
    buf->sputc(c);
  char* array = buf->pbase();
  buf.reset();
  EXPECT_EQ(log(), (ICalls{write(array, 10), close(), destroy()}));
  EXPECT_EQ(fMem->fData, "0123456789");
}

TEST_F(FileBuf, DestroyingClosedBufferMakesNoCall) {
  auto buf = make("", ios::out);
  buf->close();
  fMem->fCalls.clear();
  buf.reset();
  EXPECT_TRUE(log().empty());
}

TEST_F(FileBuf, DestructorSwallowsFailuresAndStillDeletesStream) {
  for (long long failing : {1, 2}) { // the write, then the close
    auto buf = make("", ios::out);
    buf->sputc('x');
    fMem->fFailCall = fMem->fCallCount + failing;
    EXPECT_NO_THROW(buf.reset());
    EXPECT_EQ(fMem->fLiveStreams, 0);
    EXPECT_EQ(fMem->fCalls.back(), destroy());
    fMem->fFailCall = 0;
  }
}

TEST_F(FileBuf, FailedCloseKeepsPendingOutputForTheRetry) {
  auto buf = make("", ios::out);
  buf->sputn("hello", 5);
  fMem->fFailCall = fMem->fCallCount + 1;
  EXPECT_THROW(buf->close(), IAccessError);
  EXPECT_EQ(buf->mode(), ios::out);
  EXPECT_EQ(buf->position(), 5);
  EXPECT_EQ(buf->pptr() - buf->pbase(), 5);
  fMem->fFailCall = 0;
  buf->close();
  EXPECT_EQ(fMem->fData, "hello");
  EXPECT_EQ(fMem->fLiveStreams, 0);

  buf = make("", ios::out);
  fMem->fFailCall = fMem->fCallCount + 1; // the byte stream's close
  EXPECT_THROW(buf->close(), IAccessError);
  EXPECT_EQ(fMem->fLiveStreams, 1) << "a stream whose close failed stays owned";
  buf.reset();
  EXPECT_EQ(fMem->fLiveStreams, 0);

  // The read-ahead stays as well, for a retry or for reading on.
  buf = make(pattern(100), ios::in);
  for (int i = 0; i < 10; ++i)
    buf->sbumpc();
  fMem->fCalls.clear();
  fMem->fFailCall = fMem->fCallCount + 1;
  EXPECT_THROW(buf->close(), IAccessError);
  EXPECT_EQ(log(), ICalls{close()});
  EXPECT_EQ(buf->position(), 10);
  EXPECT_EQ(buf->egptr() - buf->gptr(), 90);
  EXPECT_EQ(buf->sbumpc(), pattern(100)[10]);
  fMem->fFailCall = 0;
  buf->close();
  EXPECT_EQ(buf->gptr(), nullptr);
}

// --- transfers -------------------------------------------------------------

TEST_F(FileBuf, ReadingToTheEndAsksTheStreamEveryTime) {
  auto buf = make(pattern(100), ios::in);
  EXPECT_EQ(buf->sgetc(), 'A');
  char* array = buf->arrayAfterRefill();
  EXPECT_EQ(buf->eback(), array + 4) << "the room in front holds no character yet";
  EXPECT_EQ(log(), ICalls{read(array + 4, 4096)});
  EXPECT_EQ(buf->gptr(), array + 4);
  EXPECT_EQ(buf->egptr(), array + 104);
  EXPECT_EQ(buf->position(), 0);
  EXPECT_EQ(readAll(*buf), pattern(100));
  EXPECT_EQ(log(), (ICalls{read(array + 4, 4096), read(array + 4, 4096)}));
  EXPECT_EQ(buf->position(), 100);
  EXPECT_EQ(buf->sgetc(), EOF);
  EXPECT_EQ(log().size(), 3u);
}

TEST_F(FileBuf, ShortReadGivesShortGetArea) {
  auto buf = make(pattern(100), ios::in);
  fMem->fReadLimits = {10};
  buf->sgetc();
  char* array = buf->arrayAfterRefill();
  EXPECT_EQ(buf->egptr() - buf->gptr(), 10);
  EXPECT_EQ(readAll(*buf), pattern(100));
  EXPECT_EQ(log()[1], read(array + 4, 4096));
}

TEST_F(FileBuf, ByteFFIsNotEndOfFile) {
  auto buf = make(std::string("\xff\x00", 2), ios::in);
  EXPECT_EQ(buf->sbumpc(), 255);
  EXPECT_EQ(buf->sbumpc(), 0);
  EXPECT_EQ(buf->sbumpc(), EOF);
}

TEST_F(FileBuf, WrongDirectionAnswersEofAndTouchesNothing) {
  auto in = make("abc", ios::in);
  in->sgetc();
  char* g = in->gptr();
  fMem->fCalls.clear();
  EXPECT_EQ(in->sputc('x'), EOF);
  EXPECT_EQ(in->overflow('x'), EOF);
  EXPECT_EQ(in->gptr(), g);
  EXPECT_TRUE(log().empty());

  auto out = make("abc", ios::out);
  EXPECT_EQ(out->sgetc(), EOF);
  EXPECT_EQ(out->sputbackc('x'), EOF);
  EXPECT_TRUE(log().empty());

  auto app = make("abc", ios::app);
  EXPECT_NE(app->sputc('x'), EOF);
  app->sync();
  EXPECT_EQ(fMem->fData, "abcx");

  // trunc asks to write as well, as it does of the host's open.
  auto trunc = make("", ios::in | ios::trunc);
  EXPECT_NE(trunc->sputc('y'), EOF);
  trunc->sync();
  EXPECT_EQ(fMem->fData, "y");
}

TEST_F(FileBuf, WritingAfterReadingGivesUnreadInputBack) {
  auto buf = make(pattern(100), ios::in | ios::out);
  for (int i = 0; i < 10; ++i)
    buf->sbumpc();
  fMem->fCalls.clear();
  EXPECT_EQ(buf->overflow('x'), 0);
  EXPECT_EQ(log(), ICalls{seek(-90, IFSFileStream::cur)});
  EXPECT_EQ(buf->position(), 11);
  buf->sync();
  std::string expected = pattern(100);
  expected[10] = 'x';
  EXPECT_EQ(fMem->fData, expected);
}

// A seek moves where an appending stream reads, never where it writes: the
// flush lands at the end, and the stream learns where it ended.
TEST_F(FileBuf, AppendingStreamWritesAtTheEndAfterASeek) {
  auto buf = make("abcdef", ios::in | ios::app);
  EXPECT_EQ(buf->position(), 6) << "app starts at the end";
  buf->seekpos(2, ios::in);
  EXPECT_EQ(buf->sgetc(), 'c');
  buf->sputn("xy", 2);
  char* array = buf->pbase();
  fMem->fCalls.clear();
  EXPECT_EQ(buf->sync(), 0);
  EXPECT_EQ(log(), (ICalls{write(array, 2), seek(0, IFSFileStream::cur)}));
  EXPECT_EQ(fMem->fData, "abcdefxy");
  EXPECT_EQ(buf->position(), 8);
  EXPECT_EQ(buf->sputbackc('y'), 'y');
  EXPECT_EQ(buf->position(), 7);
  EXPECT_EQ(buf->sbumpc(), 'y');
}

TEST_F(FileBuf, FullPutAreaFlushesExactlyOneBuffer) {
  auto buf = make("", ios::out);
  EXPECT_EQ(buf->sputc('a'), 'a');
  EXPECT_TRUE(log().empty());
  char* array = buf->pbase();
  for (int i = 1; i < 4096; ++i)
    buf->sputc('b');
  EXPECT_TRUE(log().empty());
  EXPECT_EQ(buf->overflow('c'), 0) << "the buffer's own answer; sputc answers the character";
  EXPECT_EQ(log(), ICalls{write(array, 4096)});
  EXPECT_EQ(buf->position(), 4097);
  EXPECT_EQ(buf->pptr() - buf->pbase(), 1);
}

TEST_F(FileBuf, ReadingAfterWritingFlushesFirst) {
  auto buf = make(pattern(20), ios::in | ios::out);
  buf->sputn("12345", 5);
  char* array = buf->pbase();
  EXPECT_EQ(buf->sgetc(), pattern(20)[5]);
  EXPECT_EQ(log(), (ICalls{write(array, 5), read(array + 4, 4096)}));
  EXPECT_EQ(fMem->fData.substr(0, 5), "12345");
}

TEST_F(FileBuf, OverflowEofFlushesAndLeavesEmptyPutArea) {
  auto buf = make("", ios::out);
  buf->sputn("12345", 5);
  char* array = buf->pbase();
  EXPECT_EQ(buf->overflow(EOF), 0);
  EXPECT_EQ(log(), ICalls{write(array, 5)});
  EXPECT_EQ(buf->pbase(), array);
  EXPECT_EQ(buf->pptr(), array);
  EXPECT_EQ(buf->epptr(), array + 4096);
}

TEST_F(FileBuf, SyncOnIdleBufferIsFree) {
  auto buf = make("abc", ios::in | ios::out);
  EXPECT_EQ(buf->sync(), 0);
  EXPECT_TRUE(log().empty());
  buf->overflow(EOF); // an empty put area goes without a write
  EXPECT_EQ(buf->sync(), 0);
  EXPECT_EQ(buf->pbase(), nullptr);
  EXPECT_TRUE(log().empty());
}

// --- putback ---------------------------------------------------------------

TEST_F(FileBuf, PutbackIntoIdleBufferMakesOneByteGetArea) {
  auto buf = make("abc", ios::in);
  buf->seekpos(2, ios::in);
  fMem->fCalls.clear();
  EXPECT_EQ(buf->pbackfail('x'), 1) << "the buffer's own answer; sputbackc answers the character";
  EXPECT_TRUE(log().empty());
  char* array = buf->eback() - 4095;
  EXPECT_EQ(buf->gptr(), array + 4095);
  EXPECT_EQ(buf->egptr(), array + 4096);
  EXPECT_EQ(buf->position(), 1);
  EXPECT_EQ(buf->sync(), 0);
  EXPECT_EQ(log(), ICalls{seek(-1, IFSFileStream::cur)});
}

TEST_F(FileBuf, PutbackWhileWritingFlushesFirst) {
  auto buf = make("", ios::in | ios::out);
  std::string full(4096, 'w');
  buf->sputn(full.data(), 4096);
  char* array = buf->pbase();
  EXPECT_EQ(buf->sputbackc('x'), 'x');
  EXPECT_EQ(log(), ICalls{write(array, 4096)});
  EXPECT_EQ(fMem->fData, full) << "the putback character must not overwrite pending output";
  EXPECT_EQ(buf->position(), 4095);
  EXPECT_EQ(buf->sbumpc(), 'x');
  EXPECT_EQ(buf->position(), 4096);
}

TEST_F(FileBuf, PutbackOfEofStepsBackOneByte) {
  struct ISeekRecorder : IProbeBuf {
    using IProbeBuf::IProbeBuf;
    std::vector<std::pair<streamoff, int>> fSeeks;
    streampos seekoff(streamoff offset, ios::seek_dir dir, int mode) override {
      fSeeks.emplace_back(offset, dir);
      EXPECT_EQ(mode, ios::in);
      IProbeBuf::seekoff(offset, dir, mode);
      return 12345;
    }
  };
  IFile f = memoryFile(fMem, "abcdef");
  ISeekRecorder buf(f, ios::in, 0);
  buf.sbumpc();
  buf.sbumpc();
  EXPECT_EQ(buf.pbackfail(EOF), 1);
  EXPECT_EQ(buf.fSeeks, (std::vector<std::pair<streamoff, int>>{{-1, ios::cur}}));
  EXPECT_EQ(buf.gptr(), nullptr);
  EXPECT_EQ(buf.sbumpc(), 'b');
}

TEST_F(FileBuf, ShiftAfterRefillMovesArrayAndGivesBackWhatFallsOff) {
  std::string content = pattern(6000);
  auto buf = makeAt(5000, content, ios::in);
  buf->sgetc();
  char* array = buf->arrayAfterRefill();
  for (char c : std::string("1234"))
    ASSERT_NE(buf->sputbackc(c), EOF);
  EXPECT_EQ(buf->gptr(), array);
  fMem->fCalls.clear();
  EXPECT_EQ(buf->sputbackc('x'), 'x');
  EXPECT_EQ(buf->gptr(), array + 1023);
  EXPECT_EQ(buf->egptr(), array + 4100);
  EXPECT_EQ(log(), ICalls{seek(-1024, IFSFileStream::cur)});
  EXPECT_EQ(buf->position(), 5000 - 5);
  EXPECT_EQ(readAll(*buf), "x4321" + content);
}

TEST_F(FileBuf, ShiftWithNothingFallingOffMakesNoCall) {
  auto buf = makeAt(5000, pattern(100), ios::in);
  buf->sgetc();
  char* array = buf->arrayAfterRefill();
  for (char c : std::string("1234"))
    buf->sputbackc(c);
  fMem->fCalls.clear();
  EXPECT_EQ(buf->sputbackc('x'), 'x');
  EXPECT_TRUE(log().empty());
  EXPECT_EQ(buf->gptr(), array + 1023);
  EXPECT_EQ(buf->egptr(), array + 1024 + 104);
  EXPECT_EQ(readAll(*buf), "x4321" + pattern(100));
}

struct IRoomCase {
  std::size_t fConsumed; // bytes read before the putbacks; npos: none, the buffer is idle
  std::size_t fFileSize;
  std::size_t fStart;    // where the buffer starts: no putback goes in front of offset 0
};

class FileBufPutbackRoom : public FileBuf, public ::testing::WithParamInterface<IRoomCase> {};

// Puts back characters until the buffer refuses, then reads everything: the
// characters come back in reverse, followed by the file from where it stood.
TEST_P(FileBufPutbackRoom, HoldsConsumedPlus4100AndLosesNothing) {
  const IRoomCase& c = GetParam();
  std::string content = pattern(c.fFileSize);
  auto buf = makeAt(c.fStart, content, ios::in);
  std::size_t consumed = c.fConsumed == std::string::npos ? 0 : c.fConsumed;
  if (c.fConsumed != std::string::npos) {
    buf->sgetc();
    for (std::size_t i = 0; i < consumed; ++i)
      buf->sbumpc();
  }
  std::size_t inArea = c.fConsumed == std::string::npos ? 0 : std::min<std::size_t>(content.size(), 4096);
  std::size_t room = c.fConsumed == std::string::npos ? 4100
                     : consumed <= inArea                ? consumed + 4100
                                                         : 4100; // consumed past the first refill

  // The consumed bytes go back first, as a reader that steps back would do;
  // the rest stand in front of where the buffer started.
  std::string putBack;
  for (std::size_t i = 0; i < 20000; ++i) {
    char ch = i < consumed ? content[consumed - 1 - i] : static_cast<char>('a' + i % 26);
    std::size_t calls = log().size();
    if (buf->sputbackc(ch) == EOF) {
      EXPECT_EQ(log().size(), calls) << "a refused putback makes no call";
      break;
    }
    putBack.insert(putBack.begin(), ch);
  }
  if (c.fConsumed == std::string::npos || consumed <= inArea) {
    EXPECT_EQ(putBack.size(), std::min(room, c.fStart + consumed));
  }
  IFileSize position = static_cast<IFileSize>(c.fStart + consumed) - static_cast<IFileSize>(putBack.size());
  EXPECT_EQ(buf->position(), position);
  EXPECT_GE(position, 0);
  if (position == 0) {
    std::size_t calls = log().size();
    EXPECT_EQ(buf->pbackfail(EOF), EOF) << "no step back from the start";
    EXPECT_EQ(log().size(), calls);
  }
  EXPECT_EQ(readAll(*buf), putBack + content.substr(consumed));
  EXPECT_EQ(buf->seekoff(0, ios::cur, ios::in), static_cast<streampos>(c.fStart + content.size()));
}

// A start of 8200 leaves the array's room as the only limit; smaller starts
// end the putbacks at offset 0.
INSTANTIATE_TEST_SUITE_P(
    Sizes, FileBufPutbackRoom,
    ::testing::Values(IRoomCase{std::string::npos, 5000, 8200}, IRoomCase{0, 100, 8200}, IRoomCase{0, 4096, 8200},
                      IRoomCase{0, 10000, 8200}, IRoomCase{10, 100, 8200}, IRoomCase{100, 100, 8200},
                      IRoomCase{4095, 9000, 8200}, IRoomCase{4096, 9000, 8200}, IRoomCase{4097, 9000, 8200},
                      IRoomCase{std::string::npos, 5000, 0}, IRoomCase{std::string::npos, 5000, 3},
                      IRoomCase{0, 100, 0}, IRoomCase{0, 100, 7}, IRoomCase{10, 100, 0}, IRoomCase{4095, 9000, 0},
                      IRoomCase{100, 100, 2000}, IRoomCase{4097, 9000, 0}));

TEST_F(FileBuf, PutbackShiftsStepByQuarterAndThenFails) {
  auto buf = makeAt(5000, pattern(100), ios::in);
  buf->sgetc();
  char* array = buf->arrayAfterRefill();
  for (int i = 0; i < 4; ++i)
    buf->sputbackc('p');
  std::vector<std::ptrdiff_t> gptrs;
  for (int shift = 0; shift < 4; ++shift) {
    ASSERT_EQ(buf->gptr(), array);
    ASSERT_EQ(buf->pbackfail('s'), 1);
    gptrs.push_back(buf->gptr() - array);
    while (buf->gptr() > array)
      buf->sputbackc('r');
  }
  EXPECT_EQ(gptrs, (std::vector<std::ptrdiff_t>{1023, 1023, 1023, 1023}));
  EXPECT_EQ(buf->pbackfail('z'), EOF);
}

// --- streams without positions ----------------------------------------------

TEST_F(FileBuf, PipeDialogueMakesNoSeekAndKeepsUnreadInput) {
  auto buf = makePipe("42\nrest\n");
  buf->sputn("prompt? ", 8);
  char* array = buf->pbase();
  EXPECT_EQ(buf->sbumpc(), '4');
  EXPECT_EQ(log(), (ICalls{write(array, 8), read(array + 4, 4096)}));
  EXPECT_EQ(buf->sbumpc(), '2');
  fMem->fCalls.clear();
  buf->sputn("next? ", 6); // beside the unread "\nrest\n"
  EXPECT_TRUE(log().empty());
  EXPECT_EQ(buf->eback(), array) << "the unread bytes moved down to make room";
  EXPECT_EQ(buf->pbase(), buf->egptr());
  EXPECT_EQ(buf->sync(), 0);
  EXPECT_EQ(log(), ICalls{write(buf->egptr(), 6)});
  EXPECT_EQ(fMem->fOutput, "prompt? next? ");
  EXPECT_EQ(buf->sgetc(), '\n') << "a flush keeps the unread input";
  EXPECT_EQ(buf->sputbackc('2'), '2') << "unget still finds the byte read";
  EXPECT_EQ(readAll(*buf), "2\nrest\n");
  for (const ICall& call : log())
    EXPECT_NE(call.fOp, ICall::kSeek) << call;
}

TEST_F(FileBuf, PipeTakesLongOutputBesideUnreadInputInOrder) {
  for (std::size_t consumed : {0, 2, 4095}) {
    std::string input = pattern(4096);
    auto buf = makePipe(input);
    buf->sgetc();
    for (std::size_t i = 0; i < consumed; ++i)
      buf->sbumpc();
    std::string out = pattern(10000);
    EXPECT_EQ(buf->sputn(out.data(), static_cast<int>(out.size())), 10000);
    buf->sync();
    EXPECT_EQ(fMem->fOutput, out) << consumed;
    EXPECT_EQ(readAll(*buf), input.substr(consumed)) << consumed;
  }
}

TEST_F(FileBuf, PipeFullOfPutbacksWritesCharactersOnTheirOwn) {
  std::string input = pattern(5000);
  auto buf = makePipe(input);
  buf->sgetc();
  for (char c : std::string("4321"))
    EXPECT_EQ(buf->sputbackc(c), c);
  EXPECT_EQ(buf->sputbackc('0'), EOF) << "a shift would push unread bytes off the array";
  fMem->fCalls.clear();
  EXPECT_NE(buf->sputc('!'), EOF);
  EXPECT_NE(buf->sputc('?'), EOF);
  ASSERT_EQ(log().size(), 2u);
  EXPECT_EQ(log()[0].fOp, ICall::kWrite);
  EXPECT_EQ(log()[0].fValue, 1);
  EXPECT_EQ(fMem->fOutput, "!?");
  EXPECT_EQ(readAll(*buf), "1234" + input);
}

TEST_F(FileBuf, PipeSeeksOnlyWhenAskedAndKeepsInputWhenRefused) {
  auto buf = makePipe("abcdef");
  EXPECT_EQ(buf->sbumpc(), 'a');
  buf->sputc('x');
  char* pending = buf->pbase();
  fMem->fCalls.clear();
  EXPECT_THROW(buf->seekoff(0, ios::cur, ios::in), IAccessError);
  EXPECT_EQ(log(), (ICalls{write(pending, 1), seek(0, IFSFileStream::cur)}));
  EXPECT_EQ(fMem->fOutput, "x");
  fMem->fCalls.clear();
  EXPECT_THROW(buf->seekpos(3, ios::in), IAccessError);
  EXPECT_EQ(log(), ICalls{seek(3, IFSFileStream::beg)});
  fMem->fCalls.clear();
  EXPECT_EQ(buf->pbackfail(EOF), EOF) << "stepping back needs a seek";
  EXPECT_EQ(buf->sputbackc('a'), 'a') << "the byte read is still in the array";
  EXPECT_EQ(readAll(*buf), "abcdef");
  buf->close();
  EXPECT_EQ(log().back(), destroy());
  for (const ICall& call : log())
    EXPECT_NE(call.fOp, ICall::kSeek) << call;
}

// --- positioning -----------------------------------------------------------

TEST_F(FileBuf, PositionQueriesAfterPartialRead) {
  auto buf = make(pattern(100), ios::in | ios::out);
  for (int i = 0; i < 10; ++i)
    buf->sbumpc();
  fMem->fCalls.clear();
  EXPECT_EQ(buf->position(), 10);
  EXPECT_TRUE(log().empty());
  EXPECT_EQ(buf->seekoff(0, ios::cur, ios::in), 10);
  EXPECT_EQ(log(), (ICalls{seek(-90, IFSFileStream::cur), seek(0, IFSFileStream::cur)}));
  EXPECT_EQ(buf->gptr(), nullptr);
}

TEST_F(FileBuf, SeekposDropsReadAheadWithOneCall) {
  auto buf = make(pattern(100), ios::in | ios::out);
  for (int i = 0; i < 10; ++i)
    buf->sbumpc();
  fMem->fCalls.clear();
  EXPECT_EQ(buf->seekpos(50, ios::in), 50);
  EXPECT_EQ(log(), ICalls{seek(50, IFSFileStream::beg)});
  EXPECT_EQ(buf->sbumpc(), pattern(100)[50]);
}

TEST_F(FileBuf, PendingOutputCountsInPositionNotInEndOfFile) {
  auto buf = make("", ios::out);
  buf->sputn("12345", 5);
  char* array = buf->pbase();
  EXPECT_EQ(buf->position(), 5);
  EXPECT_EQ(buf->endOfFile(), 0);
  fMem->fCalls.clear();
  buf->setEndOfFile(0);
  EXPECT_EQ(log(), ICalls{setEndOfFile(0)});
  EXPECT_EQ(buf->position(), 5);
  EXPECT_EQ(buf->pptr() - buf->pbase(), 5);
  fMem->fCalls.clear();
  EXPECT_EQ(buf->seekoff(0, ios::end, ios::out), 5);
  EXPECT_EQ(log(), (ICalls{write(array, 5), seek(0, IFSFileStream::end)}));
}

struct ISeekCase {
  streamoff fOffset;
  int fDir;
  long long fWidened;
  int fStreamDir;
};

class FileBufSeek : public FileBuf, public ::testing::WithParamInterface<ISeekCase> {};

TEST_P(FileBufSeek, DirectionAndOffsetPassUnchanged) {
  const ISeekCase& c = GetParam();
  auto buf = make(pattern(10), ios::in);
  buf->seekoff(c.fOffset, static_cast<ios::seek_dir>(c.fDir), ios::in);
  EXPECT_EQ(log(), ICalls{seek(c.fWidened, c.fStreamDir)});
}

INSTANTIATE_TEST_SUITE_P(Directions, FileBufSeek,
                         ::testing::Values(ISeekCase{-1, ios::end, -1, IFSFileStream::end},
                                           ISeekCase{3, 3, 3, IFSFileStream::beg},
                                           ISeekCase{2, ios::cur, 2, IFSFileStream::cur},
                                           ISeekCase{7, ios::beg, 7, IFSFileStream::beg},
                                           ISeekCase{1LL << 33, ios::beg, 1LL << 33, IFSFileStream::beg}));

TEST_F(FileBuf, PositionsBeyond32BitsAreExact) {
  auto buf = make("", ios::in | ios::out);
  const long long big[] = {(1LL << 31), (1LL << 32) - 1, (1LL << 32) + 10};
  for (long long pos : big) {
    EXPECT_EQ(buf->seekpos(pos, ios::out), pos);
    EXPECT_EQ(buf->seekoff(0, ios::cur, ios::out), pos);
    EXPECT_EQ(buf->position(), pos);
  }
  EXPECT_EQ(buf->sputbackc('x'), 'x');
  EXPECT_EQ(buf->position(), (1LL << 32) + 9);
}

// --- failures ---------------------------------------------------------------

TEST_F(FileBuf, FailedWriteKeepsPendingBytesForTheNextFlush) {
  auto buf = make("", ios::in | ios::out);
  buf->sputn("abc", 3);
  fMem->fFailCall = fMem->fCallCount + 1;
  EXPECT_THROW(buf->sync(), IAccessError);
  EXPECT_EQ(buf->position(), 3);
  EXPECT_EQ(buf->pptr() - buf->pbase(), 3);
  EXPECT_EQ(fMem->fData, "");
  EXPECT_EQ(buf->sync(), 0);
  EXPECT_EQ(fMem->fData, "abc");
}

TEST_F(FileBuf, FailedSeekBackKeepsGetArea) {
  auto buf = make(pattern(50), ios::in | ios::out);
  buf->sbumpc();
  fMem->fFailCall = fMem->fCallCount + 1;
  EXPECT_THROW(buf->sync(), IAccessError);
  EXPECT_NE(buf->gptr(), nullptr);
  EXPECT_EQ(buf->position(), 1);
  EXPECT_EQ(buf->sbumpc(), pattern(50)[1]);
}

TEST_F(FileBuf, FailedReadLeavesIdleBufferAtSamePosition) {
  auto buf = make(pattern(50), ios::in | ios::out);
  buf->sputc('z');
  fMem->fFailCall = fMem->fCallCount + 2; // the flush succeeds, the read fails
  EXPECT_THROW(buf->sgetc(), IAccessError);
  EXPECT_EQ(buf->gptr(), nullptr);
  EXPECT_EQ(buf->pbase(), nullptr);
  EXPECT_EQ(buf->position(), 1);
  EXPECT_EQ(buf->sbumpc(), pattern(50)[1]);
}

TEST_F(FileBuf, OutOfRangeReadAnswerIsAnErrorNotAnOverrun) {
  struct ILyingStream : IMemoryStream {
    using IMemoryStream::IMemoryStream;
    std::ptrdiff_t doRead(void*, int count) override { return count + 1; }
  };
  struct ILyingRecord : IMemoryRecord {
    using IMemoryRecord::IMemoryRecord;
    std::shared_ptr<IMemoryFile> fFile = std::make_shared<IMemoryFile>();
    IFSFileStream* createStream(int myMode, int) const override { return new ILyingStream(fFile, myMode, 0); }
  };
  IFile f(std::make_shared<ILyingRecord>(std::make_shared<IMemoryFile>()));
  IProbeBuf buf(f, ios::in, 0);
  EXPECT_THROW(buf.sgetc(), IAccessError);
  EXPECT_EQ(buf.gptr(), nullptr);
}

} // namespace
