// IDescriptorBuf, the buffer under the standard streams, on real files, pipes
// and failing devices: whole transfers around the area's size, putback across
// a refill, seeking where it can and cannot, and failures as EOF and badbit.
#include "fdbuf.hpp"
#include "ostream.hpp"
#include "tempdir.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <pthread.h>
#include <string>
#include <thread>
#include <unistd.h>


using namespace kelrt; // the runtime's own buffers, reached through its static archive

namespace {

constexpr int kArea = 4096;

// A descriptor closed at the end of the scope.
class IDescriptor {
public:
  explicit IDescriptor(int fd) : fFd(fd) {
    if (fd < 0)
      ADD_FAILURE() << "open: " << std::strerror(errno);
  }
  ~IDescriptor() {
    if (fFd >= 0)
      ::close(fFd);
  }
  IDescriptor(const IDescriptor&) = delete;
  IDescriptor& operator=(const IDescriptor&) = delete;
  int get() const { return fFd; }

private:
  int fFd;
};

std::string pattern(std::size_t size) {
  std::string text(size, '\0');
  for (std::size_t i = 0; i < size; ++i)
    text[i] = static_cast<char>('a' + (i * 7 + i / 26) % 26);
  return text;
}

class Sizes : public ::testing::TestWithParam<int> {};

// Written half by characters and half by blocks, read back half by
// characters and half by blocks: every byte arrives once, in order.
TEST_P(Sizes, RoundTripThroughAFile) {
  ITempDir dir;
  const std::string text = pattern(static_cast<std::size_t>(GetParam()));
  const std::size_t half = text.size() / 2;
  {
    IDescriptor fd(::open(dir.path("f").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
    IDescriptorBuf out(fd.get());
    for (std::size_t i = 0; i < half; ++i)
      ASSERT_EQ(out.sputc(text[i]), static_cast<unsigned char>(text[i]));
    ASSERT_EQ(out.sputn(text.data() + half, static_cast<int>(text.size() - half)), static_cast<int>(text.size() - half));
    ASSERT_EQ(out.sync(), 0);
  }
  EXPECT_EQ(readWholeFile(dir.path("f")), text);

  IDescriptor fd(::open(dir.path("f").c_str(), O_RDONLY | O_CLOEXEC));
  IDescriptorBuf in(fd.get());
  std::string back;
  for (std::size_t i = 0; i < half; ++i)
    back += static_cast<char>(in.sbumpc());
  std::string rest(text.size() - half + 10, '\0');
  rest.resize(static_cast<std::size_t>(in.sgetn(rest.data(), static_cast<int>(rest.size()))));
  EXPECT_EQ(back + rest, text);
  EXPECT_EQ(in.sgetc(), EOF);
}

INSTANTIATE_TEST_SUITE_P(AroundTheArea, Sizes,
                         ::testing::Values(0, 1, kArea - 1, kArea, kArea + 1, 2 * kArea, 3 * kArea + 5));

TEST(DescriptorBuf, KeepsFourCharactersForPutbackAcrossARefill) {
  ITempDir dir;
  const std::string text = pattern(kArea + 10);
  writeWholeFile(dir.path("f"), text);
  IDescriptor fd(::open(dir.path("f").c_str(), O_RDONLY | O_CLOEXEC));
  IDescriptorBuf in(fd.get());
  char first[kArea];
  ASSERT_EQ(in.sgetn(first, kArea), kArea);
  ASSERT_EQ(in.sbumpc(), static_cast<unsigned char>(text[kArea])); // the refill
  for (int back = 0; back <= 4; ++back)
    ASSERT_EQ(in.sputbackc(text[kArea - back]), static_cast<unsigned char>(text[kArea - back])) << back;
  EXPECT_EQ(in.sputbackc('x'), EOF);
  std::string again(8, '\0');
  ASSERT_EQ(in.sgetn(again.data(), 8), 8);
  EXPECT_EQ(again, text.substr(kArea - 4, 8));
}

TEST(DescriptorBuf, SeeksAFileAndCountsUnreadInput) {
  ITempDir dir;
  writeWholeFile(dir.path("f"), "0123456789");
  IDescriptor fd(::open(dir.path("f").c_str(), O_RDWR | O_CLOEXEC));
  IDescriptorBuf buf(fd.get());
  EXPECT_EQ(buf.sbumpc(), '0');
  EXPECT_EQ(buf.sbumpc(), '1');
  EXPECT_EQ(buf.seekoff(0, ios::cur), 2) << "the eight bytes read ahead are not the position";
  EXPECT_EQ(buf.sgetc(), '2');
  EXPECT_EQ(buf.seekoff(-3, ios::end), 7);
  EXPECT_EQ(buf.sbumpc(), '7');
  EXPECT_EQ(buf.seekpos(4), 4);
  EXPECT_EQ(buf.sputn("ab", 2), 2);
  EXPECT_EQ(buf.seekoff(0, ios::cur), 6) << "pending output is written before the seek";
  EXPECT_EQ(readWholeFile(dir.path("f")), "0123ab6789");
}

TEST(DescriptorBuf, OnAPipeASeekFailsAndLosesNoInput) {
  int ends[2];
  ASSERT_EQ(::pipe2(ends, O_CLOEXEC), 0);
  IDescriptor reader(ends[0]);
  {
    IDescriptor writer(ends[1]);
    ASSERT_EQ(::write(writer.get(), "abc", 3), 3);
  }
  IDescriptorBuf in(reader.get());
  EXPECT_EQ(in.sbumpc(), 'a');
  EXPECT_EQ(in.seekoff(0, ios::cur), EOF);
  EXPECT_EQ(in.sbumpc(), 'b');
  EXPECT_EQ(in.sbumpc(), 'c');
  EXPECT_EQ(in.sbumpc(), EOF);
}

// ENOSPC from /dev/full and EISDIR from a directory: EOF to the caller,
// badbit on the stream, and the failed bytes are not tried again.
TEST(DescriptorBuf, FailuresAnswerEofAndSetBadbit) {
  {
    IDescriptor fd(::open("/dev/full", O_WRONLY | O_CLOEXEC));
    IDescriptorBuf full(fd.get());
    ostream out(&full);
    out << "lost";
    EXPECT_TRUE(out.good()) << "nothing is written before the area fills";
    out.flush();
    EXPECT_TRUE(out.bad());
    EXPECT_EQ(full.sync(), 0) << "the dropped bytes are gone";
    EXPECT_EQ(full.sputn(pattern(kArea).data(), kArea), 0) << "a block bypassing the area";
  }
  {
    ITempDir dir;
    IDescriptor fd(::open(dir.path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    IDescriptorBuf folder(fd.get());
    EXPECT_EQ(folder.sgetc(), EOF);
  }
}

void noteSignal(int) {}

// A write interrupted by a signal, with some bytes out or none, goes on
// until every byte is out.
TEST(DescriptorBuf, WritesEverythingThroughInterruptions) {
  struct sigaction interrupting = {}, old = {};
  interrupting.sa_handler = noteSignal; // no SA_RESTART: write(2) returns early
  ASSERT_EQ(::sigaction(SIGUSR1, &interrupting, &old), 0);

  int ends[2];
  ASSERT_EQ(::pipe2(ends, O_CLOEXEC), 0);
  IDescriptor reader(ends[0]);
  const std::string text = pattern(1 << 20);
  std::atomic<bool> done{false};
  int written = -1;
  std::thread producer([&, writeEnd = ends[1]] {
    IDescriptor writer(writeEnd); // closed when done, so that the reader sees the end
    IDescriptorBuf out(writer.get());
    written = out.sputn(text.data(), static_cast<int>(text.size()));
    done = true;
  });

  // Two signals in a row: the first cuts a write short, the second mostly
  // finds the next write still waiting for room, which then fails with EINTR.
  std::string got;
  char chunk[8192];
  for (;;) {
    for (int i = 0; i < 2 && !done; ++i)
      ::pthread_kill(producer.native_handle(), SIGUSR1);
    ssize_t n = ::read(reader.get(), chunk, sizeof chunk);
    if (n < 0 && errno == EINTR)
      continue;
    ASSERT_GE(n, 0);
    if (n == 0)
      break;
    got.append(chunk, static_cast<std::size_t>(n));
  }
  producer.join();
  ::sigaction(SIGUSR1, &old, nullptr);
  EXPECT_EQ(written, static_cast<int>(text.size()));
  EXPECT_TRUE(got == text);
}

} // namespace
