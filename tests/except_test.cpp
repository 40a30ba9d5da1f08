// The exception family: assertion reports and the texts of system errors.
#include "iexcept.hpp"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>

namespace {

TEST(ExceptTest, AssertionFailureCarriesExpressionAndLocation) {
  const IExceptionLocation where("filebuf", "int IFSFileBuf::overflow(int)", 321);
  try {
    IExcept__assertState("fBuffer != 0", where);
    FAIL() << "IExcept__assertState returned";
  } catch (const IAssertionFailure& e) {
    EXPECT_STREQ(e.expression(), "fBuffer != 0");
    EXPECT_STREQ(e.location().fileName(), "filebuf");
    EXPECT_STREQ(e.location().functionName(), "int IFSFileBuf::overflow(int)");
    EXPECT_EQ(e.location().lineNumber(), 321u);
    EXPECT_STREQ(e.what(),
                 "assertion failed: 'fBuffer != 0' does not hold in int IFSFileBuf::overflow(int), at filebuf line 321");
  }
}

TEST(ExceptTest, SystemErrorNamesOperationPathAndError) {
  const struct {
    int error;
    const char* reason;
    std::string text;
  } cases[] = {
      {ENOENT, nullptr, "open of '/x/y' failed: No such file or directory (errno 2)"},
      {ENOSPC, nullptr, std::string("open of '/x/y' failed: ") + std::strerror(ENOSPC) + " (errno 28)"},
      {EISDIR, "it is a directory, not a file",
       std::string("open of '/x/y' failed: it is a directory, not a file: ") + std::strerror(EISDIR) +
           " (errno 21)"},
  };
  for (const auto& c : cases) {
    try {
      if (c.reason)
        IThrowSystemError("open", "/x/y", c.error, c.reason);
      IThrowSystemError("open", "/x/y", c.error);
    } catch (const IAccessError& e) {
      EXPECT_EQ(e.what(), c.text);
      EXPECT_EQ(e.errorId(), c.error);
    }
  }
}

TEST(ExceptTest, UnknownErrorNumberStillGivesASentence) {
  try {
    IThrowSystemError("read", "/p", 99999);
  } catch (const IException& e) {
    const std::string text = e.what();
    EXPECT_EQ(text.rfind("read of '/p' failed: ", 0), 0u) << text;
    EXPECT_NE(text.find("99999"), std::string::npos) << text;
    EXPECT_EQ(text.substr(text.size() - 13), "(errno 99999)") << text;
  }
}

} // namespace
