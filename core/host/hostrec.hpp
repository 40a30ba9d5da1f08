// IHostFileRecord: the record of a file named by an absolute host path.
#pragma once

#include "ifilesys.hpp"

#include <atomic>
#include <memory>
#include <string>

namespace kelhost {

class IHostFileStream;

class IHostFileRecord : public IFSFileRecord, public std::enable_shared_from_this<IHostFileRecord> {
public:
  // `path` must be absolute (IInvalidParameter otherwise). Nothing is checked
  // on the disk: locate() is the way to a record of a file that exists.
  explicit IHostFileRecord(IText path);
  ~IHostFileRecord() override;

  // Finds, creates or refuses the file at the absolute `path` as `rule` says,
  // and returns its record. A directory, a missing folder on the way and a
  // folder that is a file are refused with an IAccessError that says so. New
  // files get `permissions` less the umask. An existing file is looked up, never
  // opened, so nothing here can block or change it. kReplaceExisting leaves
  // the cut of an existing file to the first stream opened on the record,
  // which makes it as trunc does: once that stream's own sharing claim holds.
  static std::shared_ptr<IHostFileRecord> locate(IText path, IFileSystemEntity::ECreateFlags rule,
                                                 int permissions = 0666);

  // Locates the file as locate() does and opens its first stream in the same
  // step, where one open(2) answers what locating would have found (an
  // existing file; O_EXCL for kCreateOnly): the first createStream(myMode,
  // otherMode) hands that stream out. When open(2) fails, the two steps run
  // after all, so that a missing file is made, and every refusal says what
  // it always said, as before.
  static std::shared_ptr<IHostFileRecord> locateAndOpen(IText path, IFileSystemEntity::ECreateFlags rule, int myMode,
                                                        int otherMode);

  IText path() const override;

  // Never creates the file: a file that vanished since is ENOENT. See
  // IHostFileStream::open for the modes and the sharing rules; while a
  // replacement is pending, the mode has trunc added.
  IFSFileStream* createStream(int myMode, int otherMode) const override;
  // The same, typed.
  std::unique_ptr<IHostFileStream> openStream(int myMode, int otherMode) const;

private:
  // The path for a stream's errors, shared with the stream where this record
  // is owned by a shared_ptr (as file objects own it), else a copy.
  std::shared_ptr<const std::string> sharedPath() const;

  IText fPath;
  mutable std::unique_ptr<IHostFileStream> fFirst;  // opened by locateAndOpen, for the first createStream
  mutable std::atomic<bool> fReplacePending{false}; // kReplaceExisting found the file and no stream has cut it yet
  short fFirstMode = 0, fFirstOthers = 0;           // what fFirst was opened with
};

} // namespace kelhost
