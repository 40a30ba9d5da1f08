#include "ifilestr.hpp"

#include "filebuf.hpp"
#include "iexcept.hpp"

#include <memory>
#include <new>

namespace {

// Whether the file must exist, may be made or is replaced. This follows out,
// not the access the mode asks for: app without out writes, but needs an
// existing file.
IFileSystemEntity::ECreateFlags createFlags(int mode) {
  if ((mode & ios::trunc) && !(mode & ios::noreplace))
    return IFileSystemEntity::kReplaceExisting;
  if (mode & ios::trunc)
    return IFileSystemEntity::kCreateOnly;
  if ((mode & ios::out) && !(mode & ios::nocreate))
    return IFileSystemEntity::kCreateIfNeeded;
  return IFileSystemEntity::kMustExist;
}

// Raw storage for one buffer, given back unless a built buffer took it over.
struct IStorageRelease {
  void operator()(void* bytes) const { ::operator delete(bytes); }
};

// The storage comes first, so that a failed allocation changes no file; the
// temporary file object goes before the storage whichever step fails.
IFSFileBuf* bufferOnPath(const IHostPathName& path, int myMode, int otherMode, const ICompoundNameParser& parser) {
  std::unique_ptr<void, IStorageRelease> storage(::operator new(sizeof(IFSFileBuf)));
  IFileSystemEntity::ECreateFlags flags = createFlags(myMode);
  IFSFileBuf* buffer;
  {
    // The file is found, made, replaced or refused here, before the buffer
    // opens it; the buffer keeps its own copy.
    IFile temporary = IFile::opening(path, flags, myMode, otherMode, parser);
    buffer = new (storage.get()) IFSFileBuf(temporary, myMode, otherMode);
  }
  storage.release();
  return buffer;
}

} // namespace

IFileIOStream::IFileIOStream(const IFile& fileToOpen, int modeForMe, int modeForOthers) {
  try {
    fBuffer.reset(new IFSFileBuf(fileToOpen, modeForMe, modeForOthers));
  } catch (...) {
    init(nullptr);
    throw;
  }
  init(fBuffer.get());
}

IFileIOStream::IFileIOStream(const IHostPathName& path, int myMode, int otherMode,
                             const ICompoundNameParser& parser) {
  try {
    fBuffer.reset(bufferOnPath(path, myMode, otherMode, parser));
  } catch (...) {
    init(nullptr);
    throw;
  }
  init(fBuffer.get());
}

// A copy takes nothing from its argument: no buffer is made or attached.
IFileIOStream::IFileIOStream(const IFileIOStream&) : ios(), iostream() {}

IFileIOStream& IFileIOStream::operator=(const IFileIOStream&) { return *this; }

IFileIOStream::~IFileIOStream() {
  // A stream closed already has nothing to write; asking the buffer to close
  // again would only raise and swallow its assertion.
  if (!fBuffer || !fBuffer->isOpen())
    return;
  try {
    fBuffer->close();
  } catch (...) {
    // Nothing can be reported from here; a caller who cares closes first.
  }
}

IFSFileBuf& IFileIOStream::buffer() const {
  // Only the private copy constructor makes a stream without a buffer.
  if (!fBuffer)
    IExcept__assertState("fBuffer", IExceptionLocation("ifilestr", "IFileIOStream::buffer() const", __LINE__));
  return *fBuffer;
}

void IFileIOStream::open(const IFile& fileToOpen, int myMode, int otherMode) {
  buffer().open(fileToOpen, myMode, otherMode);
}

void IFileIOStream::close() { buffer().close(); }

IFile IFileIOStream::file() const { return buffer().file(); }
