// IFSFileStream: the byte stream through which all file I/O passes.
//
// A stream stands at one position; doRead and doWrite act there and move it
// on. Every failure is thrown as an IAccessError (or a subclass) that names
// the operation, the path and the system's error. Deleting a stream releases
// the file even when close() was never called. Not safe to use from two
// threads at once.
#pragma once

#include "kbexport.hpp"

#include <cstddef>

typedef long long ILongLong;
typedef ILongLong IFileSize; // 64-bit byte count and absolute file offset

class KELBASE_API IFSFileStream {
public:
  enum seek_dir { beg = 0, cur = 1, end = 2 };

  virtual ~IFSFileStream();
  // Releases the file; a failure is reported, and the file is released anyway.
  // Closing a closed stream does nothing.
  virtual void close() = 0;
  // Reads up to `count` bytes at the position; 0 means the end of the file.
  virtual std::ptrdiff_t doRead(void* buffer, int count) = 0;
  // Writes all `count` bytes at the position (at the file's end, for a
  // stream opened with app), or throws. A failure may come after a part of
  // the bytes reached the file: IWriteError says how many did.
  virtual void doWrite(const void* buffer, int count) = 0;
  // Moves the position and returns the new absolute position.
  virtual IFileSize doSeek(IFileSize offset, seek_dir dir) = 0;
  // The offset of the file's end, its size.
  virtual IFileSize endOfFile() const = 0;
  // Cuts or extends the file to `size` bytes.
  virtual void setEndOfFile(IFileSize size) = 0;
  // Whether the position means anything: false for a pipe, a FIFO, a socket
  // or a character device such as a terminal, whose input and output are two
  // separate channels. A buffer over such a stream never seeks on its own
  // account (to give back read-ahead, say); seeks the caller asks for are
  // still passed on and answered by the system.
  virtual bool canSeek() const;
  // Where the stream stood when its record made it: the file's end for ate
  // and app, where a borrowed descriptor stood, else 0. The default is 0.
  virtual IFileSize startPosition() const;
  // The system's descriptor behind the stream, for callers that hand it to
  // the system themselves (the classic filebuf::fd()); -1 when there is none.
  virtual int descriptor() const;

protected:
  IFSFileStream();

private:
  IFSFileStream(const IFSFileStream&);
  IFSFileStream& operator=(const IFSFileStream&);
};
