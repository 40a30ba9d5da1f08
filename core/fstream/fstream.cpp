// The classic file streams. The classic filebuf is the file buffer itself:
// its overrides run the buffer's own operations and turn what they throw into
// the classic answers (EOF, null, the state bits) and the kept error.
#include "fstream.hpp"

#include "iaccess.hpp"
#include "iexcept.hpp"
#include "ifilesys.hpp"

#include <cerrno>
#include <exception>
#include <new>
#include <string>

namespace {

// Others may read and write a file that a classic stream has open.
constexpr int kShareAll = IAccess::kReadWrite;
static_assert(IAccess::ofSharing(kShareAll) == IAccess(IAccess::kReadWrite), "the sharing mode grants both");

// What the classic modes ask of the file before it is opened: nocreate
// needs it, noreplace must not find it, writing makes a missing one.
IFileSystemEntity::ECreateFlags ruleOf(int mode) {
  if (mode & ios::nocreate)
    return IFileSystemEntity::kMustExist;
  if (mode & ios::noreplace)
    return IFileSystemEntity::kCreateOnly;
  if (IAccess::ofMode(mode).writes())
    return IFileSystemEntity::kCreateIfNeeded;
  return IFileSystemEntity::kMustExist;
}

// The mode the buffer opens with: app writes, and writing without reading,
// app or ate replaces the file's content, as ofstream(name) always has.
int classicMode(int mode) {
  if (mode & ios::app)
    mode |= ios::out;
  IAccess access = IAccess::ofMode(mode);
  if (access.writes() && !access.reads() && !(mode & (ios::app | ios::ate)))
    mode |= ios::trunc;
  return mode;
}

} // namespace

class filebuf::IErrorText {
public:
  std::string fText;
};

const int filebuf::openprot = 0644;

filebuf::filebuf() = default;

filebuf::filebuf(int fd) : filebuf() { attach(fd); }

filebuf::~filebuf() {
  if (is_open())
    close();
}

int filebuf::is_open() const { return isOpen(); }

int filebuf::fd() const { return is_open() ? descriptor() : EOF; }

int filebuf::lastError() const { return fError; }

const char* filebuf::lastErrorText() const { return fErrorText ? fErrorText->fText.c_str() : ""; }

void filebuf::fail(int error, const char* text) noexcept {
  fError = error;
  try {
    if (!fErrorText)
      fErrorText.reset(new IErrorText);
    fErrorText->fText = text;
  } catch (...) {
    if (fErrorText)
      fErrorText->fText.clear();
  }
}

// Every exception of the buffer stops here, in the outermost call: the
// buffer's own virtual calls (sync from overflow, seekoff from pbackfail)
// come back through these overrides, and a failure there belongs to the call
// that made them, which must not carry on as if it had succeeded.
template <class Result, class Call> Result filebuf::guard(Result failed, bool report, Call call) {
  if (fGuarding)
    return call();
  fGuarding = true;
  try {
    Result result = call();
    fGuarding = false;
    return result;
  } catch (const IAccessError& e) {
    fail(e.errorId(), e.what());
  } catch (const std::bad_alloc&) {
    fail(ENOMEM, "out of memory");
  } catch (const std::exception& e) {
    fail(EINVAL, e.what());
  } catch (...) {
    fail(EIO, "an unknown failure");
  }
  fGuarding = false;
  if (report && fOwner)
    fOwner->setstate(ios::badbit);
  return failed;
}

filebuf* filebuf::open(const char* name, int mode, int prot) {
  if (is_open())
    return nullptr;
  bool opened = guard(false, false, [&] {
    if (!name)
      throw IInvalidParameter("a file cannot be named by a null pointer");
    IFile file(name, ruleOf(mode), prot);
    if ((mode & ios::nocreate) && (mode & ios::noreplace))
      IThrowSystemError("create", file.path().str(), EEXIST, "the file exists already");
    IFSFileBuf::open(file, classicMode(mode), kShareAll);
    return true;
  });
  return opened ? this : nullptr;
}

filebuf* filebuf::attach(int fd) {
  if (is_open())
    return nullptr;
  bool opened = guard(false, false, [&] {
    int access = 0;
    IFile file = IFile::borrowing(fd, &access);
    IFSFileBuf::open(file, access, kShareAll);
    return true;
  });
  return opened ? this : nullptr;
}

// Closes in every case: when the close fails, the buffer lets the file go
// regardless, after one more try.
filebuf* filebuf::close() {
  if (!is_open())
    return nullptr;
  bool closed = guard(false, false, [&] {
    IFSFileBuf::close();
    return true;
  });
  if (!closed)
    closeRegardless();
  return closed ? this : nullptr;
}

streambuf* filebuf::setbuf(char*, int) { return is_open() ? nullptr : this; }

int filebuf::overflow(int c) {
  return !is_open() ? EOF : guard(EOF, true, [&] { return IFSFileBuf::overflow(c); });
}

int filebuf::underflow() {
  return !is_open() ? EOF : guard(EOF, true, [&] { return IFSFileBuf::underflow(); });
}

int filebuf::pbackfail(int c) {
  return !is_open() ? EOF : guard(EOF, true, [&] { return IFSFileBuf::pbackfail(c); });
}

int filebuf::sync() {
  return !is_open() ? 0 : guard(EOF, true, [&] { return IFSFileBuf::sync(); });
}

streampos filebuf::seekoff(streamoff offset, ios::seek_dir dir, int mode) {
  if (!is_open())
    return EOF;
  return guard(streampos(EOF), false, [&] { return IFSFileBuf::seekoff(offset, dir, mode); });
}

streampos filebuf::seekpos(streampos position, int mode) {
  if (!is_open())
    return EOF;
  return guard(streampos(EOF), false, [&] { return IFSFileBuf::seekpos(position, mode); });
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
