// IFileIOStream: an iostream that reads and writes one file.
//
//   IFileIOStream data("scores.txt", ios::in | ios::out, 0);
//   data << "alice " << 42 << '\n';
//   data.seekg(0);
//   std::string name; int score;
//   data >> name >> score;
//
// The open mode is the classic ios::open_mode bits: in, out, ate (start at the
// end), app (write, starting at the end), trunc (cut to 0 bytes), nocreate (the
// file must exist), noreplace (the file must not exist, with trunc), bin.
//
// The sharing mode says what others may do with the file while this stream
// has it open: ios::in lets them read it, ios::out lets them write it, both
// let them do either, 0 lets them do neither; other bits are ignored. The
// stream's own access is what its open mode asks for: reading for in, writing
// for out, app or trunc. An open is refused when it wants an access that a
// stream already open on the file denies, or denies an access that such a
// stream has, whether that stream is in this process or in another: the
// constructors and open() throw IAccessError with errorId() EBUSY, whose text
// says "sharing violation" and names the path; nothing is left open and trunc
// has not cut the file. The rules end when the stream closes or its process
// ends, however it ends. They bind programs that use this library, as
// advisory locks do, and only regular files; see "Sharing modes" in the
// README for what they promise and what they do not.
//
// Reading and writing may alternate with no seek in between; the position is
// one, for both. Failures of the file system are thrown as IAccessError (a
// subclass of IException, itself a std::exception) whose text names the
// operation, the path and the system's error; they pass through the stream
// operations unchanged. Not safe to use from two threads at once.
#pragma once

#include "iexcept.hpp" // what it throws
#include "ifilesys.hpp"
#include "iostream.hpp"
#include "iostring.hpp" // >>, << and getline for std::string
#include "kfexport.hpp"

#include <memory>

class IFSFileBuf;

class KELFILE_API IFileIOStream : public iostream {
public:
  // Opens `fileToOpen`; throws what opening throws (IAccessError from the
  // file system, IInvalidParameter for a mode that asks for no access,
  // IInvalidRequest for a file object that names nothing), and then no
  // stream exists.
  IFileIOStream(const IFile& fileToOpen, int modeForMe, int modeForOthers);
  // Opens the file at `path`, found, made or refused by the open mode: trunc
  // replaces (or, with noreplace, only creates), out creates a missing file
  // unless nocreate is given, anything else needs an existing file. Throws
  // IInvalidParameter for an empty path, and what the other constructor throws.
  IFileIOStream(const IHostPathName& path, int myMode, int otherMode,
                const ICompoundNameParser& parser = ICompoundNameParser());
  // Closes the file, dropping any failure of the close.
  ~IFileIOStream() override;

  // Opens another (or the same) file on a closed stream; the state bits stay.
  // Throws what the constructor throws, the stream staying closed, and
  // IAssertionFailure on a stream that is open.
  void open(const IFile& fileToOpen, int myMode, int otherMode);
  // Writes pending output and closes the file; throws on a failed write or
  // close (the stream then stays open, its output kept for a retry), and
  // IAssertionFailure on a stream that is closed already.
  void close();
  // A copy of the file the stream is open on; names nothing while closed.
  IFile file() const;

private:
  friend class IFileIOStreamOrdinals; // the ordinal table's entries for the copy operations
  IFileIOStream(const IFileIOStream&);
  IFileIOStream& operator=(const IFileIOStream&);

  // The buffer; reports the broken precondition "fBuffer" on a stream that has none.
  IFSFileBuf& buffer() const;

  std::unique_ptr<IFSFileBuf> fBuffer;
};
