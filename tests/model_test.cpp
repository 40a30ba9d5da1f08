// IFileIOStream against a plain model of a file with one position: a seeded
// run of random operations (put, write, get, read, getline, putback, unget,
// peek, seeks from every direction, tells, flushes, close and open, formatted
// insertion and extraction) on a real file; then the faults that such runs
// found, one small case each.
#include "iexcept.hpp"
#include "ifilestr.hpp"
#include "model.hpp"
#include "tempdir.hpp"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

long long fromEnvironment(const char* name, long long fallback) {
  const char* text = std::getenv(name);
  return text && *text ? std::atoll(text) : fallback;
}

// KELFILE_MODEL_RUNS and KELFILE_MODEL_FIRST_SEED make a longer run;
// KELFILE_MODEL_WITHOUT=unget,negative-seek leaves out operations whose
// faults are known, to look past them.
TEST(ModelRun, SeededOperationsAgreeWithTheModel) {
  const long long runs = fromEnvironment("KELFILE_MODEL_RUNS", 200);
  const long long firstSeed = fromEnvironment("KELFILE_MODEL_FIRST_SEED", 1);
  const long long perRun = 1000;
  const char* without = std::getenv("KELFILE_MODEL_WITHOUT");
  IModelOptions options;
  options.fUnget = !without || !std::strstr(without, "unget");
  options.fSeekBeforeStart = !without || !std::strstr(without, "negative-seek");
  ITempDir dir;
  long long total = 0;
  for (long long seed = firstSeed; seed < firstSeed + runs; ++seed) {
    ISeededChoices choices(static_cast<std::uint64_t>(seed));
    IModelRun run(dir.path("model"), choices, options);
    const bool agreed = run.run(perRun) && run.finish();
    total += run.operations();
    ASSERT_TRUE(agreed) << "seed " << seed << ", " << run.failure();
  }
  std::printf("model: %lld random operations checked in %lld runs\n", total, runs);
}

std::string letters(std::size_t size) {
  std::string s(size, '\0');
  for (std::size_t i = 0; i < size; ++i)
    s[i] = static_cast<char>('a' + i % 26);
  return s;
}

// unget steps back over characters the stream has already handed out; the
// bytes in front of a fresh refill or of a putback are the file's, not
// whatever the array held.
TEST(ModelFaults, UngetGivesBackTheFileBytes) {
  ITempDir dir;
  const std::string content = letters(10000);
  writeWholeFile(dir.path("f"), content);
  IFileIOStream s(dir.path("f"), ios::in | ios::out, 0);
  std::string block(4097, '\0');
  s.read(block.data(), 4097); // the last byte came with the second refill
  s.unget();
  s.unget();
  EXPECT_EQ(s.get(), static_cast<unsigned char>(content[4095]));
  EXPECT_EQ(s.tellg(), 4096);

  s.seekg(100);
  EXPECT_EQ(s.get(), content[100]);
  s.unget();
  s.unget();
  EXPECT_EQ(s.get(), content[99]);

  s.seekg(200);
  s.putback(content[199]);
  s.get();
  s.unget();
  s.unget();
  EXPECT_EQ(s.get(), content[198]);
}

// A seek that fails leaves the stream where it stood, read-ahead or not.
TEST(ModelFaults, FailedSeekBeforeTheStartKeepsThePosition) {
  ITempDir dir;
  const std::string content = letters(10000);
  writeWholeFile(dir.path("f"), content);
  IFileIOStream s(dir.path("f"), ios::in | ios::out, 0);
  s.get();
  s.get();
  EXPECT_THROW(s.seekg(-5LL), IAccessError);
  EXPECT_EQ(s.get(), content[2]);
  EXPECT_THROW(s.seekp(-1LL), IAccessError);
  EXPECT_EQ(s.get(), content[3]);
  EXPECT_EQ(s.tellg(), 4);
}

} // namespace
