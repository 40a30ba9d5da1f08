#include "memfile.hpp"

#include "iexcept.hpp"

#include <algorithm>
#include <cstring>
#include <ostream>

namespace {

constexpr int kIn = 1, kOut = 2, kAte = 4, kApp = 8, kTrunc = 16;

const char* opName(ICall::EOp op) {
  static const char* const names[] = {"createStream", "close", "doRead", "doWrite",
                                      "doSeek", "endOfFile", "setEndOfFile", "delete"};
  return names[op];
}

} // namespace

std::ostream& operator<<(std::ostream& out, const ICall& call) {
  out << opName(call.fOp) << "(";
  if (call.fBuffer)
    out << call.fBuffer << ", ";
  return out << call.fValue << ", " << call.fDir << ")";
}

void IMemoryFile::enter(const ICall& call) {
  fCalls.push_back(call);
  ++fCallCount;
  if (fFailCall != 0 && (fCallCount == fFailCall || (fFailOnward && fCallCount > fFailCall))) {
    ++fFailuresInjected;
    fInjected.push_back(call);
    IThrowSystemError(opName(call.fOp), "/memory/file", fErrorId);
  }
}

IMemoryStream::IMemoryStream(std::shared_ptr<IMemoryFile> file, int myMode, IFileSize start)
    : fFile(std::move(file)), fMode(myMode), fPosition(start), fStart(start) {
  ++fFile->fLiveStreams;
}

IMemoryStream::~IMemoryStream() {
  fFile->fCalls.push_back(calls::destroy());
  --fFile->fLiveStreams;
}

// As the host's streams answer: IInvalidRequest once closed, IInvalidParameter for a negative count.
void IMemoryStream::check(const char* operation, int count) const {
  if (fClosed)
    throw IInvalidRequest(std::string(operation) + " of '/memory/file' is impossible: the stream is closed");
  if (count < 0)
    throw IInvalidParameter(std::string(operation) + " of " + std::to_string(count) +
                            " bytes: a byte count cannot be negative");
}

void IMemoryStream::close() {
  fFile->enter(calls::close());
  fClosed = true;
}

std::ptrdiff_t IMemoryStream::doRead(void* buffer, int count) {
  fFile->enter(calls::read(buffer, count));
  check("read", count);
  if (!(fMode & kIn))
    IThrowSystemError("read", "/memory/file", EBADF);
  long long available = std::max<long long>(0, static_cast<long long>(fFile->fData.size()) - fPosition);
  long long n = std::min<long long>(count, available);
  if (!fFile->fReadLimits.empty()) {
    n = std::min(n, fFile->fReadLimits.front());
    fFile->fReadLimits.pop_front();
  }
  if (n > 0)
    std::memcpy(buffer, fFile->fData.data() + fPosition, static_cast<std::size_t>(n));
  fPosition += n;
  return static_cast<std::ptrdiff_t>(n);
}

void IMemoryStream::doWrite(const void* buffer, int count) {
  fFile->enter(calls::write(buffer, count));
  check("write", count);
  if (!(fMode & (kOut | kApp | kTrunc)))
    IThrowSystemError("write", "/memory/file", EBADF);
  if (!fFile->fCanSeek) {
    fFile->fOutput.append(static_cast<const char*>(buffer), static_cast<std::size_t>(count));
    return;
  }
  if (count == 0)
    return;
  std::string& data = fFile->fData;
  if (fMode & kApp) // every write lands at the end, as with O_APPEND
    fPosition = static_cast<IFileSize>(data.size());
  if (static_cast<std::size_t>(fPosition) + static_cast<std::size_t>(count) > data.size())
    data.resize(static_cast<std::size_t>(fPosition) + static_cast<std::size_t>(count), '\0');
  std::memcpy(data.data() + fPosition, buffer, static_cast<std::size_t>(count));
  if (fFile->fKeepWrites)
    fFile->fWrites.emplace_back(fPosition, std::string(data, static_cast<std::size_t>(fPosition),
                                                       static_cast<std::size_t>(count)));
  fPosition += count;
}

IFileSize IMemoryStream::doSeek(IFileSize offset, seek_dir dir) {
  fFile->enter(calls::seek(offset, dir));
  check("seek", 0);
  if (!fFile->fCanSeek)
    IThrowSystemError("seek", "/memory/file", ESPIPE);
  IFileSize base = dir == cur ? fPosition : dir == end ? static_cast<IFileSize>(fFile->fData.size()) : 0;
  if (base + offset < 0)
    IThrowSystemError("seek", "/memory/file", EINVAL);
  fPosition = base + offset;
  return fPosition;
}

IFileSize IMemoryStream::endOfFile() const {
  fFile->enter(calls::endOfFile());
  check("size query", 0);
  return static_cast<IFileSize>(fFile->fData.size());
}

void IMemoryStream::setEndOfFile(IFileSize size) {
  fFile->enter(calls::setEndOfFile(size));
  check("truncate", 0);
  fFile->fData.resize(static_cast<std::size_t>(size), '\0');
}

IFSFileStream* IMemoryRecord::createStream(int myMode, int otherMode) const {
  fFile->enter(calls::create(myMode, otherMode));
  if (myMode & kTrunc)
    fFile->fData.clear();
  IFileSize start = (myMode & (kAte | kApp)) ? static_cast<IFileSize>(fFile->fData.size()) : 0;
  return new IMemoryStream(fFile, myMode, start);
}

IFile memoryFile(std::shared_ptr<IMemoryFile>& file, std::string content) {
  file = std::make_shared<IMemoryFile>();
  file->fData = std::move(content);
  return IFile(std::make_shared<IMemoryRecord>(file));
}
