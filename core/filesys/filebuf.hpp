// IFSFileBuf: the buffered streambuf behind IFileIOStream. One array of
// kDefaultBuffer + kPutBackSize bytes serves reading and writing alike, over
// a byte stream that the file's record makes. Over a stream without
// positions (a pipe, a terminal) the buffer never seeks on its own account,
// so one buffer can carry a dialogue in both directions.
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
  // Writes pending output, closes the byte stream and drops unread input.
  // On a failed write or close the buffer stays open, its unread input and
  // position intact, and the exception passes.
  void close();
  IFile file() const { return fFile; }
  int mode() const { return fMode; }

  // The logical position, from fFilePosition and the areas; no byte-stream
  // call. Over a stream without positions it only counts bytes moved.
  IFileSize position() const;
  // The file's end as the byte stream reports it; pending output is not counted.
  IFileSize endOfFile() const;
  // Cuts or extends the file; leaves the areas and the position alone.
  void setEndOfFile(IFileSize size);

  int overflow(int c) override;
  int underflow() override;
  // 1 when `c` was put back; EOF when there is no room or no input, or when
  // the position would fall below the file's start.
  int pbackfail(int c) override;
  // Writes pending output and gives unread input back (kept, over a stream
  // without positions); always 0.
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
  int overflowBesideInput(int c);
  char* bufferEnd() const { return fBuffer.get() + fBufferSize + kPutBackSize; }

  // Layouts of the array, by offset from fBuffer (over a stream with
  // positions never both areas at once):
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
  // No putback takes the position below 0.
  //
  // Over a stream without positions (fSeekable false) unread input cannot be
  // given back, so the get area lives on while output is collected:
  //   writing beside input: the unread bytes, with up to 4 read ones in front
  //             for unget, are moved down to offset 0: eback = 0, egptr = the
  //             end of the unread bytes; pbase = egptr, epptr = 4100 (at most
  //             4096 bytes of output). A flush writes the put area and leaves
  //             the get area as it is; the next refill writes pending output
  //             first, then reads at offset 4 as above.
  //   no room beside input (4100 unread bytes): a character written goes out
  //             on its own, with no put area.
  //   a putback shift stops where unread bytes would fall off the end.
  // There the invariants of position are void: fFilePosition counts the bytes
  // read and written, and only seeks the caller asks for reach the stream.

  IFile fFile;                      // names nothing while closed
  int fMode;                        // open mode, out added for app; 0 while closed
  std::size_t fBufferSize;          // always kDefaultBuffer
  std::unique_ptr<char[]> fBuffer;  // fBufferSize + kPutBackSize bytes, made by the first open
  char* fPbackEnd;                  // where the bytes read from the file begin; null without a get area
  IFileSize fFilePosition;          // where the byte stream stands; 0 while closed
  bool fSeekable;                   // the byte stream's canSeek(), read once at open
  std::unique_ptr<IFSFileStream> fByteStream; // null exactly while closed
};
