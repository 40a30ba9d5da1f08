// streambuf: the classic stream buffer, a get area and a put area over
// storage that a derived class owns.
//
// The character operations are inline and make no virtual call while an area
// has room; overflow and underflow are called only when one runs out.
// Characters come back as unsigned byte values (0 to 255), failure as EOF.
// A stream reaches its buffer by rdbuf(); a derived buffer sets up the areas
// with setg and setp and refills or drains them in underflow and overflow.
// Nothing here throws; a derived buffer's exceptions pass through.
#pragma once

#include "ios.hpp"

class KELRT_API streambuf {
public:
  streambuf();

  // Get area. sgetc: the next character, not taken; sbumpc: taken; snextc:
  // steps past it and answers the one after; stossc: steps past it. EOF at
  // the end of the input.
  int sgetc() { return fGptr < fEgptr ? static_cast<unsigned char>(*fGptr) : underflow(); }
  int sbumpc() { return fGptr < fEgptr ? static_cast<unsigned char>(*fGptr++) : bumpSlow(); }
  int snextc() { return fGptr + 1 < fEgptr ? static_cast<unsigned char>(*++fGptr) : nextSlow(); }
  void stossc() {
    if (fGptr < fEgptr)
      ++fGptr;
    else
      bumpSlow();
  }
  // Takes up to n characters into s; the count taken (less only at the end).
  int sgetn(char* s, int n) { return xsgetn(s, n); }
  // Puts c back in front of the next character, to be read first, and
  // answers it; EOF when the buffer has no room (pbackfail decides).
  int sputbackc(char c) {
    if (fGptr > fEback) {
      *--fGptr = c;
      return static_cast<unsigned char>(c);
    }
    return putBackSlow(static_cast<unsigned char>(c));
  }
  // The characters in the get area, readable without a call to underflow.
  int in_avail() const { return fGptr < fEgptr ? static_cast<int>(fEgptr - fGptr) : 0; }

  // Put area. sputc: puts c, answers it, or EOF when the buffer cannot take
  // it; sputn: puts n characters and answers how many it took; out_waiting:
  // the characters put but not yet written.
  int sputc(int c) {
    if (fPptr < fEpptr) {
      *fPptr++ = static_cast<char>(c);
      return static_cast<unsigned char>(c);
    }
    return putSlow(static_cast<unsigned char>(c));
  }
  int sputn(const char* s, int n) { return xsputn(s, n); }
  int out_waiting() const { return fPptr > fPbase ? static_cast<int>(fPptr - fPbase) : 0; }

  // Fast paths for the streams, which scan and fill the areas in place. The
  // unread characters are [gnext(), gend()); gskip(p) marks those before p
  // (at most gend()) read. gfill refills an empty get area and says whether
  // it then holds a character: a buffer whose underflow answers a character
  // without making a get area has nothing to scan in place. sungetc steps
  // back over the last character read, or asks pbackfail(EOF) when the get
  // area starts at the next character, and answers EOF when it cannot.
  const char* gnext() const { return fGptr; }
  const char* gend() const { return fEgptr; }
  void gskip(const char* p) { fGptr += p - fGptr; }
  bool gfill() { return fGptr < fEgptr || (underflow() != EOF && fGptr < fEgptr); }
  int sungetc() {
    if (fGptr && fGptr > fEback)
      return static_cast<unsigned char>(*--fGptr);
    int answer = pbackfail(EOF);
    return answer == 0 ? EOF : answer;
  }
  // The free part of the put area is [pnext(), pend()); pcommit(p) marks
  // the characters written there before p (at most pend()) as put.
  char* pnext() const { return fPptr; }
  char* pend() const { return fEpptr; }
  void pcommit(char* p) { fPptr = p; }
  // Copies characters from `from` to `to` until the input ends (then
  // `ended` is set), `delim` comes (not taken; EOF for none) or `to` takes
  // fewer than offered; answers the count copied. A buffer copied into
  // itself (s >> s.rdbuf(), s.get(*s.rdbuf()), s << s.rdbuf()) moves each
  // piece, its get area up to 4096 characters, through a copy: the piece is
  // read, then written where the reading left the position, and reading
  // goes on after what was written. A file shorter than its buffer thus
  // ends up twice over; characters of a piece that the buffer then refuses
  // to take back are lost.
  static long long copy(streambuf& from, streambuf& to, int delim, bool& ended);

  // Virtual operations, in this order. The defaults here serve a buffer
  // that holds what it has and nothing more: overflow, underflow, pbackfail,
  // seekoff and seekpos answer EOF; sync answers 0 when both areas are
  // empty, EOF otherwise; xsputn and xsgetn move characters through the
  // areas, calling overflow and underflow when they run out; setbuf(p, n)
  // makes p the reserve area, setbuf(null, 0) makes the buffer unbuffered.
  // doallocate makes a 1024-byte reserve and answers 1. A buffer's overflow
  // may answer 0 for success and its pbackfail 1, as the classic file buffer
  // does, and pbackfail 0 for no room; sputc and sputbackc still answer the
  // character or EOF. (Putting back a 0 byte, an answer of 0 is success.)
  virtual int doallocate();
  virtual int overflow(int c = EOF);
  virtual int underflow();
  virtual int pbackfail(int c);
  virtual int sync();
  virtual streampos seekoff(streamoff offset, ios::seek_dir dir, int mode = ios::in | ios::out);
  virtual streampos seekpos(streampos position, int mode = ios::in | ios::out);
  virtual int xsputn(const char* s, int n);
  virtual int xsgetn(char* s, int n);
  virtual streambuf* setbuf(char* p, int length);
  virtual ~streambuf();

protected:
  char* eback() const { return fEback; }
  char* gptr() const { return fGptr; }
  char* egptr() const { return fEgptr; }
  char* pbase() const { return fPbase; }
  char* pptr() const { return fPptr; }
  char* epptr() const { return fEpptr; }
  void setg(char* eb, char* g, char* eg) { fEback = eb; fGptr = g; fEgptr = eg; }
  void setp(char* p, char* ep) { fPbase = fPptr = p; fEpptr = ep; }
  void pbump(int n) { fPptr += n; }
  void gbump(int n) { fGptr += n; }

  // The reserve area: storage that a buffer may set up for its areas.
  char* base() const { return fBase; }
  char* ebuf() const { return fEbuf; }
  int blen() const { return static_cast<int>(fEbuf - fBase); }
  // Sets the reserve; with `owned`, the buffer deletes[] it when replaced or destroyed.
  void setb(char* b, char* eb, int owned = 0);
  // Makes a reserve with doallocate() when there is none and the buffer is buffered.
  int allocate();
  int unbuffered() const { return fUnbuffered; }
  void unbuffered(int flag) { fUnbuffered = flag != 0; }

private:
  streambuf(const streambuf&);
  streambuf& operator=(const streambuf&);

  int bumpSlow();
  int nextSlow();
  int putSlow(int c);
  int putBackSlow(int c);

  char* fEback = nullptr;
  char* fGptr = nullptr;
  char* fEgptr = nullptr;
  char* fPbase = nullptr;
  char* fPptr = nullptr;
  char* fEpptr = nullptr;
  char* fBase = nullptr;
  char* fEbuf = nullptr;
  bool fOwnsReserve = false;
  bool fUnbuffered = false;
};
