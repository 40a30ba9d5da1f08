// IFSRecord and IFSFileRecord: what a file-system object stands for.
//
// A record knows its entity (for a file: its absolute path) and makes byte
// streams on it. IFile holds one; the host's is made by IFile's path
// constructor. A test derives from IFSFileRecord to hand IFileIOStream a byte
// stream of its own: IFile(std::make_shared<MyRecord>(...)).
#pragma once

#include "itext.hpp"
#include "fsstream.hpp"

class KELBASE_API IFSRecord {
public:
  virtual ~IFSRecord();
  // The absolute host path of the entity.
  virtual IText path() const = 0;

protected:
  IFSRecord();

private:
  IFSRecord(const IFSRecord&);
  IFSRecord& operator=(const IFSRecord&);
};

class KELBASE_API IFSFileRecord : public IFSRecord {
public:
  ~IFSFileRecord() override;

  // Opens the file and returns a new byte stream that the caller owns.
  // `myMode` is the caller's ios::open_mode bits, whose access IAccess::ofMode
  // reads: read access for `in`, write access for `out`, `app` or `trunc`.
  // `trunc` cuts the file; with `app` every write lands at the file's end;
  // the stream stands at the file's end for `ate` or `app` and at 0
  // otherwise. `otherMode` is the access granted to other users of the file
  // while the stream is open (IAccess::ofSharing). Throws IInvalidParameter
  // for a mode that asks for no access and IAccessError when the file cannot
  // be opened.
  virtual IFSFileStream* createStream(int myMode, int otherMode) const = 0;
};
