// istream against std::istringstream: the same values, state bits, counts
// and unread rest for the same input and flags, over get areas small enough
// that every token crosses a refill; then ties, failures and positions.
#include "ifilestr.hpp"
#include "iostream.hpp"
#include "iostring.hpp"
#include "membuf.hpp"
#include "stdflags.hpp"
#include "tempdir.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <iterator>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

namespace {

// What one read leaves behind, on either stream.
template <class T> struct IRead {
  T fValue;
  int fState;
  int fGcount;
  std::string fRest;
};

std::string restOf(istream& in) {
  in.clear();
  std::string rest;
  for (int c; (c = in.get()) != EOF;)
    rest += static_cast<char>(c);
  return rest;
}

std::string restOf(std::istream& in) {
  in.clear();
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// Runs `ours` and `theirs` on the same input and compares everything they
// leave behind; the value starts as `initial` on both sides.
template <class T>
void compareRead(const std::string& input, long flags, std::size_t area, const T& initial,
                 const std::function<void(istream&, T&)>& ours, const std::function<void(std::istream&, T&)>& theirs,
                 const std::string& what, int& misses) {
  if (misses >= 10)
    return;
  IMemBuf buffer(input, area);
  istream in(&buffer);
  in.flags(flags);
  IRead<T> a{initial, 0, 0, {}};
  ours(in, a.fValue);
  a.fState = in.rdstate();
  a.fGcount = in.gcount();
  a.fRest = restOf(in);

  std::istringstream standard(input);
  standard.flags(toStdFlags(flags));
  IRead<T> b{initial, 0, 0, {}};
  theirs(standard, b.fValue);
  b.fValue = classicNumber(b.fValue, initial, standard.rdstate());
  b.fState = fromStdState(standard.rdstate());
  b.fGcount = static_cast<int>(standard.gcount());
  b.fRest = restOf(standard);

  if (sameValue(a.fValue, b.fValue) && a.fState == b.fState && a.fGcount == b.fGcount && a.fRest == b.fRest)
    return;
  ++misses;
  ADD_FAILURE() << what << " from " << quoted(input) << " with " << describeFlags(flags) << ", area " << area
                << ": ours " << show(a.fValue) << " " << describeState(a.fState) << " gcount " << a.fGcount
                << " rest " << quoted(a.fRest) << "; std " << show(b.fValue) << " " << describeState(b.fState)
                << " gcount " << b.fGcount << " rest " << quoted(b.fRest);
}

template <class T>
void compareExtraction(const std::vector<std::string>& inputs, const std::vector<long>& flagSets, std::size_t area,
                       const char* type) {
  int misses = 0;
  for (const std::string& input : inputs)
    for (long flags : flagSets)
      compareRead<T>(
          input, flags, area, T(77), [](istream& in, T& v) { in >> v; },
          [](std::istream& in, T& v) { in >> v; }, std::string(">> ") + type, misses);
}

const std::vector<std::string> kIntegerInputs = {
    "0", "42", "-42", "+7", "  12 ", "\n\t\v\f\r 5x", "0x1f", "0X1F", "-0x10", "0x", "0xg", "0x 1", "017", "019",
    "08", "0008", "-017", "x12", "-", "+", "", "   ", "abc", "1f", "ff", "FF", "12abc", "1 2", "- 1", "+-1", "--1",
    "127", "128", "-128", "-129", "255", "256", "32767", "32768", "-32768", "-32769", "65535", "65536", "-65535",
    "-65536", "2147483647", "2147483648", "-2147483648", "-2147483649", "4294967295", "4294967296", "-4294967295",
    "9223372036854775807", "9223372036854775808", "-9223372036854775808", "-9223372036854775809",
    "18446744073709551615", "18446744073709551616", "-18446744073709551615", "99999999999999999999999999",
    "000000000000000000000000000000000000000000000000000000000000000000000042", "0777777777777777777777",
    "01777777777777777777777", "02000000000000000000000", "0x7fffffffffffffff", "0xffffffffffffffff",
    "0x10000000000000000", "0x0000000000000000000000000000000000000000001", "-0", "00", "0.5", "1e5", "1,000"};

const std::vector<long> kIntegerFlags = {ios::skipws, ios::skipws | ios::dec, ios::skipws | ios::oct,
                                         ios::skipws | ios::hex, 0, ios::hex | ios::oct};

const std::vector<std::string> kFloatInputs = {
    "1.5", "-0.25", "+3", ".5", "5.", ".", "-", "+", "", "  \n 2.75 rest", "1e10", "1E+10", "1e-10", "1e", "1e+",
    "1e+-3", "e5", ".e5", "1.5.3", "1.2e3.4", "1e2e3", "00012.5", "000", "0", "-0", "-0.0", "0.", "1e400", "-1e400",
    "1e-400", "-1e-400", "4e-320", "2.5e-324", "inf", "nan", "0x1p3", "123456789012345678901234567890",
    "1.7976931348623157e308", "1.7976931348623159e308", "3.4028235e38", "3.5e38", "1e-45", "1e-50", "1e4000",
    "-1e4000", "1e-4940", "1e-4960", "1e5000", "0.30000000000000000000000000000000000000000000000000000000000000001",
    std::string(200, '9') + ".5", "0." + std::string(300, '0') + "1", "7.25xyz", "1,5", "12 34"};

class IstreamParse : public ::testing::TestWithParam<std::size_t> {};

// Each input as it is, and followed by a delimiter while it starts at every
// offset of the first get area (the first 24 of a large one), so that its
// digits end at, before and after the end of an area.
std::vector<std::string> shapedIntegerInputs(std::size_t area) {
  std::vector<std::string> inputs = kIntegerInputs;
  for (std::size_t offset = 0; offset < std::min<std::size_t>(area, 24); ++offset)
    for (const std::string& input : kIntegerInputs)
      inputs.push_back(std::string(offset, ' ') + input + ' ');
  return inputs;
}

TEST_P(IstreamParse, IntegersMatchTheStandardStream) {
  std::size_t area = GetParam();
  const std::vector<std::string> inputs = shapedIntegerInputs(area);
  compareExtraction<short>(inputs, kIntegerFlags, area, "short");
  compareExtraction<unsigned short>(inputs, kIntegerFlags, area, "unsigned short");
  compareExtraction<int>(inputs, kIntegerFlags, area, "int");
  compareExtraction<unsigned int>(inputs, kIntegerFlags, area, "unsigned int");
  compareExtraction<long>(inputs, kIntegerFlags, area, "long");
  compareExtraction<unsigned long>(inputs, kIntegerFlags, area, "unsigned long");
  compareExtraction<long long>(inputs, kIntegerFlags, area, "long long");
  compareExtraction<unsigned long long>(inputs, kIntegerFlags, area, "unsigned long long");
}

TEST_P(IstreamParse, BoolIsReadAsAnInteger) {
  compareExtraction<bool>({"0", "1", "2", "-1", "01", "0x1", "true", "", " 1 ", "9999999999999999999999"},
                          kIntegerFlags, GetParam(), "bool");
}

TEST_P(IstreamParse, FloatingPointMatchesTheStandardStream) {
  std::size_t area = GetParam();
  const std::vector<long> flags = {ios::skipws, 0, ios::skipws | ios::hex | ios::fixed};
  compareExtraction<float>(kFloatInputs, flags, area, "float");
  compareExtraction<double>(kFloatInputs, flags, area, "double");
  compareExtraction<long double>(kFloatInputs, flags, area, "long double");
}

TEST_P(IstreamParse, SequencesOfNumbersReadBackWhatWasWritten) {
  std::ostringstream text;
  std::vector<long long> integers;
  std::vector<double> doubles;
  for (long long i = 1; i < 2000000000000000000LL; i = i * 3 + 1) {
    integers.push_back(i % 2 ? -i : i);
    doubles.push_back(static_cast<double>(i) / 7);
    text << integers.back() << (i % 4 ? ' ' : '\n') << doubles.back() << '\t';
  }
  IMemBuf buffer(text.str(), GetParam());
  istream in(&buffer);
  in.precision(17);
  for (std::size_t k = 0; k < integers.size(); ++k) {
    long long i = 0;
    double d = 0;
    in >> i >> d;
    EXPECT_EQ(i, integers[k]);
    EXPECT_NEAR(d, doubles[k], std::abs(doubles[k]) * 1e-5);
  }
  EXPECT_TRUE(in.good());
  int extra = 5;
  in >> extra;
  EXPECT_EQ(in.rdstate(), ios::eofbit | ios::failbit);
  EXPECT_EQ(extra, 5) << "a failed prefix leaves the value alone";
}

TEST_P(IstreamParse, CharactersWordsAndStringsMatchTheStandardStream) {
  const std::vector<std::string> inputs = {"", "   ", "a", "  word rest", "tab\tsep", "exactly7", "longer-than-the-array",
                                           "x\ny", std::string("nul\0in", 6)};
  std::size_t area = GetParam();
  int misses = 0;
  for (const std::string& input : inputs) {
    for (long flags : {long(ios::skipws), 0L}) {
      compareRead<char>(
          input, flags, area, '?', [](istream& in, char& c) { in >> c; }, [](std::istream& in, char& c) { in >> c; },
          ">> char", misses);
      for (int width : {0, 1, 2, 4, 100}) {
        const std::string what = " width " + std::to_string(width);
        compareRead<std::string>(
            input, flags, area, "old",
            [width](istream& in, std::string& s) {
              char word[8] = "unset";
              in.width(width);
              in >> word;
              s = word;
            },
            [width](std::istream& in, std::string& s) {
              char word[8] = "unset";
              in.width(width);
              in >> word;
              s = word;
            },
            ">> char[8]" + what, misses);
        compareRead<std::string>(
            input, flags, area, "old",
            [width](istream& in, std::string& s) {
              in.width(width);
              in >> s;
            },
            [width](std::istream& in, std::string& s) {
              in.width(width);
              in >> s;
            },
            ">> string" + what, misses);
      }
    }
  }
}

int classicState(const istream& in) { return in.rdstate(); }
int classicState(const std::istream& in) { return fromStdState(in.rdstate()); }

// The unformatted reads over inputs that end inside, at and after the
// count, with and without the delimiter.
TEST_P(IstreamParse, UnformattedReadsMatchTheStandardStream) {
  const std::vector<std::string> inputs = {"",      "\n",         "abc",        "abc\n",     "abc\ndef\n",
                                           "abcd",  "abcde",      "abcd\n",     "ab;cd;",    "  lead\n",
                                           "\n\nx", "long line without end", std::string(50, 'q') + "\n"};
  std::size_t area = GetParam();
  int misses = 0;
  for (const std::string& input : inputs) {
    for (int n : {0, 1, 2, 4, 5, 6, 100}) {
      for (char delim : {'\n', ';'}) {
        const std::string what = " n " + std::to_string(n) + " delim " + quoted(std::string(1, delim));
        auto inArray = [n, delim](auto& in, std::string& s, bool line) {
          char text[128];
          std::memset(text, 'u', sizeof text);
          if (line)
            in.getline(text, n, delim);
          else
            in.get(text, n, delim);
          s.assign(text, n > 0 ? std::strlen(text) : 0);
        };
        compareRead<std::string>(
            input, ios::skipws, area, "", [&](istream& in, std::string& s) { inArray(in, s, true); },
            [&](std::istream& in, std::string& s) { inArray(in, s, true); }, "getline(char*)" + what, misses);
        compareRead<std::string>(
            input, ios::skipws, area, "", [&](istream& in, std::string& s) { inArray(in, s, false); },
            [&](std::istream& in, std::string& s) { inArray(in, s, false); }, "get(char*)" + what, misses);
        compareRead<std::string>(
            input, ios::skipws, area, "",
            [&](istream& in, std::string& s) {
              char text[128] = {};
              in.read(text, n);
              s.assign(text, static_cast<std::size_t>(in.gcount()));
            },
            [&](std::istream& in, std::string& s) {
              char text[128] = {};
              in.read(text, n);
              s.assign(text, static_cast<std::size_t>(in.gcount()));
            },
            "read" + what, misses);
        compareRead<int>(
            input, ios::skipws, area, 0, [&](istream& in, int&) { in.ignore(n, delim); },
            [&](std::istream& in, int&) { in.ignore(n, delim); }, "ignore" + what, misses);
      }
    }
    compareRead<int>(
        input, ios::skipws, area, 0, [](istream& in, int&) { in.ignore(); }, [](std::istream& in, int&) { in.ignore(); },
        "ignore()", misses);
    compareRead<std::string>(
        input, ios::skipws, area, "old", [](istream& in, std::string& s) { getline(in, s); },
        [](std::istream& in, std::string& s) { std::getline(in, s); }, "getline(string)", misses);
    compareRead<std::string>(
        input, ios::skipws, area, "old", [](istream& in, std::string& s) { getline(in, s, ';'); },
        [](std::istream& in, std::string& s) { std::getline(in, s, ';'); }, "getline(string, ';')", misses);
    compareRead<std::string>(
        input, ios::skipws, area, "",
        [](istream& in, std::string& s) {
          IMemBuf sink({}, 3);
          in.get(sink, ';');
          s = sink.str();
        },
        [](std::istream& in, std::string& s) {
          std::stringbuf sink;
          in.get(sink, ';');
          s = sink.str();
        },
        "get(streambuf&)", misses);
    compareRead<std::string>(
        input, ios::skipws, area, "",
        [](istream& in, std::string& s) {
          IMemBuf sink({}, 3);
          in >> &sink;
          s = sink.str();
        },
        [](std::istream& in, std::string& s) {
          std::stringbuf sink;
          in >> &sink;
          s = sink.str();
        },
        ">> streambuf*", misses);
    compareRead<std::string>(
        input, ios::skipws, area, "",
        [](istream& in, std::string& s) {
          for (int c; (c = in.get()) != EOF;)
            s += static_cast<char>(c);
        },
        [](std::istream& in, std::string& s) {
          for (int c; (c = in.get()) != EOF;)
            s += static_cast<char>(c);
        },
        "get() to the end", misses);
    compareRead<std::string>(
        input, ios::skipws, area, "",
        [](istream& in, std::string& s) {
          in >> ws;
          s += static_cast<char>(in.peek());
        },
        [](std::istream& in, std::string& s) {
          in >> std::ws;
          s += static_cast<char>(in.peek());
        },
        "ws, peek", misses);
  }
}

TEST_P(IstreamParse, PutbackAndUngetMatchTheStandardStream) {
  std::size_t area = GetParam();
  int misses = 0;
  for (const std::string& input : {std::string(""), std::string("a"), std::string("abcdef"), std::string(40, 'z')}) {
    auto script = [](auto& in, std::string& s) {
      for (int round = 0; round < 6; ++round) {
        int c = in.get();
        s += c == EOF ? '$' : static_cast<char>(c);
        if (round % 2)
          in.unget();
        else if (c != EOF)
          in.putback(static_cast<char>(c));
        s += static_cast<char>(in.peek());
        s += describeState(classicState(in));
        in.get();
        in.get();
        in.clear();
      }
    };
    compareRead<std::string>(
        input, ios::skipws, area, "", [&](istream& in, std::string& s) { script(in, s); },
        [&](std::istream& in, std::string& s) { script(in, s); }, "get/putback/unget", misses);
  }
}

INSTANTIATE_TEST_SUITE_P(AreaSizes, IstreamParse, ::testing::Values(1, 3, 16, 4096));

TEST(IstreamDefaults, WithoutABaseFlagIntegersFollowCLiterals) {
  IMemBuf buffer("0x1f 017 19 0X1F -010");
  istream in(&buffer);
  EXPECT_EQ(in.flags(), ios::skipws);
  int a = 0, b = 0, c = 0, d = 0, e = 0;
  in >> a >> b >> c >> d >> e;
  EXPECT_EQ(a, 31);
  EXPECT_EQ(b, 15);
  EXPECT_EQ(c, 19);
  EXPECT_EQ(d, 31);
  EXPECT_EQ(e, -8);
  EXPECT_EQ(in.rdstate(), ios::eofbit);
}

TEST(IstreamDefaults, BaseManipulatorsChooseTheBase) {
  IMemBuf buffer("017 017 ff 0x1f");
  istream in(&buffer);
  int a = 0, b = 0, c = 0, d = 0;
  in >> dec >> a >> oct >> b >> hex >> c >> d;
  EXPECT_EQ(a, 17);
  EXPECT_EQ(b, 15);
  EXPECT_EQ(c, 255);
  EXPECT_EQ(d, 31);
}

TEST(IstreamArray, ExtractionIsBoundedByTheArray) {
  IMemBuf buffer("abcdefghij klm");
  istream in(&buffer);
  char small[4];
  in >> small;
  EXPECT_STREQ(small, "abc");
  EXPECT_TRUE(in.good());
  unsigned char other[3];
  in >> other;
  EXPECT_STREQ(reinterpret_cast<char*>(other), "de");
  in.width(2);
  signed char bounded[10];
  in >> bounded;
  EXPECT_STREQ(reinterpret_cast<char*>(bounded), "f");
  EXPECT_EQ(in.width(), 0);
  std::string rest;
  in >> rest;
  EXPECT_EQ(rest, "ghij");
}

TEST(IstreamTie, FormattedInputFlushesTheTiedStream) {
  IMemBuf prompt, input("12 34");
  ostream out(&prompt);
  istream in(&input);
  in.tie(&out);
  out << "number? ";
  int n = 0;
  in >> n;
  EXPECT_EQ(prompt.calls(IMemBuf::kSync), 1);
  EXPECT_EQ(prompt.pbase(), nullptr) << "the prompt reached its store";
  in >> n;
  EXPECT_EQ(prompt.calls(IMemBuf::kSync), 2);
  EXPECT_EQ(n, 34);
}

TEST(IstreamTie, UnformattedInputFlushesOnlyWhenItMustWait) {
  IMemBuf prompt, input("abc", 2);
  ostream out(&prompt);
  istream in(&input);
  in.tie(&out);
  EXPECT_EQ(in.get(), 'a'); // the get area is empty: the read may wait
  EXPECT_EQ(prompt.calls(IMemBuf::kSync), 1);
  EXPECT_EQ(in.get(), 'b'); // at hand
  EXPECT_EQ(in.peek(), 'c');
  EXPECT_EQ(prompt.calls(IMemBuf::kSync), 2) << "the peek had to refill";
  char rest[4];
  in.read(rest, 1);
  EXPECT_EQ(prompt.calls(IMemBuf::kSync), 2);
}

TEST(IstreamFailure, NothingIsReadWhileNotGood) {
  IMemBuf buffer("1 2 3");
  istream in(&buffer);
  in.clear(ios::eofbit);
  int n = 9;
  in >> n;
  EXPECT_EQ(n, 9);
  EXPECT_EQ(in.rdstate(), ios::eofbit | ios::failbit);
  EXPECT_EQ(in.get(), EOF);
  in.clear();
  in >> n;
  EXPECT_EQ(n, 1);
}

TEST(IstreamFailure, AStreamWithoutBufferIsBad) {
  istream in(nullptr);
  EXPECT_TRUE(in.bad());
  int n = 4;
  in >> n;
  EXPECT_EQ(n, 4);
  EXPECT_EQ(in.get(), EOF);
  EXPECT_EQ(in.tellg(), EOF);
  in.seekg(0);
  EXPECT_TRUE(in.fail());
}

TEST(IstreamFailure, ExceptionsFromTheBufferPassThroughUnchanged) {
  const IMemBuf::EOperation operations[] = {IMemBuf::kUnderflow, IMemBuf::kPbackfail, IMemBuf::kSync,
                                            IMemBuf::kSeek};
  for (std::size_t area : {1, 3, 16}) {
    for (IMemBuf::EOperation op : operations) {
      for (int nth = 1; nth <= 4; ++nth) {
        IMemBuf buffer("  123 4.5 word\nline\n", area);
        buffer.throwOn(op, nth);
        istream in(&buffer);
        bool thrown = false;
        try {
          int i = 0;
          double d = 0;
          std::string w, l;
          in >> i >> d >> w;
          in.unget();
          in.unget();
          in.ignore(2);
          getline(in, l);
          in.putback('x');
          in.sync();
          in.seekg(0);
          in.tellg();
          in.seekg(1, ios::cur);
          while (in.get() != EOF) {
          }
        } catch (const IMemBufError&) {
          thrown = true;
        }
        EXPECT_TRUE(thrown || buffer.calls(op) < nth) << "operation " << op << " call " << nth << " area " << area;
        if (thrown) {
          EXPECT_FALSE(in.bad());
        }
      }
    }
  }
}

// A buffer's pbackfail answers EOF for no room, or 0 as the classic file
// buffer does; its successes (1 or the character) and overflow's (0 or the
// character) reach the stream as the character.
TEST(IstreamFailure, PutbackBeyondTheStartSetsBadbit) {
  for (bool likeAFile : {false, true}) {
    IMemBuf buffer("ab", 1);
    if (likeAFile)
      buffer.answerLikeAFile();
    istream in(&buffer);
    in.putback('z');
    EXPECT_EQ(in.rdstate(), ios::badbit) << likeAFile;
    in.clear();
    in.unget();
    EXPECT_EQ(in.rdstate(), ios::badbit) << likeAFile;
    in.clear();
    EXPECT_EQ(in.get(), 'a');
    in.sync(); // no get area: what follows goes through pbackfail and overflow
    EXPECT_EQ(buffer.sputbackc('y'), 'y') << likeAFile;
    in.sync();
    EXPECT_EQ(buffer.sputc('q'), 'q') << likeAFile;
    EXPECT_EQ(buffer.calls(IMemBuf::kPbackfail), 3) << likeAFile;
    EXPECT_EQ(buffer.calls(IMemBuf::kOverflow), 1) << likeAFile;
  }
}

TEST(IstreamClassic, AFailedNumberLeavesTheVariableAsItWas) {
  // The standard stream stores 0 or the limit; classic programs keep a default.
  for (const char* input : {"x", "-", "99999999999", "-99999999999", "0x", ""}) {
    IMemBuf buffer(input, 3);
    istream in(&buffer);
    int n = 5;
    in >> n;
    EXPECT_EQ(n, 5) << input;
    EXPECT_TRUE(in.fail()) << input;
  }
  short s = 6;
  unsigned u = 7;
  double d = 8, e = 9;
  bool b = false;
  IMemBuf text("70000 4294967296 1e999 . 2", 2);
  istream in(&text);
  in >> s;
  in.clear();
  in >> u;
  in.clear();
  in >> d;
  in.clear();
  in >> e;
  in.clear();
  in.ignore();
  in >> b;
  EXPECT_TRUE(in.fail());
  EXPECT_EQ(s, 6);
  EXPECT_EQ(u, 7u);
  EXPECT_EQ(d, 8);
  EXPECT_EQ(e, 9);
  EXPECT_FALSE(b);
}

// The model of a buffer copied into itself: each piece (one get area) is
// read, then written at the position the read left.
std::string copiedIntoItself(std::string store, std::size_t piece) {
  for (std::size_t p = 0; p < store.size();) {
    std::string taken = store.substr(p, piece);
    p += taken.size();
    store.replace(p, taken.size(), taken);
    p += taken.size();
  }
  return store;
}

TEST(IstreamBuffer, ABufferCopiedIntoItselfGoesThroughACopy) {
  const std::string text = "hello world, copied into its own buffer\n";
  for (std::size_t area : {1, 3, 16, 4096}) {
    IMemBuf buffer(text, area);
    iostream s(&buffer);
    s >> s.rdbuf();
    EXPECT_EQ(s.rdstate(), ios::eofbit) << area;
    EXPECT_EQ(buffer.str(), copiedIntoItself(text, area)) << area;
    IMemBuf again(text, area);
    ostream out(&again);
    out << out.rdbuf();
    EXPECT_TRUE(out.good()) << area;
    EXPECT_EQ(again.str(), buffer.str()) << "the inserter copies the same way";
  }
  IMemBuf buffer(text, 4096);
  iostream s(&buffer);
  s.get(*s.rdbuf(), ',');
  EXPECT_EQ(s.gcount(), 11);
  EXPECT_TRUE(s.good());
  EXPECT_EQ(buffer.str(), "hello worldhello worldto its own buffer\n");
}

TEST(IstreamBuffer, AFileCopiedIntoItselfDoesNotOverlap) {
  // One array serves reading and writing, so a copy of the get area into
  // the put area overlapped before (the sanitizer build checks this).
  ITempDir dir;
  const std::string path = dir.path("self");
  const std::string text(3000, 'x');
  writeWholeFile(path, text + "\nend");
  {
    IFileIOStream s(path, ios::in | ios::out, 0);
    s >> s.rdbuf();
    EXPECT_EQ(s.rdstate(), ios::eofbit);
  }
  EXPECT_EQ(readWholeFile(path), text + "\nend" + text + "\nend");
  writeWholeFile(path, std::string("ab") + '\0' + "cd");
  {
    IFileIOStream s(path, ios::in | ios::out, 0);
    s.get(*s.rdbuf(), '\0');
    EXPECT_EQ(s.gcount(), 2);
  }
  EXPECT_EQ(readWholeFile(path), "ababd");
}

TEST(IstreamPosition, SeekgAndTellg) {
  IMemBuf buffer("0123456789", 3);
  istream in(&buffer);
  EXPECT_EQ(in.tellg(), 0);
  in.ignore(4);
  EXPECT_EQ(in.tellg(), 4);
  in.seekg(7);
  EXPECT_EQ(in.get(), '7');
  in.seekg(-3, ios::cur);
  EXPECT_EQ(in.get(), '5');
  in.seekg(-1, ios::end);
  EXPECT_EQ(in.get(), '9');
  EXPECT_EQ(in.get(), EOF);
  // At the end of the input tellg still answers, as the classic stream did.
  EXPECT_EQ(in.tellg(), EOF) << "failbit is set by the failed get";
  in.clear(ios::eofbit);
  EXPECT_EQ(in.tellg(), 10);
  // seekg clears eofbit first, as the standard stream does.
  in.seekg(2);
  EXPECT_TRUE(in.good());
  EXPECT_EQ(in.get(), '2');
  in.seekg(-5);
  EXPECT_EQ(in.rdstate(), ios::failbit);
}

TEST(IstreamPosition, IostreamReadsWhatItWrote) {
  IMemBuf buffer({}, 4);
  iostream io(&buffer);
  io << 42 << ' ' << 2.5 << " words here" << endl;
  io.seekg(0);
  int n = 0;
  double d = 0;
  std::string word, line;
  io >> n >> d >> word;
  getline(io, line);
  EXPECT_EQ(n, 42);
  EXPECT_EQ(d, 2.5);
  EXPECT_EQ(word, "words");
  EXPECT_EQ(line, " here");
  EXPECT_TRUE(io.good());
  EXPECT_EQ(io.peek(), EOF);
  EXPECT_EQ(io.rdstate(), ios::eofbit);
}

} // namespace
