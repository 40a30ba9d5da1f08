// File-system objects: IFileSystemEntity, and IFile, a copyable value that
// names one file (or nothing). IDirectory and IVolume exist for their type.
//
// Making an IFile by path finds or creates the file on the spot (a
// replacement is cut by its first stream); the file object then opens
// streams on it:
//   IFile data("data.txt", IFile::kCreateIfNeeded);
//   IFileIOStream s(data, ios::in | ios::out, 0);
// Copies share one record; the record, not the file, dies with the last copy.
#pragma once

#include "icnparse.hpp"
#include "fsfilrec.hpp"

#include <memory>

class KELBASE_API IFileSystemEntity {
public:
  // What making a file object by path does to the file.
  enum ECreateFlags {
    kMustExist = 0,       // the file must exist (ENOENT otherwise)
    kCreateIfNeeded = 1,  // an empty file is made when missing
    kCreateOnly = 2,      // the file must not exist (EEXIST); it is made, atomically
    kReplaceExisting = 3  // made when missing; cut to 0 bytes by the first stream opened on it
  };

  virtual ~IFileSystemEntity();

  // The record, owned by the object; throws IInvalidRequest when the object
  // names nothing.
  IFSRecord* getRecord() const {
    assertValid();
    return fRecord;
  }
  // Throws IInvalidRequest when the object names nothing.
  void assertValid() const {
    if (!fRecord)
      invalidRecord();
  }
  bool isValid() const { return fRecord != nullptr; }

protected:
  IFileSystemEntity();
  explicit IFileSystemEntity(std::shared_ptr<IFSRecord> record);
  IFileSystemEntity(const IFileSystemEntity&);
  IFileSystemEntity& operator=(const IFileSystemEntity&);

  [[noreturn]] void invalidRecord() const;

  IFSRecord* fRecord; // null when the object names nothing

private:
  std::shared_ptr<IFSRecord> fOwner; // keeps fRecord alive; shared by copies
};

class KELBASE_API IFile : public IFileSystemEntity {
public:
  // Names nothing.
  IFile();
  // Names the same file, sharing its record.
  IFile(const IFile&);
  // Names the file at `path`, found, created, replaced or refused as `rule`
  // says. Throws IInvalidParameter for a path the parser rejects and
  // IAccessError when the file system refuses (a missing file or folder, an
  // existing file with kCreateOnly, a directory, no permission).
  IFile(const IText& path, ECreateFlags rule = kMustExist,
        const ICompoundNameParser& parser = ICompoundNameParser());
  // The same, a file made here getting the permission bits `permissions`
  // less the umask instead of 0666 less the umask.
  IFile(const IText& path, ECreateFlags rule, int permissions,
        const ICompoundNameParser& parser = ICompoundNameParser());
  // Names `record`, shared by the copies of this object.
  explicit IFile(std::shared_ptr<IFSFileRecord> record);
  // Names the file open on `descriptor`, which stays its owner's: streams
  // read and write it as it was opened, whatever their open mode, and never
  // close it. `*access`, when given, receives the ios::in and ios::out bits
  // of that open. Throws IAccessError (EBADF) for a descriptor that is not open.
  static IFile borrowing(int descriptor, int* access = nullptr);
  // Names the file at `path` as the constructor does and opens its first byte
  // stream in the same step, which the first createStream(myMode, otherMode)
  // of the record hands out: the path constructor of a stream, in one walk of
  // the path. Throws what the constructor and that createStream would throw.
  static IFile opening(const IText& path, ECreateFlags rule, int myMode, int otherMode,
                       const ICompoundNameParser& parser = ICompoundNameParser());
  ~IFile() override;

  // Names the file that the argument names (or nothing), sharing its record.
  IFile& operator=(const IFile&);
  // Takes the entity's record; throws IInvalidParameter when it is not a file.
  IFile& operator=(const IFileSystemEntity&);

  // The file's record; throws IInvalidRequest when the object names nothing.
  IFSFileRecord* getRecord() const { return static_cast<IFSFileRecord*>(IFileSystemEntity::getRecord()); }
  // The absolute path; throws IInvalidRequest when the object names nothing.
  IText path() const { return getRecord()->path(); }
};

class KELBASE_API IDirectory : public IFileSystemEntity {
public:
  IDirectory();
  IDirectory(const IDirectory&);
  ~IDirectory() override;
  IDirectory& operator=(const IDirectory&);
};

class KELBASE_API IVolume : public IFileSystemEntity {
public:
  IVolume();
  IVolume(const IVolume&);
  ~IVolume() override;
  IVolume& operator=(const IVolume&);
};
