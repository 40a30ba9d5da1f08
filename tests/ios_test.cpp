// ios: the classic defaults, attaching a buffer, the user words and the
// base manipulators.
#include "iostream.hpp"
#include "membuf.hpp"

#include <gtest/gtest.h>

#include <climits>
#include <type_traits>

namespace {

// Reaches the protected constructor and init, as a derived stream does.
class IBareStream : public iostream {
public:
  IBareStream() = default;
  using ios::init;
};

TEST(IosDefaults, InitGivesTheClassicFormat) {
  IMemBuf buffer;
  IBareStream s;
  EXPECT_EQ(s.rdbuf(), nullptr);
  EXPECT_TRUE(s.bad()) << "no buffer yet";
  s.flags(ios::hex);
  s.width(7);
  s.precision(2);
  s.fill('*');
  s.tie(&s);
  s.init(&buffer);
  EXPECT_EQ(s.rdbuf(), &buffer);
  EXPECT_EQ(s.rdstate(), ios::goodbit);
  EXPECT_EQ(s.flags(), ios::skipws);
  EXPECT_EQ(s.width(), 0);
  EXPECT_EQ(s.precision(), 6);
  EXPECT_EQ(s.fill(), ' ');
  EXPECT_EQ(s.tie(), nullptr);
  s.init(nullptr);
  EXPECT_EQ(s.rdstate(), ios::badbit);
}

TEST(IosDefaults, ClassicValues) {
  EXPECT_EQ(ios::basefield, 0x70);
  EXPECT_EQ(ios::adjustfield, 0x0e);
  EXPECT_EQ(ios::floatfield, 0x1800);
  EXPECT_EQ(sizeof(streampos), 8u);
  EXPECT_TRUE(std::is_signed_v<streamoff>);
  EXPECT_FALSE((std::is_copy_constructible_v<iostream>));
  EXPECT_FALSE((std::is_copy_assignable_v<ostream>));
}

TEST(IosUserWords, IndexesAreDistinctAndWordsStartAtZero) {
  int a = ios::xalloc();
  int b = ios::xalloc();
  EXPECT_NE(a, b);
  IMemBuf buffer;
  ostream s(&buffer), t(&buffer);
  EXPECT_EQ(s.iword(b), 0);
  EXPECT_EQ(s.pword(a), nullptr);
  s.iword(a) = 42;
  s.pword(b) = &buffer;
  s.iword(b + 100) = 7; // far beyond: storage grows
  EXPECT_EQ(s.iword(a), 42);
  EXPECT_EQ(s.pword(b), &buffer);
  EXPECT_EQ(s.iword(b + 100), 7);
  EXPECT_EQ(t.iword(a), 0) << "each stream has its own words";
  EXPECT_TRUE(s.good());
  s.iword(-1) = 5;
  EXPECT_TRUE(s.bad()) << "a negative index is refused";
}

TEST(IosUserWords, AnIndexThatCannotBeServedGivesAScratchWord) {
  // Growing to these would take gigabytes; none of them throws.
  for (int index : {INT_MAX, INT_MAX - 1, ios::xalloc() + 5000, -1, INT_MIN}) {
    IMemBuf buffer;
    ostream s(&buffer);
    int served = ios::xalloc();
    s.iword(served) = 3;
    s.iword(index) = 9;
    EXPECT_EQ(s.rdstate(), ios::badbit) << index;
    EXPECT_EQ(s.iword(index), 0) << "the scratch word starts again at 0";
    s.clear();
    s.pword(index) = &buffer;
    EXPECT_EQ(s.rdstate(), ios::badbit) << index;
    EXPECT_EQ(s.pword(index), nullptr);
    s.clear();
    EXPECT_EQ(s.iword(served), 3) << "the words served keep their values";
    EXPECT_TRUE(s.good());
  }
}

TEST(IosManipulators, BaseManipulatorsReplaceTheBaseField) {
  IMemBuf buffer;
  iostream s(&buffer);
  s.setf(ios::hex | ios::oct);
  s << dec;
  EXPECT_EQ(s.flags() & ios::basefield, ios::dec);
  s >> hex;
  EXPECT_EQ(s.flags() & ios::basefield, ios::hex);
  oct(s);
  EXPECT_EQ(s.flags() & ios::basefield, ios::oct);
}

} // namespace
