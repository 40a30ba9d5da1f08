// IFSFileBuf: the buffered streambuf behind IFileIOStream. One array of
// kDefaultBuffer + kPutBackSize bytes serves reading and writing alike, over
// a byte stream that the file's record makes.
//
// Not exported from libkelfile.so. Not safe to use from two threads at once.
#pragma once

#include "ifilesys.hpp"
#include "streambuf.hpp"

#include <cstddef>
#include <memory>

class IFSFileBuf : public streambuf {
public:
  // Makes a closed buffer and opens it on `file`; throws what open throws.
  IFSFileBuf(const IFile& file, int modeForMe, int modeForOthers);
  // Tries to write pending output and to close the byte stream; never throws.
  ~IFSFileBuf() override;

  // Opens the closed buffer on `file` with the ios::open_mode bits `myMode`
  // (app implies out; ate and app start at the file's end). `otherMode` goes
  // to the file's record unchanged. Throws what the record and the byte
  // stream throw; the buffer then stays closed.
  void open(const IFile& file, int myMode, int otherMode);
  // Writes pending output, drops unread input and closes the byte stream.
  // On a failed write or close the buffer stays open and the exception passes.
  void close();
  IFile file() const { return fFile; }
  int mode() const { return fMode; }

  // The logical position, from fFilePosition and the areas; no byte-stream call.
  IFileSize position() const;
  // The file's end as the byte stream reports it; pending output is not counted.
  IFileSize endOfFile() const;
  // Cuts or extends the file; leaves the areas and the position alone.
  void setEndOfFile(IFileSize size);

  int overflow(int c) override;
  int underflow() override;
  // 1 when `c` was put back, EOF when there is no room or no input.
  int pbackfail(int c) override;
  // Writes pending output and gives unread input back; always 0.
  int sync() override;
  // Both seeks return the full 64-bit position, or EOF on a closed buffer.
  streampos seekoff(streamoff offset, ios::seek_dir dir, int) override;
  streampos seekpos(streampos offset, int) override;

private:
  enum {
    kPutBackSize = 4,     // room kept in front of freshly read bytes for putback
    kDefaultBuffer = 4096 // capacity of the get area and of the put area
  };

  IFSFileBuf(const IFSFileBuf& copy);
  IFSFileBuf& operator=(const IFSFileBuf& copy);

  void syncout();
  void syncin();
  void dropGetArea();
  char* bufferEnd() const { return fBuffer.get() + fBufferSize + kPutBackSize; }

  // Layouts of the array, by offset from fBuffer (never both areas at once):
  //   writing:  pbase = 0, epptr = 4096; the last 4 bytes never take output.
  //   reading:  gptr = fPbackEnd = 4, egptr = 4 + bytes read; bytes 0 to 3
  //             are room for characters put back.
  //   putback into an idle buffer: gptr = 4095, egptr = fPbackEnd = 4096.
  //   after a putback shift: fPbackEnd and egptr moved up, never past 4100.
  // eback is the lowest byte that holds a character (read, or put back), so
  // the runtime steps back over real characters only; a putback into the
  // free room below it comes to pbackfail, which lowers eback.
  // Position invariant: the byte at pbase belongs at file offset fFilePosition;
  // egptr stands for file offset fFilePosition (the bytes gptr .. egptr are the
  // file's bytes just before it, a putback character in place of its byte).

  IFile fFile;                      // names nothing while closed
  int fMode;                        // open mode, out added for app; 0 while closed
  std::size_t fBufferSize;          // always kDefaultBuffer
  std::unique_ptr<char[]> fBuffer;  // fBufferSize + kPutBackSize bytes, made by the first open
  char* fPbackEnd;                  // where the bytes read from the file begin; null without a get area
  IFileSize fFilePosition;          // where the byte stream stands; 0 while closed
  std::unique_ptr<IFSFileStream> fByteStream; // null exactly while closed
};
