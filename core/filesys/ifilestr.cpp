#include "ifilestr.hpp"

#include "filebuf.hpp"
#include "iexcept.hpp"

namespace {

IFileSystemEntity::ECreateFlags createFlags(int mode) {
  if ((mode & ios::trunc) && !(mode & ios::noreplace))
    return IFileSystemEntity::kReplaceExisting;
  if (mode & ios::trunc)
    return IFileSystemEntity::kCreateOnly;
  if ((mode & ios::out) && !(mode & ios::nocreate))
    return IFileSystemEntity::kCreateIfNeeded;
  return IFileSystemEntity::kMustExist;
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
    // The file is found, made, replaced or refused here, before the buffer
    // opens it; the buffer keeps its own copy.
    IFile temporary(path, createFlags(myMode), parser);
    fBuffer.reset(new IFSFileBuf(temporary, myMode, otherMode));
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
  if (!fBuffer)
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
