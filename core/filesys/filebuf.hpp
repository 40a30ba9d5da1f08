// IFSFileBuf: the buffered streambuf behind IFileIOStream and the classic
// filebuf. One array of kDefaultBuffer + kPutBackSize bytes serves reading
// and writing alike, over a byte stream that the file's record makes. Over a
// stream without positions (a pipe, a terminal) the buffer never seeks on its
// own account, so one buffer can carry a dialogue in both directions.
//
// The classic filebuf derives from it, so this header reaches classic
// programs through fstream.h: it stays free of <memory> and <string> (which
// bring the standard streams and <unistd.h>), holding what it owns through
// IOwner. Its code is compiled into libkelfile and libkelfstream and exported
// from neither. Not safe to use from two threads at once.
#pragma once

#include "fsstream.hpp"
#include "iowner.hpp"
#include "streambuf.hpp"

class IFile;

class IFSFileBuf : public streambuf {
public:
  // A closed buffer; it makes no array until the first open.
  IFSFileBuf();
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
  // Closes whatever fails: pending output and the close get one more try
  // each, their failures are dropped, and the buffer is closed afterwards.
  void closeRegardless() noexcept;
  bool isOpen() const { return static_cast<bool>(fByteStream); }
  // A copy of the file the buffer is open on; names nothing while closed.
  IFile file() const;
  int mode() const { return fMode; }
  // The byte stream's descriptor; -1 while closed or when it has none.
  int descriptor() const { return fByteStream ? fByteStream->descriptor() : -1; }

  // The logical position, from fFilePosition and the areas; no byte-stream
  // call. Over a stream without positions it only counts bytes moved.
  IFileSize position() const;
  // The file's end as the byte stream reports it; pending output is not counted.
  IFileSize endOfFile() const;
  // Cuts or extends the file; leaves the areas and the position alone.
  void setEndOfFile(IFileSize size);

  // overflow and underflow call sync(), pbackfail(EOF) seekoff(), and
  // seekoff sync(), as virtual calls: a derived buffer's overrides run there.
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
  struct IArray {
    char fBytes[kDefaultBuffer + kPutBackSize];
  };

  // What the areas hold; each state names which of them exist (below).
  enum EState : unsigned char {
    kIdle,       // no get area, no put area (always so while closed)
    kReading,    // a get area, no put area
    kWriting,    // a put area, no get area
    kBesideInput // both: output collected beside unread input, without positions only
  };

  IFSFileBuf(const IFSFileBuf& copy);
  IFSFileBuf& operator=(const IFSFileBuf& copy);

  void syncout();
  void syncin();
  // Each drops one area and leaves the state naming the other, if any.
  void dropPutArea();
  void dropGetArea();
  bool hasGetArea() const { return fState == kReading || fState == kBesideInput; }
  bool hasPutArea() const { return fState == kWriting || fState == kBesideInput; }
  int putBackAlone(int c);
  int putBackShifting(int c);
  int overflowBesideInput(int c);
  char* array() const { return fArray->fBytes; }
  char* arrayEnd() const { return fArray->fBytes + sizeof fArray->fBytes; }

  // Layouts of the array by state, by offset from its start:
  //   kIdle:     all six area pointers null, fPbackEnd null.
  //   kWriting:  pbase = 0, epptr = 4096; the last 4 bytes never take output.
  //              After a failed write pbase stands past the bytes that
  //              reached the file: pbase .. pptr is what is still to write.
  //   kReading:  gptr = fPbackEnd = 4, egptr = 4 + bytes read; bytes 0 to 3
  //              are room for characters put back.
  //              Putback into an idle or writing buffer (pending output is
  //              written first): gptr = 4095, egptr = fPbackEnd = 4096.
  //              After a putback shift: fPbackEnd and egptr moved up, never
  //              past 4100.
  // eback is the lowest byte that holds a character (read, or put back), so
  // the runtime steps back over real characters only; a putback into the
  // free room below it comes to pbackfail, which lowers eback.
  // Position invariant: the byte at pbase belongs at file offset fFilePosition;
  // egptr stands for file offset fFilePosition (the bytes gptr .. egptr are the
  // file's bytes just before it, a putback character in place of its byte).
  // No putback takes the position below 0. Over a stream with positions the
  // state is never kBesideInput.
  //
  // Over a stream without positions (seekable() false) unread input cannot be
  // given back, so the get area lives on while output is collected:
  //   kBesideInput: the unread bytes, with up to 4 read ones in front for
  //              unget, are moved down to offset 0: eback = 0, egptr = the
  //              end of the unread bytes; pbase = egptr, epptr = 4100 (at
  //              most 4096 bytes of output). A flush writes the put area and
  //              leaves the get area as it is (kReading); the next refill
  //              writes pending output first, then reads at offset 4 as above.
  //   no room beside input (4100 unread bytes): a character written goes out
  //              on its own; the state stays kReading.
  //   a putback shift stops where unread bytes would fall off the end.
  // There the invariants of position are void: fFilePosition counts the bytes
  // read and written, and only seeks the caller asks for reach the stream.

  IFile& heldFile() const;
  bool seekable() const;
  // The file while open, one that names nothing while closed: an IFile held
  // in place, since its header brings <memory>; filebuf.cpp checks the fit.
  alignas(void*) unsigned char fFile[4 * sizeof(void*)];
  int fMode = 0;                     // open mode, out added for app; 0 while closed
  EState fState = kIdle;             // which areas exist
  mutable signed char fSeekable = -1; // the byte stream's canSeek(), asked when first needed; -1 till then
  IOwner<IArray> fArray;             // made by the first open, kept until destruction
  char* fPbackEnd = nullptr;         // where the bytes read from the file begin; null without a get area
  IFileSize fFilePosition = 0;       // where the byte stream stands; 0 while closed
  IOwner<IFSFileStream> fByteStream; // null exactly while closed
};
