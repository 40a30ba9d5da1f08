// An in-memory file for tests of the stream buffer: a byte stream and record
// that keep the file's bytes in a string, log every call with its arguments,
// answer scripted short reads, and fail a chosen call with a chosen errno.
// Switched to a stream without positions, it is a pipe: reads take the file's
// bytes in order, writes go to a separate output, and seeks fail (ESPIPE).
#pragma once

#include "ifilesys.hpp"

#include <cerrno>
#include <deque>
#include <iosfwd>
#include <memory>
#include <string>
#include <utility>
#include <vector>

// One call on the byte stream or the record, as the test sees it.
struct ICall {
  enum EOp { kCreate, kClose, kRead, kWrite, kSeek, kEndOfFile, kSetEndOfFile, kDelete };
  EOp fOp;
  const void* fBuffer = nullptr; // doRead and doWrite
  long long fValue = 0;          // count, offset, size, or createStream's myMode
  int fDir = 0;                  // doSeek's direction, or createStream's otherMode

  friend bool operator==(const ICall&, const ICall&) = default;
};
std::ostream& operator<<(std::ostream& out, const ICall& call);

namespace calls {
inline ICall create(int myMode, int otherMode) { return {ICall::kCreate, nullptr, myMode, otherMode}; }
inline ICall close() { return {ICall::kClose}; }
inline ICall read(const void* buffer, long long count) { return {ICall::kRead, buffer, count}; }
inline ICall write(const void* buffer, long long count) { return {ICall::kWrite, buffer, count}; }
inline ICall seek(long long offset, int dir) { return {ICall::kSeek, nullptr, offset, dir}; }
inline ICall endOfFile() { return {ICall::kEndOfFile}; }
inline ICall setEndOfFile(long long size) { return {ICall::kSetEndOfFile, nullptr, size}; }
inline ICall destroy() { return {ICall::kDelete}; }
} // namespace calls

// The file's bytes and everything a test scripts or observes about it.
struct IMemoryFile {
  std::string fData;
  std::vector<ICall> fCalls;           // every call, failed ones included
  std::deque<long long> fReadLimits;   // the next reads deliver at most this many bytes
  long long fFailCall = 0;             // the call with this number (1-based) fails...
  bool fFailOnward = false;            // ...and, when set, every call after it
  int fErrorId = EIO;                  // errno of an injected failure
  long long fCallCount = 0;            // calls made so far (deletions not counted)
  int fLiveStreams = 0;                // streams made and not yet deleted
  int fFailuresInjected = 0;
  std::vector<ICall> fInjected;        // the calls that were made to fail, in order
  bool fKeepWrites = false;            // when set, fWrites gets every write's offset and bytes
  std::vector<std::pair<long long, std::string>> fWrites;
  bool fCanSeek = true;                // false: a pipe, whose output goes to fOutput
  std::string fOutput;                 // what was written to a pipe, in order

  // Counts the call, logs it, and throws IAccessError when it is due to fail.
  void enter(const ICall& call);
};

class IMemoryStream : public IFSFileStream {
public:
  IMemoryStream(std::shared_ptr<IMemoryFile> file, int myMode, IFileSize start);
  ~IMemoryStream() override;

  void close() override;
  std::ptrdiff_t doRead(void* buffer, int count) override;
  void doWrite(const void* buffer, int count) override;
  IFileSize doSeek(IFileSize offset, seek_dir dir) override;
  IFileSize endOfFile() const override;
  void setEndOfFile(IFileSize size) override;
  bool canSeek() const override { return fFile->fCanSeek; }
  IFileSize startPosition() const override { return fStart; }

  IFileSize at() const { return fPosition; }

private:
  void check(const char* operation, int count) const;

  std::shared_ptr<IMemoryFile> fFile;
  int fMode;
  IFileSize fPosition;
  IFileSize fStart;
  bool fClosed = false;
};

class IMemoryRecord : public IFSFileRecord {
public:
  explicit IMemoryRecord(std::shared_ptr<IMemoryFile> file) : fFile(std::move(file)) {}
  IText path() const override { return "/memory/file"; }
  // Honours trunc, and stands at the end for ate and app, like a host file.
  IFSFileStream* createStream(int myMode, int otherMode) const override;

private:
  std::shared_ptr<IMemoryFile> fFile;
};

// A file object naming a new in-memory file; `file` gives access to it.
IFile memoryFile(std::shared_ptr<IMemoryFile>& file, std::string content = {});
