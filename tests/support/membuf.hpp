// IMemBuf: an in-memory stream buffer for the stream tests. A string is read
// and written through get and put areas of a chosen size (1, 3, 16 ...), so
// that refills and flushes happen often; writes can be made to fail at a
// given offset and any operation to throw on its n-th call.
#pragma once

#include "streambuf.hpp"

#include <cstddef>
#include <limits>
#include <stdexcept>
#include <string>
#include <vector>

// What an IMemBuf throws when told to.
class IMemBufError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

// Like a file, the buffer has one position for reading and writing.
class IMemBuf : public streambuf {
public:
  enum EOperation { kUnderflow, kOverflow, kPbackfail, kSync, kSeek, kOperationCount };

  explicit IMemBuf(std::string contents = {}, std::size_t areaSize = 16);

  // The contents, with output still in the put area included.
  std::string str() const;
  // Output that would reach `offset` or beyond fails (overflow answers EOF).
  void setCapacity(std::size_t offset) { fCapacity = offset; }
  // overflow answers 0 for success, pbackfail 1, and 0 when nothing is in
  // front of the position: the classic file buffer's answers.
  void answerLikeAFile() { fFileAnswers = true; }
  // The `nth` call (from 1) of `operation` from now on throws IMemBufError.
  void throwOn(EOperation operation, int nth);
  int calls(EOperation operation) const { return fCalls[operation]; }

  // The areas, for tests that check where the stream left them.
  using streambuf::eback;
  using streambuf::egptr;
  using streambuf::epptr;
  using streambuf::gptr;
  using streambuf::pbase;
  using streambuf::pptr;

protected:
  int overflow(int c) override;
  int underflow() override;
  int pbackfail(int c) override;
  int sync() override;
  streampos seekoff(streamoff offset, ios::seek_dir dir, int mode) override;
  streampos seekpos(streampos position, int mode) override;

private:
  // Bytes kept in front of each get area for characters put back.
  static constexpr std::size_t kPutBack = 4;

  void count(EOperation operation);
  void syncOut();
  void syncIn();

  std::string fStore;
  std::size_t fAreaSize;
  std::vector<char> fGetArray;
  std::vector<char> fPutArray;
  // The store offset of the byte stream: egptr stands for it while there is
  // a get area, pbase while there is a put area.
  std::size_t fPosition = 0;
  std::size_t fCapacity = std::numeric_limits<std::size_t>::max();
  bool fFileAnswers = false;
  int fCalls[kOperationCount] = {};
  EOperation fThrowOperation = kOperationCount;
  int fThrowAt = 0;
};
