// The classic file streams over IFSFileBuf. The public filebuf cannot derive
// from IFSFileBuf, whose header brings <memory> and <string> (and with them
// the standard streams and <unistd.h>) into every classic program; it owns an
// engine that does, and lends it its areas around each call, so that the
// character operations run inline on the filebuf's own pointers and the
// engine sees exactly the areas it made.
#include "fstream.hpp"

#include "filebuf.hpp"
#include "iexcept.hpp"

#include <cerrno>
#include <exception>
#include <new>
#include <string>

namespace {

// The file the engine opens, watched so that the engine knows its byte
// stream (for fd()) while IFSFileBuf owns it.
class IWatchedRecord final : public IFSFileRecord {
public:
  explicit IWatchedRecord(IFile target) : fTarget(std::move(target)) {}
  IText path() const override { return fTarget.path(); }
  IFSFileStream* createStream(int myMode, int otherMode) const override {
    fMade = fTarget.getRecord()->createStream(myMode, otherMode);
    return fMade;
  }
  IFSFileStream* made() const { return fMade; }

private:
  IFile fTarget;
  mutable IFSFileStream* fMade = nullptr;
};

// Others may read and write a file that a classic stream has open.
constexpr int kShareAll = ios::in | ios::out;

// What the classic modes ask of the file before it is opened: nocreate
// needs it, noreplace must not find it, writing makes a missing one.
IFileSystemEntity::ECreateFlags ruleOf(int mode) {
  if (mode & ios::nocreate)
    return IFileSystemEntity::kMustExist;
  if (mode & ios::noreplace)
    return IFileSystemEntity::kCreateOnly;
  if (mode & (ios::out | ios::app | ios::trunc))
    return IFileSystemEntity::kCreateIfNeeded;
  return IFileSystemEntity::kMustExist;
}

// The mode the buffer opens with: app writes, and out alone (without in, app
// or ate) replaces the file's content, as ofstream(name) always has.
int classicMode(int mode) {
  if (mode & ios::app)
    mode |= ios::out;
  if ((mode & ios::out) && !(mode & (ios::in | ios::app | ios::ate)))
    mode |= ios::trunc;
  return mode;
}

} // namespace

// The engine: IFSFileBuf, opened when it is made, with its areas open to the
// filebuf that lends them.
class IClassicEngine final : public IFSFileBuf {
public:
  IClassicEngine(const IFile& file, int mode) : IFSFileBuf(file, mode, kShareAll) {}

  void lend(char* eb, char* g, char* eg, char* pb, char* pp, char* ep) {
    setg(eb, g, eg);
    setp(pb, ep);
    pbump(static_cast<int>(pp - pb));
  }
  using IFSFileBuf::eback;
  using IFSFileBuf::egptr;
  using IFSFileBuf::epptr;
  using IFSFileBuf::gptr;
  using IFSFileBuf::pbase;
  using IFSFileBuf::pptr;
};

// The insides of a filebuf: the engine while a file is open (kept after a
// close, for its array), and the last failure. Every exception of the engine
// stops here and becomes the classic result (EOF, false) and the error.
class IClassicFileBuf {
public:
  bool isOpen() const { return fRecord != nullptr; }
  int descriptor() const { return fRecord && fRecord->made() ? fRecord->made()->descriptor() : -1; }
  int error() const { return fError; }
  const char* errorText() const { return fErrorText.c_str(); }
  IClassicEngine* engine() const { return fEngine.get(); }

  bool openFile(const IFile& file, int mode) {
    return guard(
        [&] {
          auto record = std::make_shared<IWatchedRecord>(file);
          if (fEngine)
            fEngine->open(IFile(record), mode, kShareAll);
          else
            fEngine = std::make_unique<IClassicEngine>(IFile(record), mode);
          fRecord = record;
          return true;
        },
        false);
  }
  bool openPath(const char* name, int mode, int prot) {
    return guard(
        [&] {
          if (!name)
            throw IInvalidParameter("a file cannot be named by a null pointer");
          IFile file(name, ruleOf(mode), prot);
          if ((mode & ios::nocreate) && (mode & ios::noreplace))
            IThrowSystemError("create", file.path().str(), EEXIST, "the file exists already");
          return openFile(file, classicMode(mode));
        },
        false);
  }
  bool attachTo(int fd) {
    return guard(
        [&] {
          int access = 0;
          IFile file = IFile::borrowing(fd, &access);
          return openFile(file, access);
        },
        false);
  }
  // Closes in every case: when the engine's close fails, the engine goes
  // (its destructor tries once more and releases the file regardless).
  bool closeFile() {
    bool closed = guard(
        [&] {
          fEngine->close();
          return true;
        },
        false);
    if (!closed)
      fEngine.reset();
    fRecord.reset();
    return closed;
  }

  // The failures so far, to tell a failure from a plain EOF.
  int failures() const { return fFailures; }

  template <class F, class R> R guard(F action, R failed) {
    try {
      return action();
    } catch (const IAccessError& e) {
      fail(e.errorId(), e.what());
    } catch (const std::bad_alloc&) {
      fail(ENOMEM, "out of memory");
    } catch (const std::exception& e) {
      fail(EINVAL, e.what());
    } catch (...) {
      fail(EIO, "an unknown failure");
    }
    return failed;
  }

private:
  void fail(int error, const char* text) {
    ++fFailures;
    fError = error;
    try {
      fErrorText = text;
    } catch (...) {
      fErrorText.clear();
    }
  }

  std::unique_ptr<IClassicEngine> fEngine;
  std::shared_ptr<IWatchedRecord> fRecord; // while open
  int fError = 0;
  int fFailures = 0;
  std::string fErrorText;
};

// Lends the filebuf's areas to its engine for one call and takes them back
// afterwards, as the engine left them.
class filebuf::IAreas {
public:
  explicit IAreas(filebuf& owner) : fOwner(owner), fEngine(owner.fInsides->engine()) {
    if (fEngine)
      fEngine->lend(owner.eback(), owner.gptr(), owner.egptr(), owner.pbase(), owner.pptr(), owner.epptr());
  }
  ~IAreas() {
    IClassicEngine* engine = fOwner.fInsides->engine();
    if (!engine) {
      fOwner.setg(nullptr, nullptr, nullptr);
      fOwner.setp(nullptr, nullptr);
      return;
    }
    fOwner.setg(engine->eback(), engine->gptr(), engine->egptr());
    fOwner.setp(engine->pbase(), engine->epptr());
    fOwner.pbump(static_cast<int>(engine->pptr() - engine->pbase()));
  }
  IAreas(const IAreas&) = delete;
  IAreas& operator=(const IAreas&) = delete;

  IClassicEngine* engine() const { return fEngine; }

private:
  filebuf& fOwner;
  IClassicEngine* fEngine;
};

const int filebuf::openprot = 0644;

filebuf::filebuf() : fInsides(new IClassicFileBuf) {}

filebuf::filebuf(int fd) : filebuf() { attach(fd); }

filebuf::~filebuf() {
  if (is_open())
    close();
  delete fInsides;
}

int filebuf::is_open() const { return fInsides->isOpen(); }

int filebuf::fd() const { return is_open() ? fInsides->descriptor() : EOF; }

int filebuf::lastError() const { return fInsides->error(); }

const char* filebuf::lastErrorText() const { return fInsides->errorText(); }

filebuf* filebuf::open(const char* name, int mode, int prot) {
  if (is_open())
    return nullptr;
  IAreas areas(*this);
  return fInsides->openPath(name, mode, prot) ? this : nullptr;
}

filebuf* filebuf::attach(int fd) {
  if (is_open())
    return nullptr;
  IAreas areas(*this);
  return fInsides->attachTo(fd) ? this : nullptr;
}

filebuf* filebuf::close() {
  if (!is_open())
    return nullptr;
  IAreas areas(*this);
  return fInsides->closeFile() ? this : nullptr;
}

bool filebuf::reportFailure(int failuresBefore) {
  if (fInsides->failures() == failuresBefore)
    return false;
  if (fOwner)
    fOwner->setstate(ios::badbit);
  return true;
}

streambuf* filebuf::setbuf(char*, int) { return is_open() ? nullptr : this; }

template <class Result, class Call> Result filebuf::forward(Result closed, Result failed, bool report, Call call) {
  IAreas areas(*this);
  IClassicEngine* e = areas.engine();
  if (!e || !is_open())
    return closed;
  int before = fInsides->failures();
  Result result = fInsides->guard([&] { return call(*e); }, failed);
  if (report)
    reportFailure(before);
  return result;
}

int filebuf::overflow(int c) {
  return forward(EOF, EOF, true, [c](IClassicEngine& e) { return e.overflow(c); });
}

int filebuf::underflow() {
  return forward(EOF, EOF, true, [](IClassicEngine& e) { return e.underflow(); });
}

int filebuf::pbackfail(int c) {
  return forward(EOF, EOF, true, [c](IClassicEngine& e) { return e.pbackfail(c); });
}

int filebuf::sync() {
  return forward(0, EOF, true, [](IClassicEngine& e) { return e.sync(); });
}

// A seek that fails answers EOF and leaves the state bits to the stream.
streampos filebuf::seekoff(streamoff offset, ios::seek_dir dir, int mode) {
  return forward(streampos(EOF), streampos(EOF), false,
                 [&](IClassicEngine& e) { return e.seekoff(offset, dir, mode); });
}

streampos filebuf::seekpos(streampos position, int mode) {
  return forward(streampos(EOF), streampos(EOF), false,
                 [&](IClassicEngine& e) { return e.seekpos(position, mode); });
}

fstreambase::fstreambase() {
  init(&fBuffer);
  fBuffer.fOwner = this;
}

fstreambase::fstreambase(const char* name, int mode, int prot) : fstreambase() { open(name, mode, prot); }

fstreambase::fstreambase(int fd) : fstreambase() { attach(fd); }

fstreambase::~fstreambase() = default;

void fstreambase::open(const char* name, int mode, int prot) {
  if (fBuffer.open(name, mode, prot))
    clear();
  else
    setstate(failbit);
}

void fstreambase::attach(int fd) {
  if (fBuffer.attach(fd))
    clear();
  else
    setstate(failbit);
}

void fstreambase::close() {
  if (fBuffer.close())
    clear();
  else
    setstate(failbit);
}

void fstreambase::setbuf(char* p, int length) {
  if (!fBuffer.setbuf(p, length))
    setstate(failbit);
}

ifstream::ifstream() = default;
ifstream::ifstream(const char* name, int mode, int prot) : fstreambase(name, mode | ios::in, prot) {}
ifstream::ifstream(int fd) : fstreambase(fd) {}
ifstream::~ifstream() = default;

ofstream::ofstream() = default;
ofstream::ofstream(const char* name, int mode, int prot) : fstreambase(name, mode | ios::out, prot) {}
ofstream::ofstream(int fd) : fstreambase(fd) {}
ofstream::~ofstream() = default;

fstream::fstream() = default;
fstream::fstream(const char* name, int mode, int prot) : fstreambase(name, mode, prot) {}
fstream::fstream(int fd) : fstreambase(fd) {}
fstream::~fstream() = default;
