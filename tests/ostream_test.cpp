// ostream against std::ostringstream: the same bytes for the same value,
// flags, width, precision and fill, over put areas small enough that every
// field crosses a flush; then failures, ties, unitbuf and the manipulators.
#include "iostream.hpp"
#include "iostring.hpp"
#include "membuf.hpp"
#include "stdflags.hpp"

#include <gtest/gtest.h>

#include <cfloat>
#include <climits>
#include <cmath>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct IFormat {
  long fFlags;
  int fWidth;
  int fPrecision;
  char fFill;
};

std::string describe(const IFormat& f) {
  return describeFlags(f.fFlags) + " width " + std::to_string(f.fWidth) + " precision " +
         std::to_string(f.fPrecision) + " fill '" + f.fFill + "'";
}

// What ours and the standard stream write, the width left behind and the state.
struct IOutput {
  std::string fText;
  int fWidth;
  int fState;
  bool operator==(const IOutput&) const = default;
};

template <class T> IOutput writeOurs(const T& value, const IFormat& f, std::size_t area) {
  IMemBuf buffer({}, area);
  ostream out(&buffer);
  out.flags(f.fFlags);
  out.width(f.fWidth);
  out.precision(f.fPrecision);
  out.fill(f.fFill);
  out << value;
  return {buffer.str(), out.width(), out.rdstate()};
}

template <class T> IOutput writeStd(const T& value, const IFormat& f) {
  std::ostringstream out;
  out.flags(toStdFlags(f.fFlags));
  out.width(f.fWidth);
  out.precision(f.fPrecision);
  out.fill(f.fFill);
  out << value;
  return {out.str(), static_cast<int>(out.width()), fromStdState(out.rdstate())};
}

// Compares every value under every format; reports the first few misses.
template <class T, class Show>
void compareAll(const std::vector<T>& values, const std::vector<IFormat>& formats, std::size_t area, Show show) {
  int misses = 0;
  for (const IFormat& f : formats) {
    for (const T& v : values) {
      IOutput ours = writeOurs(v, f, area);
      IOutput theirs = writeStd(v, f);
      if (ours == theirs)
        continue;
      ADD_FAILURE() << "value " << show(v) << ", " << describe(f) << ": ours " << quoted(ours.fText) << " width "
                    << ours.fWidth << " " << describeState(ours.fState) << ", std " << quoted(theirs.fText)
                    << " width " << theirs.fWidth << " " << describeState(theirs.fState);
      if (++misses == 10)
        return;
    }
  }
}

std::vector<IFormat> integerFormats() {
  std::vector<IFormat> formats;
  for (long base : {0L, long(ios::dec), long(ios::oct), long(ios::hex)})
    for (long showbase : {0L, long(ios::showbase)})
      for (long upper : {0L, long(ios::uppercase)})
        for (long showpos : {0L, long(ios::showpos)})
          for (long adjust : {0L, long(ios::left), long(ios::right), long(ios::internal)})
            for (int width : {0, 1, 12})
              for (char fill : {' ', '#'})
                formats.push_back({ios::skipws | base | showbase | upper | showpos | adjust, width, 6, fill});
  return formats;
}

std::vector<IFormat> floatFormats() {
  std::vector<IFormat> formats;
  for (long field : {0L, long(ios::fixed), long(ios::scientific), long(ios::fixed | ios::scientific)})
    for (long showpoint : {0L, long(ios::showpoint)})
      for (long upper : {0L, long(ios::uppercase)})
        for (long showpos : {0L, long(ios::showpos)})
          for (long adjust : {0L, long(ios::left), long(ios::internal)})
            for (int precision : {-1, 0, 1, 2, 6, 17, 30})
              for (int width : {0, 15})
                formats.push_back({field | showpoint | upper | showpos | adjust, width, precision, '*'});
  return formats;
}

template <class T> std::vector<T> integerValues() {
  using L = std::numeric_limits<T>;
  std::vector<T> values = {T(0), T(1), T(7), T(8), T(42), T(100), T(255), L::max(), T(L::max() - 1), L::min()};
  if constexpr (L::is_signed)
    values.insert(values.end(), {T(-1), T(-8), T(-42), T(L::min() + 1)});
  return values;
}

template <class T> std::vector<T> floatValues() {
  using L = std::numeric_limits<T>;
  std::vector<T> values = {T(0),         -T(0),          T(1),           T(-1.5),          T(0.1),
                           T(0.5),       T(2.5),         T(1e-5),        T(123456.789),    T(1234567),
                           T(1e21),      T(-1e-300L),    T(100),         T(9.9999999),     L::min(),
                           L::denorm_min(), L::infinity(), -L::infinity(), L::quiet_NaN(), -L::quiet_NaN(),
                           T(1) / T(3)};
  // The largest long double takes thousands of digits in fixed notation;
  // LongFloatingPointOutputMatches covers it.
  if constexpr (!std::is_same_v<T, long double>)
    values.insert(values.end(), {L::max(), L::lowest()});
  return values;
}

class OstreamFormat : public ::testing::TestWithParam<std::size_t> {};

TEST_P(OstreamFormat, IntegersMatchTheStandardStream) {
  const std::vector<IFormat> formats = integerFormats();
  std::size_t area = GetParam();
  auto show = [](auto v) { return std::to_string(v); };
  compareAll(integerValues<short>(), formats, area, show);
  compareAll(integerValues<unsigned short>(), formats, area, show);
  compareAll(integerValues<int>(), formats, area, show);
  compareAll(integerValues<unsigned int>(), formats, area, show);
  compareAll(integerValues<long>(), formats, area, show);
  compareAll(integerValues<unsigned long>(), formats, area, show);
  compareAll(integerValues<long long>(), formats, area, show);
  compareAll(integerValues<unsigned long long>(), formats, area, show);
}

TEST_P(OstreamFormat, BoolIsWrittenAsAnInteger) {
  compareAll(std::vector<bool>{false, true}, integerFormats(), GetParam(),
             [](bool b) { return std::string(b ? "true" : "false"); });
}

TEST_P(OstreamFormat, FloatingPointMatchesTheStandardStream) {
  const std::vector<IFormat> formats = floatFormats();
  std::size_t area = GetParam();
  auto show = [](auto v) {
    char text[64];
    std::snprintf(text, sizeof text, "%La", static_cast<long double>(v));
    return std::string(text);
  };
  compareAll(floatValues<float>(), formats, area, show);
  compareAll(floatValues<double>(), formats, area, show);
  compareAll(floatValues<long double>(), formats, area, show);
}

TEST_P(OstreamFormat, LongFloatingPointOutputMatches) {
  // Fixed output of the largest values and large precisions need more
  // room than the usual conversion.
  std::vector<IFormat> formats;
  for (long field : {0L, long(ios::fixed), long(ios::scientific)})
    for (long showpoint : {0L, long(ios::showpoint)})
      for (int precision : {6, 60, 400})
        formats.push_back({field | showpoint, 500, precision, '_'});
  auto show = [](auto v) { return std::to_string(v); };
  compareAll(std::vector<double>{DBL_MAX, -DBL_MAX, 1e-300, 1.0 / 7, 5e-324}, formats, GetParam(), show);
  compareAll(std::vector<long double>{LDBL_MAX, 1e-4000L, 1.0L / 7}, formats, GetParam(), show);
}

TEST_P(OstreamFormat, HugePrecisionsAreBoundedAndShowEveryDigit) {
  // Every digit of a double's exact value lies within 1076 places (of a
  // long double's, 16447): a larger precision writes what that one writes.
  auto show = [](auto v) { return std::to_string(v); };
  std::vector<IFormat> exact, huge;
  for (long field : {0L, long(ios::fixed), long(ios::scientific), long(ios::fixed | ios::scientific)})
    for (long showpoint : {0L, long(ios::showpoint)}) {
      exact.push_back({field | showpoint, 0, 1076, ' '});
      for (int precision : {1077, 100000, INT_MAX - 1, INT_MAX})
        huge.push_back({field | showpoint, 0, precision, ' '});
    }
  const std::vector<double> doubles = {0.001, 0.0, -1.5, 1e300, 5e-324, 1.0 / 3, DBL_MAX};
  compareAll(doubles, exact, GetParam(), show);
  for (const IFormat& f : huge)
    for (double v : doubles)
      EXPECT_EQ(writeOurs(v, f, GetParam()), writeStd(v, {f.fFlags, 0, 1076, ' '})) << describe(f) << " " << v;
  if (GetParam() != 4096)
    return;
  for (long field : {0L, long(ios::fixed), long(ios::scientific)})
    EXPECT_EQ(writeOurs(1e-4000L, {field | ios::showpoint, 0, INT_MAX, ' '}, 4096),
              writeStd(1e-4000L, {field | ios::showpoint, 0, 16447, ' '}));
}

TEST(OstreamClassic, FixedWithScientificIsTheGeneralFormat) {
  // Classic programs set one after the other without the floatfield mask;
  // the standard stream writes hexadecimal then.
  IMemBuf buffer;
  ostream out(&buffer);
  out.setf(ios::scientific);
  out.setf(ios::fixed);
  out << 1.5 << ' ' << 1e-7 << ' ' << 1234567.0 << ' ';
  out.setf(ios::showpoint | ios::uppercase);
  out << 1.5 << ' ' << 1e-7;
  EXPECT_EQ(buffer.str(), "1.5 1e-07 1.23457e+06 1.50000 1.00000E-07");
}

TEST_P(OstreamFormat, CharactersAndTextsMatchTheStandardStream) {
  std::vector<IFormat> formats;
  for (long adjust : {0L, long(ios::left), long(ios::right), long(ios::internal)})
    for (int width : {-3, 0, 1, 2, 9})
      formats.push_back({adjust | ios::showpos | ios::hex, width, 6, '.'});
  std::size_t area = GetParam();
  auto show = [](const auto& v) { return quoted(std::string(1, v)); };
  compareAll(std::vector<char>{'x', '-', '\0', '\xff'}, formats, area, show);
  compareAll(std::vector<signed char>{'s', -1}, formats, area, show);
  compareAll(std::vector<unsigned char>{'u', 200}, formats, area, show);
  auto showText = [](const auto& v) { return quoted(std::string(v)); };
  compareAll(std::vector<const char*>{"", "a", "-12", "hello world"}, formats, area, showText);
  compareAll(std::vector<std::string>{"", "0x12", std::string("nul\0inside", 10), std::string(300, 'z')}, formats,
             area, showText);
  compareAll(std::vector<std::string_view>{"", "view", "+5"}, formats, area, showText);
}

TEST_P(OstreamFormat, PointersMatchTheStandardStream) {
  std::vector<IFormat> formats;
  for (long adjust : {0L, long(ios::left), long(ios::internal)})
    for (long other : {0L, long(ios::uppercase | ios::showpos), long(ios::oct)})
      for (int width : {0, 24})
        formats.push_back({adjust | other, width, 6, '0'});
  int object = 0;
  compareAll(std::vector<const void*>{nullptr, &object, reinterpret_cast<const void*>(0xabcdef)}, formats,
             GetParam(), [](const void* p) { return std::to_string(reinterpret_cast<std::uintptr_t>(p)); });
}

TEST_P(OstreamFormat, MixedOutputKeepsItsOrder) {
  IMemBuf buffer({}, GetParam());
  ostream out(&buffer);
  std::ostringstream expected;
  for (int i = -50; i < 50; ++i) {
    out << i << ' ' << i * 0.25 << ' ' << "text" << '\n';
    expected << i << ' ' << i * 0.25 << ' ' << "text" << '\n';
  }
  out.write("tail", 4).put('!');
  expected.write("tail", 4).put('!');
  out.flush();
  EXPECT_EQ(buffer.str(), expected.str());
  EXPECT_TRUE(out.good());
}

INSTANTIATE_TEST_SUITE_P(AreaSizes, OstreamFormat, ::testing::Values(1, 3, 16, 4096));

TEST(OstreamDefaults, DecimalWithSixDigitsAndNoPadding) {
  IMemBuf buffer;
  ostream out(&buffer);
  out << 255 << ' ' << -7 << ' ' << 3.14159265 << ' ' << 1e300 << ' ' << true;
  EXPECT_EQ(buffer.str(), "255 -7 3.14159 1e+300 1");
}

TEST(OstreamFailure, NullTextSetsBadbitAndWritesNothing) {
  IMemBuf buffer;
  ostream out(&buffer);
  out.width(5);
  out << static_cast<const char*>(nullptr);
  EXPECT_EQ(out.rdstate(), ios::badbit);
  EXPECT_EQ(buffer.str(), "");
  // The standard leaves the width alone here as well.
  EXPECT_EQ(out.width(), 5);
  out << "more";
  EXPECT_EQ(out.rdstate(), ios::badbit | ios::failbit);
  EXPECT_EQ(buffer.str(), "");
}

TEST(OstreamFailure, RefusedOutputSetsBadbitAndStopsThere) {
  for (std::size_t area : {1, 3, 16}) {
    IMemBuf buffer({}, area);
    buffer.setCapacity(10);
    ostream out(&buffer);
    out << "0123456";
    EXPECT_TRUE(out.good());
    out << 12345;
    EXPECT_EQ(out.rdstate(), ios::badbit) << "area " << area;
    EXPECT_EQ(buffer.str(), "0123456123") << "area " << area;
    EXPECT_EQ(out.width(), 0);
    // A bad stream refuses the next output and says so with failbit.
    out << 'x';
    EXPECT_EQ(out.rdstate(), ios::badbit | ios::failbit);
    EXPECT_EQ(buffer.str(), "0123456123");
  }
}

TEST(OstreamFailure, EveryKindOfOutputReportsARefusal) {
  auto refused = [](auto write) {
    IMemBuf buffer({}, 2);
    buffer.setCapacity(3);
    ostream out(&buffer);
    out << "abc";
    write(out);
    return out.rdstate();
  };
  EXPECT_EQ(refused([](ostream& o) { o.put('x'); }), ios::badbit);
  EXPECT_EQ(refused([](ostream& o) { o.write("xy", 2); }), ios::badbit);
  EXPECT_EQ(refused([](ostream& o) { o << 'x'; }), ios::badbit);
  EXPECT_EQ(refused([](ostream& o) { o << 1.5; }), ios::badbit);
  EXPECT_EQ(refused([](ostream& o) { o << std::string("s"); }), ios::badbit);
  EXPECT_EQ(refused([](ostream& o) { o.width(4), o << ""; }), ios::badbit);
}

TEST(OstreamFailure, ExceptionsFromTheBufferPassThroughUnchanged) {
  const IMemBuf::EOperation operations[] = {IMemBuf::kOverflow, IMemBuf::kSync, IMemBuf::kSeek};
  for (IMemBuf::EOperation op : operations) {
    IMemBuf buffer({}, 4);
    buffer.throwOn(op, 1);
    ostream out(&buffer);
    out.setf(ios::unitbuf);
    EXPECT_THROW(
        {
          out << std::string(10, 'a') << 123456789 << 2.5;
          out.seekp(0);
        },
        IMemBufError);
    EXPECT_FALSE(out.bad());
  }
  IMemBuf buffer({}, 4);
  buffer.throwOn(IMemBuf::kOverflow, 2);
  ostream out(&buffer);
  EXPECT_NO_THROW(out << "abcd");
  EXPECT_THROW(out << "efghijkl", IMemBufError);
  EXPECT_TRUE(out.good());
  out.flush();
  EXPECT_EQ(buffer.str(), "abcd");
}

TEST(OstreamState, NoOutputWhileNotGood) {
  IMemBuf buffer;
  ostream out(&buffer);
  out.clear(ios::failbit);
  out << 1 << "x" << 2.0;
  out.put('y').write("z", 1);
  EXPECT_EQ(buffer.str(), "");
  EXPECT_EQ(out.rdstate(), ios::failbit);
  out.clear();
  out << 1;
  EXPECT_EQ(buffer.str(), "1");
}

TEST(OstreamState, AStreamWithoutBufferIsBad) {
  ostream out(nullptr);
  EXPECT_TRUE(out.bad());
  out << 1 << "x";
  out.put('c').flush();
  out.clear();
  EXPECT_TRUE(out.bad()) << "clear cannot make a stream without a buffer good";
  EXPECT_EQ(out.tellp(), EOF);
}

TEST(OstreamTie, OutputFlushesTheTiedStreamFirst) {
  IMemBuf tiedBuffer, buffer;
  ostream tied(&tiedBuffer), out(&buffer);
  tied << "prompt";
  out.tie(&tied);
  int syncs = tiedBuffer.calls(IMemBuf::kSync);
  out << 1;
  EXPECT_EQ(tiedBuffer.calls(IMemBuf::kSync), syncs + 1);
  out.put('c');
  out.write("w", 1);
  EXPECT_EQ(tiedBuffer.calls(IMemBuf::kSync), syncs + 3);
  // A stream tied to itself does not flush itself before each output.
  out.tie(&out);
  syncs = buffer.calls(IMemBuf::kSync);
  out << 2;
  EXPECT_EQ(buffer.calls(IMemBuf::kSync), syncs);
  EXPECT_EQ(buffer.str(), "1cw2");
}

TEST(OstreamTie, UnitbufFlushesAfterEachInsertion) {
  IMemBuf buffer({}, 64);
  ostream out(&buffer);
  out << "buffered";
  EXPECT_EQ(buffer.calls(IMemBuf::kSync), 0);
  out.setf(ios::unitbuf);
  out << 1;
  EXPECT_EQ(buffer.calls(IMemBuf::kSync), 1);
  out << "x" << 2.5;
  out.put('p');
  out.write("w", 1);
  EXPECT_EQ(buffer.calls(IMemBuf::kSync), 5);
  EXPECT_EQ(buffer.pbase(), nullptr) << "everything reached the store";
  EXPECT_EQ(buffer.str(), "buffered1x2.5pw");
}

TEST(OstreamManipulators, EndlEndsAndFlush) {
  IMemBuf buffer({}, 64);
  ostream out(&buffer);
  out << "a" << ends << "b";
  EXPECT_EQ(buffer.calls(IMemBuf::kSync), 0);
  out << endl;
  EXPECT_EQ(buffer.calls(IMemBuf::kSync), 1);
  out << "c" << flush;
  EXPECT_EQ(buffer.calls(IMemBuf::kSync), 2);
  EXPECT_EQ(buffer.str(), std::string("a\0b\nc", 5));
}

TEST(OstreamManipulators, BaseManipulatorsSetTheBaseField) {
  IMemBuf buffer;
  ostream out(&buffer);
  out << hex << 255 << ' ' << oct << 8 << ' ' << dec << 10 << ' ';
  out.setf(ios::showbase | ios::uppercase);
  out << hex << 255;
  EXPECT_EQ(buffer.str(), "ff 10 10 0XFF");
  EXPECT_EQ(out.flags() & ios::basefield, ios::hex);
}

TEST(OstreamBuffer, InsertingABufferCopiesAllItDelivers) {
  for (std::size_t area : {1, 3, 16}) {
    std::string text;
    for (int i = 0; i < 200; ++i)
      text += "line " + std::to_string(i) + '\n';
    IMemBuf source(text, area), sink({}, area);
    ostream out(&sink);
    out << &source;
    EXPECT_EQ(sink.str(), text);
    EXPECT_TRUE(out.good());
    out << &source;
    EXPECT_EQ(out.rdstate(), ios::failbit) << "nothing left to copy";
    out.clear();
    out << static_cast<streambuf*>(nullptr);
    EXPECT_EQ(out.rdstate(), ios::badbit);
  }
}

TEST(OstreamBuffer, InsertingStopsWhereTheSinkRefuses) {
  IMemBuf source("abcdefghij", 3), sink({}, 2);
  sink.setCapacity(4);
  ostream out(&sink);
  out << &source;
  EXPECT_EQ(sink.str(), "abcd");
  EXPECT_TRUE(out.good()) << "as in the standard, a partial copy is no failure";
  istream rest(&source);
  std::string left;
  rest >> left;
  EXPECT_EQ(left, "efghij");
}

TEST(OstreamPosition, SeekpAndTellp) {
  IMemBuf buffer({}, 3);
  ostream out(&buffer);
  out << "hello world";
  EXPECT_EQ(out.tellp(), 11);
  out.seekp(6);
  out << "WORLD";
  out.seekp(-11, ios::cur);
  out << 'H';
  out.seekp(0, ios::end);
  out << '!';
  EXPECT_EQ(out.tellp(), 12);
  EXPECT_EQ(buffer.str(), "Hello WORLD!");
  out.seekp(-1, ios::beg);
  EXPECT_EQ(out.rdstate(), ios::failbit);
  EXPECT_EQ(out.tellp(), EOF);
}

TEST(OstreamPosition, ABufferThatCannotSeekFailsTheSeek) {
  class INoSeek : public streambuf {};
  INoSeek buffer;
  ostream out(&buffer);
  EXPECT_EQ(out.tellp(), EOF);
  EXPECT_TRUE(out.good());
  out.seekp(3);
  EXPECT_EQ(out.rdstate(), ios::failbit);
}

} // namespace
