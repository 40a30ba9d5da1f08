// IAccess: reading, writing or both, as an open mode asks it of a file and as
// a sharing mode grants it to others. The one place that reads access out of
// ios::open_mode bits: the buffer, the classic streams, the host's opens and
// its sharing rules all ask here, down to the lock calls.
#pragma once

class IAccess {
public:
  // The values of ios::in and ios::out, so that a sharing mode reads as one.
  enum EBits : unsigned { kNone = 0, kRead = 1, kWrite = 2, kReadWrite = 3 };
  // The ios::open_mode bits that decide access; static_asserts beside the
  // code that also sees ios tie them to it.
  enum EModeBits : int { kModeIn = 1, kModeOut = 2, kModeApp = 8, kModeTrunc = 16 };

  constexpr IAccess() = default;
  constexpr IAccess(EBits bits) : fBits(bits) {}

  // What an open mode asks for: reading for in; writing for out, app or trunc.
  static constexpr IAccess ofMode(int mode) {
    return fromBits(((mode & kModeIn) ? unsigned(kRead) : 0u) |
                    ((mode & (kModeOut | kModeApp | kModeTrunc)) ? unsigned(kWrite) : 0u));
  }
  // What a sharing mode grants others: its in and out bits; the rest say nothing.
  static constexpr IAccess ofSharing(int otherMode) { return fromBits(unsigned(otherMode)); }
  static constexpr IAccess fromBits(unsigned bits) { return IAccess(EBits(bits & kReadWrite)); }

  constexpr bool reads() const { return (fBits & kRead) != 0; }
  constexpr bool writes() const { return (fBits & kWrite) != 0; }
  constexpr bool any() const { return fBits != kNone; }
  constexpr unsigned bits() const { return fBits; }
  // The access this lacks: what a sharing mode that grants this denies.
  constexpr IAccess missing() const { return fromBits(~unsigned(fBits)); }

  friend constexpr bool operator==(IAccess, IAccess) = default;

private:
  EBits fBits = kNone;
};
