#include "filebuf.hpp"

#include "iexcept.hpp"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>

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

} // namespace

IFSFileBuf::IFSFileBuf(const IFile& file, int modeForMe, int modeForOthers)
    : fMode(0), fBufferSize(kDefaultBuffer), fPbackEnd(nullptr), fFilePosition(0), fSeekable(true) {
  open(file, modeForMe, modeForOthers);
}

IFSFileBuf::~IFSFileBuf() {
  // A destructor has no one to report to: the owning stream closes the buffer
  // first and hears about failures there. Here the pending output and the
  // close get one more try each, and the byte stream and array go regardless.
  if (fByteStream) {
    try {
      syncout();
    } catch (...) {
    }
    try {
      fByteStream->close();
    } catch (...) {
    }
  }
}

void IFSFileBuf::open(const IFile& file, int myMode, int otherMode) {
  if (fByteStream) {
    IExcept__assertState("!fByteStream",
                         IExceptionLocation("filebuf", "IFSFileBuf::open(const IFile&,int,int)", 108));
    return; // a second byte stream would leave the first open and unflushed
  }
  if (!fBuffer)
    fBuffer = std::make_unique_for_overwrite<char[]>(fBufferSize + kPutBackSize);

  // The record positions the stream at the end for ate and app, and a
  // borrowed descriptor stands where its owner left it; the buffer only
  // learns where that is. If that fails the stream goes unclosed.
  std::unique_ptr<IFSFileStream> stream(file.getRecord()->createStream(myMode, otherMode));
  int mode = (myMode & ios::app) ? (myMode | ios::out) : myMode;
  IFileSize start = (mode & (ios::ate | ios::app)) ? stream->endOfFile() : stream->startPosition();

  fSeekable = stream->canSeek();
  fByteStream = std::move(stream);
  fMode = mode;
  fFilePosition = start;
  fFile = file;
}

void IFSFileBuf::close() {
  if (!fByteStream) {
    IExcept__assertState("fByteStream", IExceptionLocation("filebuf", "IFSFileBuf::close()", 145));
  } else {
    syncout();
    fByteStream->close();
    // Unread input of this file must never reach a later stream; until the
    // close has succeeded it stays, so that a retry finds the buffer as it was.
    dropGetArea();
    fByteStream.reset();
  }
  fFile = IFile();
  fMode = 0;
  fFilePosition = 0;
}

IFileSize IFSFileBuf::position() const {
  IFileSize result = fFilePosition;
  if (pbase())
    result += pptr() - pbase();
  else if (gptr())
    result -= egptr() - gptr();
  return result;
}

IFileSize IFSFileBuf::endOfFile() const {
  if (!fByteStream)
    IExcept__assertState("fByteStream", IExceptionLocation("filebuf", "IFSFileBuf::endOfFile() const", __LINE__));
  return fByteStream->endOfFile();
}

void IFSFileBuf::setEndOfFile(IFileSize size) {
  if (!fByteStream)
    IExcept__assertState("fByteStream",
                         IExceptionLocation("filebuf", "IFSFileBuf::setEndOfFile(IFileSize)", __LINE__));
  fByteStream->setEndOfFile(size);
}

int IFSFileBuf::overflow(int c) {
  if (!(fMode & ios::out))
    return EOF;
  if (!fSeekable && gptr())
    return overflowBesideInput(c);
  sync();
  setp(fBuffer.get(), fBuffer.get() + fBufferSize);
  if (c != EOF) {
    *pptr() = static_cast<char>(c);
    pbump(1);
  }
  return 0;
}

int IFSFileBuf::underflow() {
  if (!(fMode & ios::in))
    return EOF;
  if (gptr() && gptr() < egptr())
    return static_cast<unsigned char>(*gptr());
  sync();

  char* readBuf = fBuffer.get() + kPutBackSize;
  std::ptrdiff_t answer = fByteStream->doRead(readBuf, static_cast<int>(fBufferSize));
  if (answer < 0 || static_cast<std::size_t>(answer) > fBufferSize) {
    // Taking this count would hand out, or later overwrite, bytes outside the array.
    IThrowSystemError("read", fFile.isValid() ? fFile.path().str() : std::string("(unnamed file)"), EIO,
                      "the byte stream answered " + std::to_string(answer) + " bytes for " +
                          std::to_string(fBufferSize) + " asked");
  }
  std::size_t bytesRead = static_cast<std::size_t>(answer);
  if (bytesRead == 0)
    return EOF;
  fFilePosition += static_cast<IFileSize>(bytesRead);
  // The room in front holds no character yet: eback stays at the bytes read,
  // so that stepping back (unget) never reaches a stale byte of the array.
  setg(readBuf, readBuf, readBuf + bytesRead);
  fPbackEnd = gptr();
  return static_cast<unsigned char>(*gptr());
}

int IFSFileBuf::pbackfail(int c) {
  if (!(fMode & ios::in))
    return EOF;
  // Nothing goes back in front of the file's first byte: a position below 0
  // would make every later seek of the buffer fail. A stream without
  // positions has no start to guard.
  if (fSeekable && position() <= 0)
    return EOF;
  if (c == EOF) {
    // Stepping back over a byte that is no longer in the array needs a seek,
    // which a stream without positions cannot make.
    if (!fSeekable)
      return EOF;
    seekoff(-1, ios::cur, ios::in);
    return 1;
  }

  if (!gptr()) {
    // The one-byte get area lies where the put area would be: write what is
    // pending first, so that c stands for the last byte written.
    syncout();
    char* last = fBuffer.get() + fBufferSize - 1;
    setg(last, last, last + 1);
    fPbackEnd = egptr();
    *last = static_cast<char>(c);
    return 1;
  }

  if (gptr() > fBuffer.get()) {
    // Free room in front: the character goes there, and eback follows it, so
    // that the get area never reaches bytes that hold no character.
    char* g = gptr() - 1;
    *g = static_cast<char>(c);
    setg(g < eback() ? g : eback(), g, egptr());
    return 1;
  }

  // No room in front: shift the array up by a quarter of its size at a time,
  // until the bytes read from the file reach the array's end.
  std::size_t delta = fBufferSize >> 2;
  std::size_t room = static_cast<std::size_t>(bufferEnd() - fPbackEnd);
  if (room < delta)
    delta = room;
  // Without positions nothing can be given back, so the shift stops where
  // the unread bytes would fall off the array's end.
  if (!fSeekable && static_cast<std::size_t>(bufferEnd() - egptr()) < delta)
    delta = static_cast<std::size_t>(bufferEnd() - egptr());
  if (delta == 0)
    return EOF;
  // The shift carries the whole array: output collected beside the input
  // leaves first.
  syncout();

  // Unread bytes pushed past the array's end are given back to the byte
  // stream, so that they are read again after the ones still held.
  std::size_t total = fBufferSize + kPutBackSize;
  std::size_t newEnd = static_cast<std::size_t>(egptr() - fBuffer.get()) + delta;
  if (newEnd > total) {
    IFileSize lost = static_cast<IFileSize>(newEnd - total);
    fFilePosition = fByteStream->doSeek(-lost, IFSFileStream::cur);
    newEnd = total;
  }

  std::memmove(fBuffer.get() + delta, fBuffer.get(), total - delta);
  char* g = fBuffer.get() + delta - 1;
  setg(g, g, fBuffer.get() + newEnd);
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
  char* array = fBuffer.get();
  std::ptrdiff_t keep = std::min<std::ptrdiff_t>(kPutBackSize, gptr() - eback());
  char* from = gptr() - keep;
  std::ptrdiff_t shift = from - array;
  if (shift > 0) {
    std::ptrdiff_t count = egptr() - from;
    std::memmove(array, from, static_cast<std::size_t>(count));
    setg(array, array + keep, array + count);
    fPbackEnd = array + std::max<std::ptrdiff_t>(0, (fPbackEnd - array) - shift);
  }
  if (egptr() == bufferEnd()) {
    // The array is all unread input: the character goes out on its own.
    if (c != EOF) {
      char one = static_cast<char>(c);
      fByteStream->doWrite(&one, 1);
      fFilePosition += 1;
    }
    return 0;
  }
  setp(egptr(), std::min(bufferEnd(), egptr() + fBufferSize));
  if (c != EOF) {
    *pptr() = static_cast<char>(c);
    pbump(1);
  }
  return 0;
}

void IFSFileBuf::syncout() {
  if (!pbase())
    return;
  std::size_t count = static_cast<std::size_t>(pptr() - pbase());
  if (count != 0) {
    try {
      fByteStream->doWrite(pbase(), static_cast<int>(count));
    } catch (const IWriteError& e) {
      // What reached the file stays there; only the rest stays pending, so
      // that the next flush writes each byte once.
      std::size_t written = static_cast<std::size_t>(std::clamp<long long>(e.bytesWritten(), 0, static_cast<long long>(count)));
      fFilePosition += static_cast<IFileSize>(written);
      char* end = epptr();
      setp(pbase() + written, end);
      pbump(static_cast<int>(count - written));
      throw;
    }
    fFilePosition += static_cast<IFileSize>(count);
  }
  setp(nullptr, nullptr);
  // An appending write lands at the end as other writers left it: the
  // position is where the write ended, which only the stream knows.
  if (count != 0 && (fMode & ios::app) && fSeekable)
    fFilePosition = fByteStream->doSeek(0, IFSFileStream::cur);
}

void IFSFileBuf::syncin() {
  if (gptr() && egptr() > gptr()) {
    // Unread input cannot be given back to a stream without positions; it
    // stays in the buffer to be read.
    if (!fSeekable)
      return;
    std::ptrdiff_t count = egptr() - gptr();
    fFilePosition = fByteStream->doSeek(-static_cast<IFileSize>(count), IFSFileStream::cur);
  }
  dropGetArea();
}

void IFSFileBuf::dropGetArea() {
  setg(nullptr, nullptr, nullptr);
  fPbackEnd = nullptr;
}

streampos IFSFileBuf::seekoff(streamoff offset, ios::seek_dir dir, int) {
  if (!fByteStream)
    return EOF;
  sync();
  IFileSize target = fByteStream->doSeek(static_cast<IFileSize>(offset), tseek(dir));
  // Only a stream without positions can still hold read-ahead here; it goes
  // once the system has answered the seek, as in seekpos.
  if (!fSeekable)
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
