#include "filebuf.hpp"

#include "iaccess.hpp"
#include "iexcept.hpp"
#include "ifilesys.hpp"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>
#include <string>

// The buffer asks IAccess which way its open mode goes; IAccess reads the
// mode's bits by these values, and a sharing mode's in and out bits are its
// access.
static_assert(int(IAccess::kModeIn) == int(ios::in) && int(IAccess::kModeOut) == int(ios::out) &&
                  int(IAccess::kModeApp) == int(ios::app) && int(IAccess::kModeTrunc) == int(ios::trunc),
              "IAccess reads the ios::open_mode bits by their values");
static_assert(int(IAccess::kRead) == int(ios::in) && int(IAccess::kWrite) == int(ios::out),
              "a sharing mode's ios::in and ios::out bits are the access it grants");

namespace {

IFSFileStream::seek_dir tseek(ios::seek_dir a) {
  switch (a) {
  case ios::cur:
    return IFSFileStream::cur;
  case ios::end:
    return IFSFileStream::end;
  default:
    return IFSFileStream::beg;
  }
}

// Where a broken precondition of this file is reported: `line` is the
// check's own __LINE__.
IExceptionLocation here(const char* function, unsigned long line) {
  return IExceptionLocation("filebuf", function, line);
}

} // namespace

static_assert(sizeof(IFile) <= 4 * sizeof(void*) && alignof(IFile) <= alignof(void*),
              "the buffer holds its IFile in place");

IFSFileBuf::IFSFileBuf() { new (fFile) IFile(); }

IFSFileBuf::IFSFileBuf(const IFile& file, int modeForMe, int modeForOthers) : IFSFileBuf() {
  open(file, modeForMe, modeForOthers);
}

// A destructor has no one to report to: the owning stream closes the buffer
// first and hears about failures there.
IFSFileBuf::~IFSFileBuf() {
  closeRegardless();
  heldFile().~IFile();
}

IFile& IFSFileBuf::heldFile() const {
  return *std::launder(reinterpret_cast<IFile*>(const_cast<unsigned char*>(fFile)));
}

void IFSFileBuf::open(const IFile& file, int myMode, int otherMode) {
  if (fByteStream) {
    // A second byte stream would leave the first open and unflushed.
    IExcept__assertState("!fByteStream", here("IFSFileBuf::open(const IFile&,int,int)", __LINE__));
  }
  if (!fArray)
    fArray.reset(new IArray);

  heldFile() = file;
  int mode = (myMode & ios::app) ? (myMode | ios::out) : myMode;
  // The record positions the stream at the end for ate and app, and a
  // borrowed descriptor stands where its owner left it; the buffer only
  // learns where that is. If that fails the stream goes unclosed.
  try {
    fByteStream.reset(file.getRecord()->createStream(myMode, otherMode));
    fFilePosition = (mode & (ios::ate | ios::app)) ? fByteStream->endOfFile() : fByteStream->startPosition();
    fSeekable = -1;
  } catch (...) {
    fByteStream.reset();
    heldFile() = IFile();
    fFilePosition = 0;
    throw;
  }
  fMode = mode;
}

void IFSFileBuf::close() {
  if (!fByteStream)
    IExcept__assertState("fByteStream", here("IFSFileBuf::close()", __LINE__));
  syncout();
  fByteStream->close();
  // Unread input of this file must never reach a later stream; until the
  // close has succeeded it stays, so that a retry finds the buffer as it was.
  dropGetArea();
  fByteStream.reset();
  heldFile() = IFile();
  fMode = 0;
  fFilePosition = 0;
}

void IFSFileBuf::closeRegardless() noexcept {
  if (fByteStream) {
    try {
      syncout();
    } catch (...) {
    }
    try {
      fByteStream->close();
    } catch (...) {
    }
    fByteStream.reset();
  }
  dropPutArea();
  dropGetArea();
  heldFile() = IFile();
  fMode = 0;
  fFilePosition = 0;
}

IFile IFSFileBuf::file() const { return heldFile(); }

// Asked of the byte stream when first needed: one opened for writing may
// have to ask the system.
bool IFSFileBuf::seekable() const {
  if (fSeekable < 0)
    fSeekable = fByteStream->canSeek();
  return fSeekable != 0;
}

IFileSize IFSFileBuf::position() const {
  switch (fState) {
  case kWriting:
  case kBesideInput:
    return fFilePosition + (pptr() - pbase());
  case kReading:
    return fFilePosition - (egptr() - gptr());
  case kIdle:
    break;
  }
  return fFilePosition;
}

IFileSize IFSFileBuf::endOfFile() const {
  if (!fByteStream)
    IExcept__assertState("fByteStream", here("IFSFileBuf::endOfFile() const", __LINE__));
  return fByteStream->endOfFile();
}

void IFSFileBuf::setEndOfFile(IFileSize size) {
  if (!fByteStream)
    IExcept__assertState("fByteStream", here("IFSFileBuf::setEndOfFile(IFileSize)", __LINE__));
  fByteStream->setEndOfFile(size);
}

int IFSFileBuf::overflow(int c) {
  if (!IAccess::ofMode(fMode).writes())
    return EOF;
  // Unread input that cannot be given back stays: output goes beside it.
  if (hasGetArea() && !seekable())
    return overflowBesideInput(c);
  sync();
  setp(array(), array() + kDefaultBuffer);
  fState = kWriting;
  if (c != EOF) {
    *pptr() = static_cast<char>(c);
    pbump(1);
  }
  return 0;
}

int IFSFileBuf::underflow() {
  if (!IAccess::ofMode(fMode).reads())
    return EOF;
  if (hasGetArea() && gptr() < egptr())
    return static_cast<unsigned char>(*gptr());
  sync();

  char* readBuf = array() + kPutBackSize;
  std::ptrdiff_t answer = fByteStream->doRead(readBuf, kDefaultBuffer);
  if (answer < 0 || answer > kDefaultBuffer) {
    // Taking this count would hand out, or later overwrite, bytes outside the array.
    IThrowSystemError("read", heldFile().isValid() ? heldFile().path().str() : std::string("(unnamed file)"), EIO,
                      "the byte stream answered " + std::to_string(answer) + " bytes for " +
                          std::to_string(kDefaultBuffer) + " asked");
  }
  if (answer == 0)
    return EOF;
  fFilePosition += static_cast<IFileSize>(answer);
  // The room in front holds no character yet: eback stays at the bytes read,
  // so that stepping back (unget) never reaches a stale byte of the array.
  setg(readBuf, readBuf, readBuf + answer);
  fPbackEnd = readBuf;
  fState = kReading;
  return static_cast<unsigned char>(*gptr());
}

int IFSFileBuf::pbackfail(int c) {
  if (!IAccess::ofMode(fMode).reads())
    return EOF;
  // Nothing goes back in front of the file's first byte: a position below 0
  // would make every later seek of the buffer fail. A stream without
  // positions has no start to guard.
  if (seekable() && position() <= 0)
    return EOF;
  if (c == EOF) {
    // Stepping back over a byte that is no longer in the array needs a seek,
    // which a stream without positions cannot make.
    if (!seekable())
      return EOF;
    seekoff(-1, ios::cur, ios::in);
    return 1;
  }

  switch (fState) {
  case kIdle:
  case kWriting:
    return putBackAlone(c);
  case kReading:
  case kBesideInput:
    if (gptr() > array()) {
      // Free room in front: the character goes there, and eback follows it,
      // so that the get area never reaches bytes that hold no character.
      char* g = gptr() - 1;
      *g = static_cast<char>(c);
      setg(g < eback() ? g : eback(), g, egptr());
      return 1;
    }
    return putBackShifting(c);
  }
  return EOF;
}

int IFSFileBuf::putBackAlone(int c) {
  // The one-byte get area lies where the put area would be: write what is
  // pending first, so that c stands for the last byte written.
  syncout();
  char* last = array() + kDefaultBuffer - 1;
  setg(last, last, last + 1);
  fPbackEnd = egptr();
  fState = kReading;
  *last = static_cast<char>(c);
  return 1;
}

int IFSFileBuf::putBackShifting(int c) {
  // No room in front: shift the array up by a quarter of its size at a time,
  // until the bytes read from the file reach the array's end.
  std::ptrdiff_t delta = std::min<std::ptrdiff_t>(kDefaultBuffer / 4, arrayEnd() - fPbackEnd);
  // Without positions nothing can be given back, so the shift stops where
  // the unread bytes would fall off the array's end.
  if (!seekable())
    delta = std::min(delta, arrayEnd() - egptr());
  if (delta == 0)
    return EOF;
  // The shift carries the whole array: output collected beside the input
  // leaves first.
  syncout();

  // Unread bytes pushed past the array's end are given back to the byte
  // stream, so that they are read again after the ones still held.
  std::ptrdiff_t total = arrayEnd() - array();
  std::ptrdiff_t newEnd = (egptr() - array()) + delta;
  if (newEnd > total) {
    fFilePosition = fByteStream->doSeek(-static_cast<IFileSize>(newEnd - total), IFSFileStream::cur);
    newEnd = total;
  }

  std::memmove(array() + delta, array(), static_cast<std::size_t>(total - delta));
  char* g = array() + delta - 1;
  setg(g, g, array() + newEnd);
  fPbackEnd += delta;
  *gptr() = static_cast<char>(c);
  return 1;
}

int IFSFileBuf::sync() {
  syncout();
  syncin();
  return 0;
}

int IFSFileBuf::overflowBesideInput(int c) {
  syncout();
  // The unread bytes, with up to kPutBackSize read ones in front for unget,
  // move to the array's start; the rest of the array takes output.
  std::ptrdiff_t keep = std::min<std::ptrdiff_t>(kPutBackSize, gptr() - eback());
  char* from = gptr() - keep;
  std::ptrdiff_t shift = from - array();
  if (shift > 0) {
    std::ptrdiff_t count = egptr() - from;
    std::memmove(array(), from, static_cast<std::size_t>(count));
    setg(array(), array() + keep, array() + count);
    fPbackEnd = array() + std::max<std::ptrdiff_t>(0, (fPbackEnd - array()) - shift);
  }
  if (egptr() == arrayEnd()) {
    // The array is all unread input: the character goes out on its own.
    if (c != EOF) {
      char one = static_cast<char>(c);
      fByteStream->doWrite(&one, 1);
      fFilePosition += 1;
    }
    return 0;
  }
  setp(egptr(), egptr() + std::min<std::ptrdiff_t>(arrayEnd() - egptr(), kDefaultBuffer));
  fState = kBesideInput;
  if (c != EOF) {
    *pptr() = static_cast<char>(c);
    pbump(1);
  }
  return 0;
}

void IFSFileBuf::syncout() {
  if (!hasPutArea())
    return;
  std::size_t count = static_cast<std::size_t>(pptr() - pbase());
  if (count != 0) {
    try {
      fByteStream->doWrite(pbase(), static_cast<int>(count));
    } catch (const IWriteError& e) {
      // What reached the file stays there; only the rest stays pending, so
      // that the next flush writes each byte once.
      std::size_t written =
          static_cast<std::size_t>(std::clamp<long long>(e.bytesWritten(), 0, static_cast<long long>(count)));
      fFilePosition += static_cast<IFileSize>(written);
      char* end = epptr();
      setp(pbase() + written, end);
      pbump(static_cast<int>(count - written));
      throw;
    }
    fFilePosition += static_cast<IFileSize>(count);
  }
  dropPutArea();
  // An appending write lands at the end as other writers left it: the
  // position is where the write ended, which only the stream knows.
  if (count != 0 && (fMode & ios::app) && seekable())
    fFilePosition = fByteStream->doSeek(0, IFSFileStream::cur);
}

void IFSFileBuf::syncin() {
  if (hasGetArea() && egptr() > gptr()) {
    // Unread input cannot be given back to a stream without positions; it
    // stays in the buffer to be read.
    if (!seekable())
      return;
    std::ptrdiff_t count = egptr() - gptr();
    fFilePosition = fByteStream->doSeek(-static_cast<IFileSize>(count), IFSFileStream::cur);
  }
  dropGetArea();
}

void IFSFileBuf::dropPutArea() {
  setp(nullptr, nullptr);
  if (fState == kWriting)
    fState = kIdle;
  else if (fState == kBesideInput)
    fState = kReading;
}

void IFSFileBuf::dropGetArea() {
  setg(nullptr, nullptr, nullptr);
  fPbackEnd = nullptr;
  if (fState == kReading)
    fState = kIdle;
  else if (fState == kBesideInput)
    fState = kWriting;
}

streampos IFSFileBuf::seekoff(streamoff offset, ios::seek_dir dir, int) {
  if (!fByteStream)
    return EOF;
  sync();
  IFileSize target = fByteStream->doSeek(static_cast<IFileSize>(offset), tseek(dir));
  // Only a stream without positions can still hold read-ahead here; it goes
  // once the system has answered the seek, as in seekpos.
  if (hasGetArea() && !seekable())
    dropGetArea();
  fFilePosition = target;
  return fFilePosition;
}

streampos IFSFileBuf::seekpos(streampos offset, int) {
  if (!fByteStream)
    return EOF;
  syncout();
  // The read-ahead goes only once the seek has succeeded: a refused seek
  // leaves the stream where it stood, its unread bytes still to be read.
  IFileSize target = fByteStream->doSeek(static_cast<IFileSize>(offset), IFSFileStream::beg);
  dropGetArea();
  fFilePosition = target;
  return fFilePosition;
}
