// IHostFileRecord: the record of a file named by an absolute host path.
#pragma once

#include "ifilesys.hpp"

#include <memory>
#include <string>

class IHostFileStream;

class KELBASE_API IHostFileRecord : public IFSFileRecord {
public:
  // `path` must be absolute (IInvalidParameter otherwise). Nothing is checked
  // on the disk: locate() is the way to a record of a file that exists.
  explicit IHostFileRecord(std::string path);
  ~IHostFileRecord() override;

  // Finds, creates, replaces or refuses the file at the absolute `path` as
  // `rule` says, and returns its record. A directory, a missing folder on the
  // way and a folder that is a file are refused with an IAccessError that
  // says so. New files get mode 0666 less the umask. kReplaceExisting cuts a
  // file only when no open stream denies writing it ("sharing violation",
  // EBUSY, otherwise). Leaves no descriptor open.
  static std::shared_ptr<IHostFileRecord> locate(const IText& path, IFileSystemEntity::ECreateFlags rule);

  IText path() const override;

  // Never creates the file: a file that vanished since is ENOENT. `in` reads,
  // `out`, `app` or `trunc` write, `trunc` cuts the file, `app` appends every
  // write; `nocreate`, `noreplace` and `bin` change nothing here. `otherMode`
  // grants others reading (ios::in) and writing (ios::out) while the stream
  // is open; an open that conflicts with a stream already open on the file
  // is refused with an IAccessError (EBUSY) that says "sharing violation",
  // and leaves nothing open (hostshar.hpp).
  IFSFileStream* createStream(int myMode, int otherMode) const override;
  // The same, typed.
  std::unique_ptr<IHostFileStream> openStream(int myMode, int otherMode) const;

private:
  std::string fPath;
};
