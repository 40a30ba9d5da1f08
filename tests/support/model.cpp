// The model run: each operation is applied to the stream and to the model,
// and what they answer is compared at once.
#include "model.hpp"

#include "iexcept.hpp"
#include "ifilestr.hpp"
#include "stdflags.hpp"
#include "tempdir.hpp"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <deque>
#include <limits>
#include <map>
#include <set>
#include <sstream>
#include <type_traits>

std::uint64_t IByteChoices::next(std::uint64_t bound) {
  std::uint64_t value = 0;
  for (std::uint64_t range = 1; range < bound && fUsed < fSize; range <<= 8)
    value = (value << 8) | fData[fUsed++];
  return value % bound;
}

namespace {

constexpr long long kMaxFileSize = 40 * 1024; // a larger file is cut at the next open
constexpr long long kPutBackRoom = 4100;      // putbacks that always fit in front of a refill or an idle position
constexpr long long kNoShiftRoom = 4;         // putbacks that never make the array shift

bool isSpace(int c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

std::string describeChar(int c) {
  if (c == EOF)
    return "EOF";
  return std::to_string(c) + (c >= 32 && c < 127 ? std::string(" '") + static_cast<char>(c) + "'" : "");
}

template <class T> std::string describe(const T& v) {
  if constexpr (std::is_same_v<T, std::string>) {
    return v.size() > 200 ? quoted(v.substr(0, 200)) + "... (" + std::to_string(v.size()) + " bytes)" : quoted(v);
  } else if constexpr (std::is_floating_point_v<T>) {
    char text[64];
    std::snprintf(text, sizeof text, "%.21Lg", static_cast<long double>(v));
    return text;
  } else if constexpr (std::is_same_v<T, char> || std::is_same_v<T, signed char> || std::is_same_v<T, unsigned char>) {
    return describeChar(static_cast<unsigned char>(v));
  } else {
    return std::to_string(v);
  }
}

// A plain file with one position, as the stream presents it, and the state
// of the classic stream around it.
struct IFileModel {
  std::string fData;
  long long fPos = 0;
  int fMode = 0; // ios::out added for app; 0 while closed
  int fState = 0;
  long fFlags = ios::skipws;
  int fWidth = 0;
  int fPrecision = 6;
  char fFill = ' ';
  int fGcount = 0;
  // Characters put back in place of different file bytes: they are read
  // instead of the file until the stream next synchronises with the file.
  std::map<long long, char> fOverlay;
  // Where such characters were read since: an unget there may give back
  // either the character read or the file's byte.
  std::set<long long> fOverlayRead;
  // The furthest position reached since the stream last synchronised; room
  // for putback is counted from here.
  long long fHigh = 0;

  long long size() const { return static_cast<long long>(fData.size()); }
  bool canRead() const { return fMode & ios::in; }
  bool canWrite() const { return fMode & ios::out; }
  bool good() const { return fState == 0; }
  bool fail() const { return fState & (ios::failbit | ios::badbit); }

  int at(long long p) const {
    auto it = fOverlay.find(p);
    if (it != fOverlay.end())
      return static_cast<unsigned char>(it->second);
    return p >= 0 && p < size() ? static_cast<unsigned char>(fData[static_cast<std::size_t>(p)]) : EOF;
  }
  int peekChar() const { return canRead() ? at(fPos) : EOF; }
  // Up to `limit` characters from the position, as a reader would get them.
  std::string text(std::size_t limit) const {
    std::string t;
    for (long long p = fPos; t.size() < limit; ++p) {
      int c = canRead() ? at(p) : EOF;
      if (c == EOF)
        break;
      t += static_cast<char>(c);
    }
    return t;
  }
  void advance(long long n) {
    for (auto it = fOverlay.begin(); it != fOverlay.end() && it->first < fPos + n; it = fOverlay.erase(it))
      if (it->first >= fPos)
        fOverlayRead.insert(it->first);
    fPos += n;
    fHigh = std::max(fHigh, fPos);
  }
  // The stream gave back its read-ahead and wrote its output.
  void synced() {
    fOverlay.clear();
    fOverlayRead.clear();
    fHigh = fPos;
  }

  // istream's prefix; need 0 skips white space when skipws is set.
  bool ipfx(int need) {
    if (!good()) {
      fState |= ios::failbit;
      return false;
    }
    if (need == 0 && (fFlags & ios::skipws)) {
      while (peekChar() != EOF && isSpace(peekChar()))
        advance(1);
      if (peekChar() == EOF) {
        fState |= ios::eofbit | ios::failbit;
        return false;
      }
    }
    return true;
  }
  // ostream's prefix.
  bool opfx() {
    if (good())
      return true;
    if (fState & ios::badbit)
      fState |= ios::failbit;
    return false;
  }
  // Writes land where the stream stands; with app, at the end, whatever a
  // seek did.
  void write(const std::string& bytes) {
    if (fMode & ios::app)
      fPos = size();
    if (fPos > size())
      fData.resize(static_cast<std::size_t>(fPos), '\0');
    fData.replace(static_cast<std::size_t>(fPos), std::min(bytes.size(), fData.size() - static_cast<std::size_t>(fPos)),
                  bytes);
    fPos += static_cast<long long>(bytes.size());
    synced();
  }
  // Output through the prefix; a formatted insertion also uses up the width.
  void output(const std::string& bytes, bool formatted) {
    if (!opfx())
      return;
    if (formatted)
      fWidth = 0;
    if (bytes.empty())
      return;
    if (!canWrite()) {
      fState |= ios::badbit;
      return;
    }
    write(bytes);
  }
  template <class T> std::string format(const T& value) const {
    std::ostringstream out;
    out.flags(toStdFlags(fFlags));
    out.width(fWidth);
    out.precision(fPrecision);
    out.fill(fFill);
    out << value;
    return out.str();
  }
  // A formatted extraction after a successful prefix, as the standard stream
  // reads it from the same characters.
  template <class T> void extract(T& value, bool usesWidth) {
    for (std::size_t window = 64;; window *= 4) {
      std::string chars = text(window);
      std::istringstream in(chars);
      in.flags(toStdFlags(fFlags));
      in.width(usesWidth ? fWidth : 0);
      T v = value;
      in >> v;
      if (in.eof() && chars.size() == window)
        continue; // the number or word may go on past the window
      int state = fromStdState(in.rdstate());
      v = classicNumber(v, value, in.rdstate());
      in.clear();
      std::streamoff used = in.tellg();
      value = v;
      advance(used < 0 ? static_cast<long long>(chars.size()) : used);
      fState |= state;
      if (usesWidth)
        fWidth = 0;
      return;
    }
  }
};

const int kModes[] = {ios::in | ios::out,
                      ios::in | ios::out | ios::ate,
                      ios::in | ios::out | ios::app,
                      ios::in | ios::out | ios::trunc,
                      ios::in,
                      ios::out,
                      ios::app,
                      ios::out | ios::trunc,
                      ios::in | ios::ate};

const char kAlphabet[] = "0123456789     \n\n\t+-.xXeEabfAF,;";

} // namespace

struct IModelRun::IState {
  IState(const std::string& path, IChoices& choices, IModelOptions options)
      : fPath(path), fChoices(choices), fOptions(options) {
    std::size_t size = static_cast<std::size_t>(below(3) == 0 ? below(100) : below(14000));
    m.fData = bytes(size);
    writeWholeFile(fPath, m.fData);
    construct();
  }

  // --- choices -----------------------------------------------------------
  std::uint64_t below(std::uint64_t bound) { return fChoices.next(bound); }
  bool chance(int percent) { return static_cast<int>(below(100)) < percent; }
  char byte() { return below(20) == 0 ? static_cast<char>(below(256)) : kAlphabet[below(sizeof kAlphabet - 1)]; }
  std::string bytes(std::size_t n) {
    std::string s(n, '\0');
    for (char& c : s)
      c = byte();
    return s;
  }
  std::size_t length() {
    switch (below(8)) {
    case 0:
      return static_cast<std::size_t>(below(9000));
    case 1:
      return 4096 + static_cast<std::size_t>(below(3)) - 1;
    default:
      return static_cast<std::size_t>(below(24));
    }
  }
  template <class T> T number() {
    if constexpr (std::is_floating_point_v<T>) {
      switch (below(4)) {
      case 0:
        return static_cast<T>(static_cast<long long>(below(2000000)) - 1000000) / 64;
      case 1:
        return static_cast<T>(std::ldexp(static_cast<double>(below(1u << 20)), static_cast<int>(below(200)) - 100));
      default:
        return static_cast<T>(static_cast<long long>(below(2000)) - 1000);
      }
    } else {
      switch (below(4)) {
      case 0:
        return below(2) ? std::numeric_limits<T>::max() : std::numeric_limits<T>::min();
      case 1:
        return static_cast<T>(below(~0ULL));
      default:
        return static_cast<T>(static_cast<long long>(below(2000)) - 1000);
      }
    }
  }
  // A position near the current one or anywhere in the file (or a little past it).
  long long target() {
    if (chance(50))
      return std::max(0LL, m.fPos + static_cast<long long>(below(2 * 4200)) - 4200);
    return static_cast<long long>(below(static_cast<std::uint64_t>(m.size() + 60)));
  }

  // --- comparison ------------------------------------------------------------
  void fail(const std::string& what) {
    if (fFailed)
      return;
    fFailed = true;
    std::ostringstream text;
    text << "operation " << fCount << " differs: " << what << "\n  model: position " << m.fPos << ", size " << m.size()
         << ", state " << describeState(m.fState) << ", mode " << m.fMode << ", flags " << describeFlags(m.fFlags)
         << "\n  the operations up to it, oldest first:\n";
    for (const std::string& op : fRecent)
      text << "    " << op << "\n";
    fFailure = text.str();
  }
  template <class T> void same(const char* what, const T& ours, const T& model) {
    if (!sameValue(ours, model))
      fail(std::string(what) + ": stream " + describe(ours) + ", model " + describe(model));
  }
  void sameState() { same("state", describeState(s().rdstate()), describeState(m.fState)); }
  void sameGcount() { same("gcount", s().gcount(), m.fGcount); }
  void sameFile(const char* when) {
    std::string disk = readWholeFile(fPath);
    if (disk != m.fData) {
      std::size_t at = 0;
      while (at < disk.size() && at < m.fData.size() && disk[at] == m.fData[at])
        ++at;
      fail(std::string("the file ") + when + ": " + std::to_string(disk.size()) + " bytes, the model " +
           std::to_string(m.size()) + ", first difference at offset " + std::to_string(at));
    }
  }
  void note(std::string op) {
    fRecent.push_back(std::to_string(fCount) + ": " + std::move(op));
    if (fRecent.size() > 40)
      fRecent.pop_front();
  }

  IFileIOStream& s() { return *fStream; }

  // --- opening and closing ---------------------------------------------------
  int chooseMode() {
    int mode = kModes[below(sizeof kModes / sizeof kModes[0])];
    if (m.size() > kMaxFileSize)
      mode |= ios::trunc | ios::out;
    return mode;
  }
  void opened(int mode) {
    m.fMode = (mode & ios::app) ? mode | ios::out : mode;
    if (mode & ios::trunc)
      m.fData.clear();
    m.fPos = (mode & (ios::ate | ios::app)) ? m.size() : 0;
    m.synced();
  }
  void construct() {
    int mode = chooseMode();
    note("construct with mode " + std::to_string(mode));
    fStream.reset();
    fStream = std::make_unique<IFileIOStream>(IHostPathName(fPath), mode, 0);
    m.fState = 0;
    m.fFlags = ios::skipws;
    m.fWidth = 0;
    m.fPrecision = 6;
    m.fFill = ' ';
    m.fGcount = 0;
    opened(mode);
  }

  bool opReconstruct() {
    fStream.reset();
    sameFile("after the stream was destroyed");
    construct();
    sameState();
    return true;
  }
  bool opClose() {
    if (m.fMode == 0) {
      note("close a closed stream");
      try {
        s().close();
        fail("a second close was not refused");
      } catch (const IAssertionFailure&) {
      }
    } else {
      note("close");
      s().close();
      m.fMode = 0;
      m.fPos = 0;
      m.synced();
      sameFile("after close");
    }
    sameState();
    return true;
  }
  bool opOpen() {
    int mode = chooseMode();
    if (m.fMode != 0) {
      note("open an open stream");
      try {
        s().open(IFile(IText(fPath)), mode, 0);
        fail("an open of an open stream was not refused");
      } catch (const IAssertionFailure&) {
      }
    } else {
      note("open with mode " + std::to_string(mode));
      s().open(IFile(IText(fPath)), mode, 0);
      opened(mode);
    }
    sameState();
    return true;
  }

  // --- output ----------------------------------------------------------------
  bool opPut() {
    char c = byte();
    note("put " + describeChar(static_cast<unsigned char>(c)));
    s().put(c);
    m.output(std::string(1, c), false);
    sameState();
    return true;
  }
  bool opWrite() {
    std::string text = bytes(length());
    note("write " + describe(text));
    s().write(text.data(), static_cast<int>(text.size()));
    m.output(text, false);
    sameState();
    return true;
  }
  template <class T> void insert(const T& value) {
    std::string text = m.format(value);
    note("<< " + describe(value) + " as " + quoted(text) + " (width " + std::to_string(m.fWidth) + ")");
    s() << value;
    m.output(text, true);
    sameState();
    same("width after <<", s().width(), m.fWidth);
  }
  bool opInsert() {
    switch (below(9)) {
    case 0:
      insert(number<int>());
      break;
    case 1:
      insert(number<long long>());
      break;
    case 2:
      insert(number<unsigned>());
      break;
    case 3:
      insert(number<unsigned long long>());
      break;
    case 4:
      insert(number<double>());
      break;
    case 5:
      insert(number<short>());
      break;
    case 6:
      insert(byte());
      break;
    case 7:
      insert(bytes(length() % 40));
      break;
    default: {
      std::string text = bytes(below(12));
      text.erase(std::remove(text.begin(), text.end(), '\0'), text.end());
      std::string shown = m.format(text.c_str());
      note("<< const char* " + quoted(text) + " as " + quoted(shown));
      s() << text.c_str();
      m.output(shown, true);
      sameState();
      break;
    }
    }
    return true;
  }
  // A number written and read straight back, so that most extractions find one.
  bool opRoundTrip() {
    if (!m.good() || !m.canRead() || !m.canWrite() || (m.fMode & ios::app))
      return false;
    const long long start = m.fPos;
    note("round trip from " + std::to_string(start));
    switch (below(4)) {
    case 0:
      insert(number<long long>());
      break;
    case 1:
      insert(number<int>());
      break;
    case 2:
      insert(number<double>());
      break;
    default:
      insert(number<unsigned>());
      break;
    }
    insert(' ');
    seek(true, true, ios::beg, start);
    switch (below(4)) {
    case 0:
      extract<long long>("long long", 77);
      break;
    case 1:
      extract<int>("int", 77);
      break;
    case 2:
      extract<double>("double", 7.5);
      break;
    default:
      extract<unsigned>("unsigned", 77);
      break;
    }
    fCount += 3;
    return true;
  }
  bool opFlush() {
    note("flush");
    s().flush();
    if (m.opfx() && m.fMode != 0) {
      m.synced();
      if (chance(30))
        sameFile("after flush");
    }
    sameState();
    return true;
  }

  // --- input -------------------------------------------------------------------
  bool opGet() {
    note("get");
    int got = s().get();
    m.fGcount = 0;
    int expected = EOF;
    if (m.ipfx(1)) {
      expected = m.peekChar();
      if (expected == EOF) {
        m.fState |= ios::eofbit | ios::failbit;
      } else {
        m.advance(1);
        m.fGcount = 1;
      }
    }
    same("get", describeChar(got), describeChar(expected));
    sameState();
    sameGcount();
    return true;
  }
  bool opPeek() {
    note("peek");
    int got = s().peek();
    m.fGcount = 0;
    int expected = EOF;
    if (m.ipfx(1)) {
      expected = m.peekChar();
      if (expected == EOF)
        m.fState |= ios::eofbit;
    }
    same("peek", describeChar(got), describeChar(expected));
    sameState();
    sameGcount();
    return true;
  }
  bool opRead() {
    int n = static_cast<int>(length());
    note("read " + std::to_string(n));
    std::string ours(static_cast<std::size_t>(n), '#');
    s().read(ours.data(), n);
    std::string expected(static_cast<std::size_t>(n), '#');
    m.fGcount = 0;
    if (m.ipfx(1)) {
      std::string got = m.text(static_cast<std::size_t>(n));
      expected.replace(0, got.size(), got);
      m.advance(static_cast<long long>(got.size()));
      m.fGcount = static_cast<int>(got.size());
      if (got.size() < static_cast<std::size_t>(n))
        m.fState |= ios::eofbit | ios::failbit;
    }
    same("read", ours, expected);
    sameState();
    sameGcount();
    return true;
  }
  char delimiter() { return chance(70) ? '\n' : chance(50) ? ' ' : byte(); }
  bool opGetlineString() {
    char delim = delimiter();
    note("getline into a string, delimiter " + describeChar(static_cast<unsigned char>(delim)));
    std::string ours = "unchanged";
    getline(s(), ours, delim);
    std::string expected = "unchanged";
    std::size_t extracted = 0;
    if (m.ipfx(1)) {
      expected.clear();
      for (;;) {
        int c = m.peekChar();
        if (c == EOF) {
          m.fState |= ios::eofbit;
          break;
        }
        m.advance(1);
        ++extracted;
        if (c == static_cast<unsigned char>(delim))
          break;
        expected += static_cast<char>(c);
      }
    }
    if (extracted == 0)
      m.fState |= ios::failbit;
    same("getline", ours, expected);
    sameState();
    return true;
  }
  // get and getline into an array of n characters.
  bool opGetChars() {
    const bool line = chance(50);
    const int n = static_cast<int>(chance(80) ? below(30) : below(300));
    const char delim = delimiter();
    note(std::string(line ? "getline" : "get") + " into " + std::to_string(n) + " characters, delimiter " +
         describeChar(static_cast<unsigned char>(delim)));
    std::string ours(static_cast<std::size_t>(n) + 8, '#');
    if (line)
      s().getline(ours.data(), n, delim);
    else
      s().get(ours.data(), n, delim);
    std::string expected(static_cast<std::size_t>(n) + 8, '#');
    m.fGcount = 0;
    std::size_t stored = 0;
    if (m.ipfx(1)) {
      const std::size_t limit = n > 0 ? static_cast<std::size_t>(n) - 1 : 0;
      int count = 0;
      for (;;) {
        int c = m.peekChar();
        if (c == EOF) {
          m.fState |= ios::eofbit;
          break;
        }
        if (c == static_cast<unsigned char>(delim)) {
          if (line) {
            m.advance(1);
            ++count;
          }
          break;
        }
        if (stored >= limit) {
          if (line)
            m.fState |= ios::failbit;
          break;
        }
        expected[stored++] = static_cast<char>(c);
        m.advance(1);
        ++count;
      }
      m.fGcount = count;
    }
    if (n > 0)
      expected[stored] = '\0';
    if (m.fGcount == 0)
      m.fState |= ios::failbit;
    same(line ? "getline" : "get", ours, expected);
    sameState();
    sameGcount();
    return true;
  }
  bool opIgnore() {
    const int n = static_cast<int>(chance(70) ? below(20) : below(6000));
    const int delim = chance(30) ? EOF : static_cast<unsigned char>(delimiter());
    note("ignore " + std::to_string(n) + ", delimiter " + describeChar(delim));
    s().ignore(n, delim);
    m.fGcount = 0;
    if (m.ipfx(1) && n > 0) {
      int count = 0;
      while (count < n) {
        int c = m.peekChar();
        if (c == EOF) {
          m.fState |= ios::eofbit;
          break;
        }
        m.advance(1);
        ++count;
        if (c == delim)
          break;
      }
      m.fGcount = count;
    }
    sameState();
    sameGcount();
    return true;
  }
  template <class T> void extract(const char* type, T initial) {
    note(std::string(">> ") + type);
    T ours = initial;
    s() >> ours;
    T expected = initial;
    if (m.ipfx(0))
      m.extract(expected, std::is_same_v<T, std::string>);
    same(type, ours, expected);
    sameState();
    same("width after >>", s().width(), m.fWidth);
  }
  bool opExtract() {
    switch (below(12)) {
    case 0:
      extract<int>("int", 77);
      break;
    case 1:
      extract<long>("long", 77);
      break;
    case 2:
      extract<unsigned>("unsigned", 77);
      break;
    case 3:
      extract<long long>("long long", 77);
      break;
    case 4:
      extract<unsigned long long>("unsigned long long", 77);
      break;
    case 5:
      extract<short>("short", 77);
      break;
    case 6:
      extract<bool>("bool", true);
      break;
    case 7:
      extract<double>("double", 7.5);
      break;
    case 8:
      extract<float>("float", 7.5f);
      break;
    case 9:
      extract<std::string>("string", std::string("unchanged"));
      break;
    case 10: {
      note(">> char");
      char ours = '?';
      s() >> ours;
      char expected = '?';
      if (m.ipfx(0)) {
        int c = m.peekChar();
        if (c == EOF) {
          m.fState |= ios::eofbit | ios::failbit;
        } else {
          expected = static_cast<char>(c);
          m.advance(1);
        }
      }
      same("char", ours, expected);
      sameState();
      break;
    }
    default: {
      note(">> char[6], width " + std::to_string(m.fWidth));
      char ours[6] = "-----";
      s() >> ours;
      char theirs[6] = "-----";
      if (m.ipfx(0)) {
        for (std::size_t window = 64;; window *= 4) {
          std::string chars = m.text(window);
          std::istringstream in(chars);
          in.flags(toStdFlags(m.fFlags));
          in.width(m.fWidth);
          std::memcpy(theirs, "-----", 6);
          in >> theirs;
          if (in.eof() && chars.size() == window)
            continue;
          int state = fromStdState(in.rdstate());
          in.clear();
          std::streamoff used = in.tellg();
          m.advance(used < 0 ? static_cast<long long>(chars.size()) : used);
          m.fState |= state;
          m.fWidth = 0;
          break;
        }
      }
      same("char[6]", std::string(ours, 6), std::string(theirs, 6));
      sameState();
      break;
    }
    }
    return true;
  }

  // --- putback -----------------------------------------------------------------
  bool opPutback() {
    if (m.fPos <= 0)
      return opBackAtStart(false);
    const int fileChar = m.at(m.fPos - 1);
    char c = fileChar != EOF && chance(85) ? static_cast<char>(fileChar) : byte();
    const bool matches = static_cast<unsigned char>(c) == fileChar;
    const long long depth = m.fHigh - (m.fPos - 1);
    if (depth > (matches && m.fOverlay.empty() ? kPutBackRoom : kNoShiftRoom))
      return false;
    note("putback " + describeChar(static_cast<unsigned char>(c)));
    s().putback(c);
    m.fGcount = 0;
    m.fState &= ~ios::eofbit;
    if (m.ipfx(1)) {
      if (!m.canRead()) {
        m.fState |= ios::badbit;
      } else {
        --m.fPos;
        m.fOverlayRead.erase(m.fPos);
        if (matches)
          m.fOverlay.erase(m.fPos);
        else
          m.fOverlay[m.fPos] = c;
      }
    }
    sameState();
    sameGcount();
    return true;
  }
  // Many characters back in a row, as far as the room allows: the array shifts.
  bool opPutbackRun() {
    const long long count = chance(85) ? static_cast<long long>(below(40)) : static_cast<long long>(below(4200));
    long long done = 0;
    while (done < count && !fFailed && m.fPos > 0) {
      const int fileChar = m.at(m.fPos - 1);
      if (fileChar == EOF || m.fHigh - (m.fPos - 1) > (m.fOverlay.empty() ? kPutBackRoom : kNoShiftRoom))
        break;
      if (done == 0)
        note("putback run of up to " + std::to_string(count));
      s().putback(static_cast<char>(fileChar));
      m.fGcount = 0;
      m.fState &= ~ios::eofbit;
      if (m.ipfx(1)) {
        if (!m.canRead()) {
          m.fState |= ios::badbit;
        } else {
          --m.fPos;
          m.fOverlayRead.erase(m.fPos);
          m.fOverlay.erase(m.fPos);
        }
      }
      sameState();
      ++done;
    }
    if (done > 1)
      fCount += done - 1; // each putback is an operation of its own
    return done > 0;
  }
  // Nothing goes back in front of the file's first byte: refused with badbit.
  bool opBackAtStart(bool unget) {
    const char c = byte();
    note(unget ? std::string("unget at the start") : "putback at the start " + describeChar(static_cast<unsigned char>(c)));
    if (unget)
      s().unget();
    else
      s().putback(c);
    m.fGcount = 0;
    m.fState &= ~ios::eofbit;
    if (m.ipfx(1))
      m.fState |= ios::badbit;
    sameState();
    sameGcount();
    return true;
  }
  bool opUnget() {
    if (m.fPos <= 0)
      return opBackAtStart(true);
    if (!fOptions.fUnget || !m.fOverlay.empty() || m.fOverlayRead.count(m.fPos - 1))
      return false;
    note("unget");
    s().unget();
    m.fGcount = 0;
    m.fState &= ~ios::eofbit;
    if (m.ipfx(1)) {
      if (!m.canRead()) {
        m.fState |= ios::badbit;
      } else {
        --m.fPos; // the room for putback stays counted from fHigh, whichever way the stream went back
      }
    }
    sameState();
    sameGcount();
    return true;
  }

  // --- positioning -------------------------------------------------------------
  bool opSeek() {
    const bool get = chance(50);
    const bool absolute = chance(30);
    long long to = target();
    ios::seek_dir dir = static_cast<ios::seek_dir>(below(3));
    return seek(get, absolute, dir, absolute ? to : to - base(dir));
  }
  long long base(ios::seek_dir dir) const { return dir == ios::beg ? 0 : dir == ios::cur ? m.fPos : m.size(); }
  bool opSeekBeforeStart() {
    if (!fOptions.fSeekBeforeStart || !m.fOverlay.empty())
      return false;
    const bool absolute = chance(30);
    ios::seek_dir dir = static_cast<ios::seek_dir>(below(3));
    long long to = -1 - static_cast<long long>(below(100));
    return seek(chance(50), absolute, dir, absolute ? to : to - base(dir));
  }
  bool seek(bool get, bool absolute, ios::seek_dir dir, long long offset) {
    static const char* const kDirs[] = {"beg", "cur", "end"};
    note(std::string(get ? "seekg" : "seekp") + "(" + std::to_string(offset) +
         (absolute ? "" : std::string(", ") + kDirs[dir]) + ")");
    long long to = (absolute ? 0 : base(dir)) + offset;
    if (get)
      m.fState &= ~ios::eofbit;
    else
      m.opfx();
    const bool reaches = !m.fail();
    bool threw = false;
    try {
      if (get && absolute)
        s().seekg(offset);
      else if (get)
        s().seekg(offset, dir);
      else if (absolute)
        s().seekp(offset);
      else
        s().seekp(offset, dir);
    } catch (const IAccessError& error) {
      threw = true;
      if (!reaches || m.fMode == 0 || to >= 0)
        fail(std::string("the seek failed: ") + error.what());
      else if (error.errorId() != EINVAL)
        fail(std::string("a seek before the start failed with the wrong error: ") + error.what());
    }
    if (reaches) {
      if (m.fMode == 0) {
        m.fState |= ios::failbit;
      } else if (to < 0) {
        if (!threw)
          fail("a seek before the start did not fail");
        // The position stays, and so does the room for putback as far as
        // the model counts it, whether or not the stream synchronised.
      } else {
        m.fPos = to;
        m.synced();
      }
    }
    sameState();
    return true;
  }
  bool opTell() {
    const bool get = chance(50);
    note(get ? "tellg" : "tellp");
    long long ours = get ? s().tellg() : s().tellp();
    if (!get)
      m.opfx();
    long long expected = -1;
    if (!m.fail() && m.fMode != 0) {
      m.synced();
      expected = m.fPos;
    }
    same(get ? "tellg" : "tellp", ours, expected);
    sameState();
    return true;
  }

  // --- state and format --------------------------------------------------------
  bool opClear() {
    note("clear");
    s().clear();
    m.fState = 0;
    return true;
  }
  bool opFormat() {
    static const long kBases[] = {0, ios::dec, ios::oct, ios::hex};
    static const long kFloats[] = {0, ios::fixed, ios::scientific};
    static const long kAdjust[] = {0, ios::left, ios::right, ios::internal};
    long flags = kBases[below(4)] | kFloats[below(3)] | kAdjust[below(4)];
    for (long bit : {ios::showbase, ios::showpoint, ios::uppercase, ios::showpos})
      if (chance(20))
        flags |= bit;
    if (chance(85))
      flags |= ios::skipws;
    int width = chance(60) ? 0 : static_cast<int>(below(14));
    int precision = static_cast<int>(below(18));
    char fill = "* 0#"[below(4)];
    note("format " + describeFlags(flags) + ", width " + std::to_string(width) + ", precision " +
         std::to_string(precision) + ", fill '" + fill + "'");
    s().flags(flags);
    s().width(width);
    s().precision(precision);
    s().fill(fill);
    m.fFlags = flags;
    m.fWidth = width;
    m.fPrecision = precision;
    m.fFill = fill;
    return true;
  }

  // --- the run -------------------------------------------------------------------
  bool step() {
    using IOp = bool (IState::*)();
    struct IWeighted {
      int fWeight;
      IOp fOp;
    };
    static const IWeighted kOps[] = {
        {8, &IState::opPut},           {6, &IState::opWrite},
        {7, &IState::opInsert},        {10, &IState::opGet},
        {5, &IState::opPeek},          {6, &IState::opRead},
        {4, &IState::opGetlineString}, {3, &IState::opGetChars},
        {2, &IState::opIgnore},        {7, &IState::opExtract},
        {3, &IState::opRoundTrip},     {9, &IState::opPutback},
        {3, &IState::opUnget},         {2, &IState::opPutbackRun},
        {8, &IState::opSeek},          {1, &IState::opSeekBeforeStart},
        {3, &IState::opTell},          {3, &IState::opFlush},
        {5, &IState::opClear},         {2, &IState::opFormat},
        {1, &IState::opClose},         {1, &IState::opOpen},
        {1, &IState::opReconstruct},
    };
    static const int kTotal = [] {
      int total = 0;
      for (const IWeighted& w : kOps)
        total += w.fWeight;
      return total;
    }();
    ++fCount;
    try {
      for (;;) {
        if (m.fMode == 0 && chance(40)) {
          opOpen();
          break;
        }
        if (!m.good() && chance(50)) {
          opClear();
          break;
        }
        int pick = static_cast<int>(below(static_cast<std::uint64_t>(kTotal)));
        const IWeighted* op = kOps;
        while (pick >= op->fWeight)
          pick -= (op++)->fWeight;
        if ((this->*(op->fOp))())
          break;
      }
    } catch (const std::exception& error) {
      fail(std::string("unexpected exception: ") + error.what());
    }
    return !fFailed;
  }

  std::string fPath;
  IChoices& fChoices;
  IModelOptions fOptions;
  IFileModel m;
  std::unique_ptr<IFileIOStream> fStream;
  long long fCount = 0;
  bool fFailed = false;
  std::string fFailure;
  std::deque<std::string> fRecent;
};

IModelRun::IModelRun(const std::string& path, IChoices& choices, IModelOptions options)
    : fState(std::make_unique<IState>(path, choices, options)) {}

IModelRun::~IModelRun() = default;

bool IModelRun::run(long long count) {
  for (long long i = 0; i < count && !fState->fChoices.dry(); ++i)
    if (!fState->step())
      return false;
  return true;
}

bool IModelRun::finish() {
  if (fState->fFailed)
    return false;
  fState->note("destroy the stream");
  try {
    fState->fStream.reset();
    fState->sameFile("at the end");
  } catch (const std::exception& error) {
    fState->fail(std::string("unexpected exception: ") + error.what());
  }
  return !fState->fFailed;
}

long long IModelRun::operations() const { return fState->fCount; }

const std::string& IModelRun::failure() const { return fState->fFailure; }
