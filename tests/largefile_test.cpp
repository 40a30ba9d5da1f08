// Positions beyond 2^31 and 2^32 on a sparse file: the stream writes a run of
// bytes across each boundary in every way it writes, reads it back in every
// way it reads, overwrites it in place, puts characters back across the
// boundary (the array shifts and hands bytes back with a relative seek) and
// measures the file, with exact positions throughout.
#include "filebuf.hpp"
#include "ifilestr.hpp"
#include "tempdir.hpp"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string pattern(std::size_t size, int seed) {
  std::string s(size, '\0');
  for (std::size_t i = 0; i < size; ++i)
    s[i] = (i % 83 == 82) ? '\n' : static_cast<char>('A' + (i * 3 + static_cast<std::size_t>(seed)) % 58);
  return s;
}

class LargeFile : public ::testing::TestWithParam<long long> {
protected:
  void SetUp() override {
    fStream = std::make_unique<IFileIOStream>(fDir.path("sparse"), ios::in | ios::out | ios::trunc, 0);
  }

  IFileIOStream& s() { return *fStream; }
  IFSFileBuf& buf() { return *static_cast<IFSFileBuf*>(fStream->rdbuf()); }

  ITempDir fDir;
  std::unique_ptr<IFileIOStream> fStream;
};

// The run starts at an odd offset so that no refill or flush falls on the
// boundary itself.
TEST_P(LargeFile, RoundTripAcrossTheBoundary) {
  const long long boundary = GetParam();
  const long long start = boundary - 10003;
  const std::string run = pattern(20000, 1);

  s().seekp(start);
  EXPECT_EQ(s().tellp(), start);
  std::size_t at = 0;
  for (; at < 7000; ++at)
    s().put(run[at]);
  s().write(run.data() + at, 6000);
  at += 6000;
  s() << run.substr(at, 4000);
  at += 4000;
  s().write(run.data() + at, static_cast<int>(run.size() - at));
  EXPECT_EQ(s().tellp(), start + 20000);
  EXPECT_EQ(buf().endOfFile(), start + 20000);

  s().seekg(start);
  std::string back;
  for (int i = 0; i < 5000; ++i)
    back += static_cast<char>(s().get());
  std::string block(8000, '\0');
  s().read(block.data(), 8000);
  back += block;
  EXPECT_EQ(s().tellg(), start + 13000);
  std::string line;
  while (back.size() < run.size() && getline(s(), line))
    back += line + (static_cast<long long>(back.size() + line.size()) < 20000 ? "\n" : "");
  EXPECT_TRUE(back == run) << "read back differs";
  EXPECT_EQ(s().get(), EOF);
  s().clear();
  EXPECT_EQ(s().tellg(), start + 20000);
}

TEST_P(LargeFile, OverwriteInPlaceAcrossTheBoundary) {
  const long long boundary = GetParam();
  const long long start = boundary - 5000;
  std::string expected = pattern(10000, 2);
  s().seekp(start);
  s().write(expected.data(), 10000);

  // Read 100, write 10, with no seek in between, over the boundary.
  s().seekg(start);
  char chunk[100];
  long long pos = start;
  while (pos + 110 < start + 10000) {
    s().read(chunk, 100);
    pos += 100;
    const std::string mark = std::to_string(pos % 10000000000LL).substr(0, 10);
    const std::string tag = (mark + "----------").substr(0, 10);
    s().write(tag.data(), 10);
    expected.replace(static_cast<std::size_t>(pos - start), 10, tag);
    pos += 10;
  }
  EXPECT_EQ(s().tellp(), pos);
  s().seekg(start);
  std::string back(10000, '\0');
  s().read(back.data(), 10000);
  EXPECT_TRUE(back == expected) << "overwritten bytes differ";
}

TEST_P(LargeFile, PutbackAcrossTheBoundary) {
  const long long boundary = GetParam();
  const long long start = boundary - 3000;
  const std::string content = pattern(12000, 3);
  s().seekp(start);
  s().write(content.data(), 12000);

  // Reading from just past the boundary and then putting back 3000
  // characters crosses it backwards: the array shifts three times and gives
  // bytes that fall off its end back with relative seeks.
  s().seekg(boundary + 5);
  for (int i = 0; i < 10; ++i)
    s().get();
  const long long read = boundary + 15;
  for (long long p = read - 1; p >= read - 3010; --p)
    ASSERT_TRUE(s().putback(content[static_cast<std::size_t>(p - start)])) << "putback at " << p;
  EXPECT_EQ(s().tellg(), read - 3010);
  s().seekg(read - 3010);
  std::string back(6000, '\0');
  s().read(back.data(), 6000);
  EXPECT_TRUE(back == content.substr(static_cast<std::size_t>(read - 3010 - start), 6000));

  // A character that differs from the file's stands in for it until read.
  s().seekg(boundary);
  s().putback('#');
  EXPECT_EQ(s().get(), '#');
  EXPECT_EQ(s().get(), content[static_cast<std::size_t>(boundary - start)]);
  EXPECT_EQ(s().tellg(), boundary + 1);
}

TEST_P(LargeFile, SeeksFromEveryDirectionAndTheFileSize) {
  const long long boundary = GetParam();
  buf().setEndOfFile(boundary + 7);
  EXPECT_EQ(buf().endOfFile(), boundary + 7);
  s().seekg(-7, ios::end);
  EXPECT_EQ(s().tellg(), boundary);
  s() << 1234567 << ' ' << -42;
  EXPECT_EQ(buf().endOfFile(), boundary + 7) << "output waits in the put area";
  s().seekg(-11, ios::cur);
  EXPECT_EQ(s().tellg(), boundary);
  int a = 0, b = 0;
  s() >> a >> b;
  EXPECT_EQ(a, 1234567);
  EXPECT_EQ(b, -42);
  EXPECT_EQ(buf().endOfFile(), boundary + 11);
  s().clear();
  s().seekg(-(boundary + 11), ios::cur);
  EXPECT_EQ(s().tellg(), 0);
  EXPECT_EQ(s().get(), 0) << "a hole reads as zeros";
  s().seekp(boundary + (1LL << 20), ios::beg);
  s().put('z');
  EXPECT_EQ(s().tellp(), boundary + (1LL << 20) + 1);
  s().seekg(-1, ios::end);
  EXPECT_EQ(s().get(), 'z');
  buf().setEndOfFile(boundary - 1);
  s().seekg(0, ios::end);
  EXPECT_EQ(s().tellg(), boundary - 1);
}

INSTANTIATE_TEST_SUITE_P(Boundaries, LargeFile, ::testing::Values(1LL << 31, 1LL << 32, (1LL << 33) + 12345),
                         [](const auto& info) {
                           return info.param == 1LL << 31   ? std::string("At2GiB")
                                  : info.param == 1LL << 32 ? std::string("At4GiB")
                                                            : std::string("Past8GiB");
                         });

} // namespace
