// The manipulators with an argument, on output and input, against the
// standard library's.
#include "iomanip.hpp"
#include "iostring.hpp"
#include "membuf.hpp"
#include "stdflags.hpp"

#include <gtest/gtest.h>

#include <iomanip>
#include <sstream>
#include <string>

namespace {

TEST(IomanipOutput, SettingsMatchTheStandardManipulators) {
  for (int width : {0, 3, 10})
    for (int precision : {0, 2, 8})
      for (char fill : {' ', '0', '*'}) {
        IMemBuf buffer({}, 3);
        ostream out(&buffer);
        out << setw(width) << setfill(fill) << setprecision(precision) << 3.14159 << '|' << setw(width) << -42
            << '|' << setiosflags(ios::left | ios::showpos) << setw(width) << 42 << '|'
            << resetiosflags(ios::showpos) << setbase(16) << setw(width) << 255 << '|' << setbase(8) << 8 << '|'
            << setbase(10) << 10 << '|' << setw(width) << "txt";
        std::ostringstream expected;
        expected << std::setw(width) << std::setfill(fill) << std::setprecision(precision) << 3.14159 << '|'
                 << std::setw(width) << -42 << '|' << std::setiosflags(std::ios::left | std::ios::showpos)
                 << std::setw(width) << 42 << '|' << std::resetiosflags(std::ios::showpos) << std::setbase(16)
                 << std::setw(width) << 255 << '|' << std::setbase(8) << 8 << '|' << std::setbase(10) << 10 << '|'
                 << std::setw(width) << "txt";
        EXPECT_EQ(buffer.str(), expected.str()) << "width " << width << " precision " << precision;
      }
}

TEST(IomanipOutput, WidthLastsForOneField) {
  IMemBuf buffer;
  ostream out(&buffer);
  out << setw(4) << 1 << 2 << setw(3) << 'c' << "d";
  EXPECT_EQ(buffer.str(), "   12  cd");
  EXPECT_EQ(out.width(), 0);
}

TEST(IomanipOutput, SetbaseOfAnyOtherNumberClearsTheBase) {
  IMemBuf buffer;
  ostream out(&buffer);
  out << setbase(16) << setbase(0);
  EXPECT_EQ(out.flags() & ios::basefield, 0);
  out << setbase(8);
  EXPECT_EQ(out.flags() & ios::basefield, ios::oct);
  out << setbase(3);
  EXPECT_EQ(out.flags() & ios::basefield, 0);
}

TEST(IomanipInput, SettingsApplyToExtraction) {
  IMemBuf buffer("ff 17 0x1f 017 abcdefgh 12");
  istream in(&buffer);
  int a = 0, b = 0, c = 0, d = 0, e = 0;
  std::string word;
  in >> setbase(16) >> a >> setbase(8) >> b >> setbase(0) >> c >> d >> setw(4) >> word;
  EXPECT_EQ(a, 255);
  EXPECT_EQ(b, 15);
  EXPECT_EQ(c, 31);
  EXPECT_EQ(d, 15);
  EXPECT_EQ(word, "abcd");
  EXPECT_EQ(in.width(), 0);
  in >> resetiosflags(ios::skipws) >> word;
  EXPECT_EQ(word, "efgh");
  in >> e;
  EXPECT_EQ(in.rdstate(), ios::failbit) << "without skipws the blank stops the number";
  in.clear();
  in >> setiosflags(ios::skipws) >> setbase(10) >> e;
  EXPECT_EQ(e, 12);
}

TEST(IomanipInput, MatchesTheStandardOnTheSameInput) {
  const std::string input = "  0x1A 0777 -12 99999 word";
  for (int base : {0, 8, 10, 16}) {
    IMemBuf buffer(input, 2);
    istream in(&buffer);
    std::istringstream expected(input);
    std::string ours, theirs;
    in >> setbase(base);
    expected >> std::setbase(base);
    for (int k = 0; k < 5; ++k) {
      long a = 7, b = 7;
      in >> a;
      expected >> b;
      b = classicNumber(b, 7L, expected.rdstate());
      ours += std::to_string(a) + describeState(in.rdstate()) + ' ';
      theirs += std::to_string(b) + describeState(fromStdState(expected.rdstate())) + ' ';
    }
    EXPECT_EQ(ours, theirs) << "base " << base;
  }
}

} // namespace
