// The standard streams live in storage that is never destroyed, built by an
// object that runs before every other static constructor of its link unit
// (init_priority) and, in a shared object, before those of every object that
// needs it (the loader initialises dependencies first). So a program's static
// objects may use them in their constructors and their destructors alike.
#include "stdstrm.hpp"

#include "fdbuf.hpp"

#include <initializer_list>
#include <new>

namespace {

struct IStdStreams {
  IStdStreams()
      : fInBuf(0), fOutBuf(1), fErrBuf(2), fLogBuf(2), fIn(&fInBuf), fOut(&fOutBuf), fErr(&fErrBuf),
        fLog(&fLogBuf) {
    fIn.tie(&fOut);
    fErr.setf(ios::unitbuf);
  }

  IDescriptorBuf fInBuf;
  IDescriptorBuf fOutBuf;
  IDescriptorBuf fErrBuf;
  IDescriptorBuf fLogBuf;
  istream fIn;
  ostream fOut;
  ostream fErr;
  ostream fLog;
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
    for (ostream* out : {&s.fOut, &s.fLog, &s.fErr}) {
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
