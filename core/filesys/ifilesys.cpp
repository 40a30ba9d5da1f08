// The file-system objects: shared ownership of a record.
#include "ifilesys.hpp"

#include "iexcept.hpp"

#include <utility>

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

// IFile's path constructors are the host's: core/host/hostrec.cpp.

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
