// The runtime's start-up and shut-down, as the module entry routine calls them.
#include "crt.hpp"

#include <gtest/gtest.h>

namespace {

TEST(Crt, InitSucceedsAndNestsWithTerm) {
  EXPECT_EQ(_CRT_init(), 0);
  EXPECT_EQ(_CRT_init(), 0);
  _CRT_term();
  _CRT_term();
  _CRT_term(); // one too many does no harm
  EXPECT_EQ(_CRT_init(), 0);
  _CRT_term();
}

} // namespace
