// The standard streams live in storage that is never destroyed, built by an
// object that runs before every other static constructor of its link unit
// (init_priority) and, in a shared object, before those of every object that
// needs it (the loader initialises dependencies first). So a program's static
// objects may use them in their constructors and their destructors alike.
#include "stdstrm.hpp"

#include "fdbuf.hpp"
#include "stdiobuf.hpp"

#include <cstdio>
#include <initializer_list>
#include <new>

using namespace kelrt;

namespace {

// A standard stream that can change its buffer and keep its format, tie
// and state.
template <class Stream> class IStdStream final : public Stream {
public:
  explicit IStdStream(streambuf* buffer) : Stream(buffer) {}

  void use(streambuf* buffer) {
    long flags = this->flags();
    int width = this->width(), precision = this->precision(), state = this->rdstate();
    char fill = this->fill();
    ostream* tie = this->tie();
    this->init(buffer);
    this->flags(flags);
    this->width(width);
    this->precision(precision);
    this->fill(fill);
    this->tie(tie);
    this->clear(state);
  }
};

FILE* standardOutput() { return stdout; }
FILE* standardError() { return stderr; }

struct IStdStreams {
  IStdStreams()
      : fInBuf(0), fOutBuf(1), fErrBuf(2), fLogBuf(2), fStdoutBuf(&standardOutput), fStderrBuf(&standardError),
        fStdlogBuf(&standardError), fIn(&fStdinBuf), fOut(&fStdoutBuf), fErr(&fStderrBuf), fLog(&fStdlogBuf) {
    fIn.tie(&fOut);
    fErr.setf(ios::unitbuf);
  }

  bool inStep() const { return fOut.rdbuf() == &fStdoutBuf; }

  // In step with stdio, or on buffers of their own. Pending output is
  // written first, so that nothing changes its order. cin moves only when
  // its buffer lets go (neither it nor stdio holds bytes unread), so that
  // read-ahead stays where it is.
  void keepInStep(bool inStep) {
    if (inStep == this->inStep())
      return;
    for (ostream* out : {static_cast<ostream*>(&fOut), static_cast<ostream*>(&fLog), static_cast<ostream*>(&fErr)})
      out->flush();
    std::fflush(stdout);
    std::fflush(stderr);
    fOut.use(inStep ? static_cast<streambuf*>(&fStdoutBuf) : &fOutBuf);
    fErr.use(inStep ? static_cast<streambuf*>(&fStderrBuf) : &fErrBuf);
    fLog.use(inStep ? static_cast<streambuf*>(&fStdlogBuf) : &fLogBuf);
    if (inStep ? fInBuf.in_avail() == 0 : fStdinBuf.release())
      fIn.use(inStep ? static_cast<streambuf*>(&fStdinBuf) : &fInBuf);
  }

  IDescriptorBuf fInBuf;
  IDescriptorBuf fOutBuf;
  IDescriptorBuf fErrBuf;
  IDescriptorBuf fLogBuf;
  IStdinBuf fStdinBuf;
  IStdioOutBuf fStdoutBuf;
  IStdioOutBuf fStderrBuf;
  IStdioOutBuf fStdlogBuf;
  IStdStream<istream> fIn;
  IStdStream<ostream> fOut;
  IStdStream<ostream> fErr;
  IStdStream<ostream> fLog;
};

// Constant-initialised, so the references below are bound at load time; the
// streams are built into it later and never destroyed.
union IStdStorage {
  constexpr IStdStorage() : fNothing() {}
  ~IStdStorage() {}
  char fNothing;
  IStdStreams fStreams;
};

constinit IStdStorage theStorage;

// Builds the streams first and flushes them last.
class IStdStreamsLife {
public:
  IStdStreamsLife() { ::new (&theStorage.fStreams) IStdStreams; }
  ~IStdStreamsLife() {
    IStdStreams& s = theStorage.fStreams;
    for (ostream* out : {static_cast<ostream*>(&s.fOut), static_cast<ostream*>(&s.fLog),
                         static_cast<ostream*>(&s.fErr)}) {
      out->flush();
      // Output of later destructors and exit handlers goes out at once.
      out->setf(ios::unitbuf);
    }
  }
  IStdStreamsLife(const IStdStreamsLife&) = delete;
  IStdStreamsLife& operator=(const IStdStreamsLife&) = delete;
};

__attribute__((init_priority(101))) IStdStreamsLife theStreamsLife;

} // namespace

constinit istream& kelrt::cin = theStorage.fStreams.fIn;
constinit ostream& kelrt::cout = theStorage.fStreams.fOut;
constinit ostream& kelrt::cerr = theStorage.fStreams.fErr;
constinit ostream& kelrt::clog = theStorage.fStreams.fLog;

void ios::sync_with_stdio() { theStorage.fStreams.keepInStep(true); }

bool ios::sync_with_stdio(bool inStep) {
  bool was = theStorage.fStreams.inStep();
  theStorage.fStreams.keepInStep(inStep);
  return was;
}
