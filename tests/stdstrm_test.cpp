// The standard streams as a static object of a program sees them: built
// before its constructor runs, even in a program that links the runtime
// statically and comes first in the link.
#include "fdbuf.hpp"
#include "iostream.hpp"

#include <gtest/gtest.h>

namespace {

struct ISeen {
  bool fBuilt = false;
  int fDescriptors[4] = {-1, -1, -1, -1};
  bool fTied = false;
  bool fErrorUnitBuffered = false;
  bool fOthersBuffered = false;
};

int descriptorOf(ios& s) {
  auto* buffer = dynamic_cast<IDescriptorBuf*>(s.rdbuf());
  return buffer ? buffer->descriptor() : -1;
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
}

} // namespace
