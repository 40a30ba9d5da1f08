// Model-based random testing of IFileIOStream: random operations run on a
// stream over a real file and, side by side, on a plain model of a file with
// one position. Every result, every state bit and count, and at each close
// the file's bytes, must agree. The choices come from a seeded generator (the
// test suite) or from a fuzzer's input (fuzz/model_fuzz.cpp).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <random>
#include <string>

// Where the random choices come from.
class IChoices {
public:
  virtual ~IChoices() = default;
  // A number in [0, bound), bound > 0.
  virtual std::uint64_t next(std::uint64_t bound) = 0;
  // True once the source is used up; its answers are 0 from then on.
  virtual bool dry() const = 0;
};

class ISeededChoices : public IChoices {
public:
  explicit ISeededChoices(std::uint64_t seed) : fEngine(seed) {}
  std::uint64_t next(std::uint64_t bound) override { return fEngine() % bound; }
  bool dry() const override { return false; }

private:
  std::mt19937_64 fEngine;
};

// The bytes of a fuzzer's input, taken a few at a time.
class IByteChoices : public IChoices {
public:
  IByteChoices(const std::uint8_t* data, std::size_t size) : fData(data), fSize(size) {}
  std::uint64_t next(std::uint64_t bound) override;
  bool dry() const override { return fUsed >= fSize; }

private:
  const std::uint8_t* fData;
  std::size_t fSize;
  std::size_t fUsed = 0;
};

// Operations that can be left out, to look past a fault that is known.
struct IModelOptions {
  bool fUnget = true;           // unget, also where the byte in front came with an earlier refill
  bool fSeekBeforeStart = true; // seeks to a negative position, which must fail and move nothing
};

class IModelRun {
public:
  // Fills the file at `path` with random bytes and opens a stream on it.
  IModelRun(const std::string& path, IChoices& choices, IModelOptions options = {});
  ~IModelRun();
  IModelRun(const IModelRun&) = delete;
  IModelRun& operator=(const IModelRun&) = delete;

  // Runs up to `count` operations; false at the first difference.
  bool run(long long count);
  // Destroys the stream and compares the file's bytes; false on a difference.
  bool finish();

  long long operations() const;
  // What differed, with the operations that led there.
  const std::string& failure() const;

private:
  struct IState;
  std::unique_ptr<IState> fState;
};
