// The file-system objects: shared ownership of a record, and finding a file by path.
#include "ifilesys.hpp"

#include "hostrec.hpp"
#include "iexcept.hpp"

#include <utility>

namespace {

std::shared_ptr<IFSRecord> recordFor(const IText& path, IFileSystemEntity::ECreateFlags rule,
                                     const ICompoundNameParser& parser, int permissions = 0666) {
  switch (rule) {
  case IFileSystemEntity::kMustExist:
  case IFileSystemEntity::kCreateIfNeeded:
  case IFileSystemEntity::kCreateOnly:
  case IFileSystemEntity::kReplaceExisting:
    break;
  default:
    throw IInvalidParameter("the creation rule " + std::to_string(static_cast<int>(rule)) +
                            " is none of kMustExist, kCreateIfNeeded, kCreateOnly, kReplaceExisting");
  }
  return IHostFileRecord::locate(parser.fullPath(path), rule, permissions);
}

} // namespace

IFileSystemEntity::IFileSystemEntity() : fRecord(nullptr) {}

IFileSystemEntity::IFileSystemEntity(std::shared_ptr<IFSRecord> record)
    : fRecord(record.get()), fOwner(std::move(record)) {}

IFileSystemEntity::IFileSystemEntity(const IFileSystemEntity&) = default;
IFileSystemEntity& IFileSystemEntity::operator=(const IFileSystemEntity&) = default;
IFileSystemEntity::~IFileSystemEntity() = default;

void IFileSystemEntity::invalidRecord() const {
  throw IInvalidRequest("the file object names no file: make it from a path or a record before using it");
}

IFile::IFile() = default;
IFile::IFile(const IFile&) = default;

IFile::IFile(const IText& path, ECreateFlags rule, const ICompoundNameParser& parser)
    : IFileSystemEntity(recordFor(path, rule, parser)) {}

IFile::IFile(const IText& path, ECreateFlags rule, int permissions, const ICompoundNameParser& parser)
    : IFileSystemEntity(recordFor(path, rule, parser, permissions)) {}

IFile::IFile(std::shared_ptr<IFSFileRecord> record) : IFileSystemEntity(std::move(record)) {}

IFile::~IFile() = default;

IFile& IFile::operator=(const IFile&) = default;

IFile& IFile::operator=(const IFileSystemEntity& entity) {
  if (entity.isValid() && !dynamic_cast<IFSFileRecord*>(entity.getRecord()))
    throw IInvalidParameter("'" + entity.getRecord()->path().str() +
                            "' is not a file, so a file object cannot name it");
  IFileSystemEntity::operator=(entity);
  return *this;
}

IDirectory::IDirectory() = default;
IDirectory::IDirectory(const IDirectory&) = default;
IDirectory::~IDirectory() = default;
IDirectory& IDirectory::operator=(const IDirectory&) = default;

IVolume::IVolume() = default;
IVolume::IVolume(const IVolume&) = default;
IVolume::~IVolume() = default;
IVolume& IVolume::operator=(const IVolume&) = default;
