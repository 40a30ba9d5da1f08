// The standard streams as a static object of a program sees them: built
// before its constructor runs, even in a program that links the runtime
// statically and comes first in the link.
#include "fdbuf.hpp"
#include "iostream.hpp"
#include "stdiobuf.hpp"

#include <gtest/gtest.h>

using namespace kelrt; // the runtime's own buffers, reached through its static archive

namespace {

struct ISeen {
  bool fBuilt = false;
  int fDescriptors[4] = {-1, -1, -1, -1};
  bool fTied = false;
  bool fErrorUnitBuffered = false;
  bool fOthersBuffered = false;
  bool fInStep = false;
};

int descriptorOf(ios& s) {
  if (auto* own = dynamic_cast<IDescriptorBuf*>(s.rdbuf()))
    return own->descriptor();
  if (auto* out = dynamic_cast<IStdioOutBuf*>(s.rdbuf()))
    return out->descriptor();
  if (auto* in = dynamic_cast<IStdinBuf*>(s.rdbuf()))
    return in->descriptor();
  return -1;
}

bool inStepWithStdio(ios& s) {
  return dynamic_cast<IStdioOutBuf*>(s.rdbuf()) || dynamic_cast<IStdinBuf*>(s.rdbuf());
}

// Constructed during this file's static initialisation.
struct IEarlyUser {
  IEarlyUser() {
    seen.fBuilt = cin.good() && cout.good() && cerr.good() && clog.good();
    ios* streams[4] = {&cin, &cout, &cerr, &clog};
    for (int i = 0; i < 4; ++i)
      seen.fDescriptors[i] = descriptorOf(*streams[i]);
    seen.fTied = cin.tie() == &cout;
    seen.fErrorUnitBuffered = (cerr.flags() & ios::unitbuf) != 0;
    seen.fOthersBuffered = !(cout.flags() & ios::unitbuf) && !(clog.flags() & ios::unitbuf) && !cout.tie();
    seen.fInStep = inStepWithStdio(cin) && inStepWithStdio(cout) && inStepWithStdio(cerr) && inStepWithStdio(clog);
  }
  ISeen seen;
} early;

TEST(StandardStreams, AreReadyForStaticConstructors) {
  EXPECT_TRUE(early.seen.fBuilt);
  EXPECT_EQ(early.seen.fDescriptors[0], 0);
  EXPECT_EQ(early.seen.fDescriptors[1], 1);
  EXPECT_EQ(early.seen.fDescriptors[2], 2);
  EXPECT_EQ(early.seen.fDescriptors[3], 2);
  EXPECT_TRUE(early.seen.fTied) << "cin flushes cout before it reads";
  EXPECT_TRUE(early.seen.fErrorUnitBuffered);
  EXPECT_TRUE(early.seen.fOthersBuffered);
  EXPECT_NE(cerr.rdbuf(), clog.rdbuf()) << "cerr and clog buffer separately";
  EXPECT_TRUE(early.seen.fInStep) << "in step with C stdio by default";
}

// Switching keeps each stream's format, tie and descriptor; the streams
// that never read switch whole.
TEST(StandardStreams, SyncWithStdioSwitchesBuffersAndKeepsTheFormat) {
  cout.setf(ios::hex, ios::basefield);
  cout.width(7);
  EXPECT_TRUE(ios::sync_with_stdio(false)) << "was in step";
  for (ios* s : {static_cast<ios*>(&cin), static_cast<ios*>(&cout), static_cast<ios*>(&cerr), static_cast<ios*>(&clog)})
    EXPECT_FALSE(inStepWithStdio(*s));
  EXPECT_EQ(descriptorOf(cin), 0);
  EXPECT_EQ(descriptorOf(cout), 1);
  EXPECT_EQ(descriptorOf(clog), 2);
  EXPECT_EQ(cout.flags() & ios::basefield, ios::hex);
  EXPECT_EQ(cout.width(), 7);
  EXPECT_EQ(cin.tie(), &cout);
  EXPECT_TRUE(cerr.flags() & ios::unitbuf);
  EXPECT_FALSE(ios::sync_with_stdio(false));
  ios::sync_with_stdio();
  for (ios* s : {static_cast<ios*>(&cin), static_cast<ios*>(&cout), static_cast<ios*>(&cerr), static_cast<ios*>(&clog)})
    EXPECT_TRUE(inStepWithStdio(*s));
  EXPECT_TRUE(ios::sync_with_stdio(true));
  cout.width(0);
  cout.setf(ios::dec, ios::basefield);
}

} // namespace
