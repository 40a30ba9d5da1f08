// streambuf: the classic stream buffer, a get area and a put area over
// storage that a derived class owns.
//
// The character operations are inline and make no virtual call while an area
// has room; overflow and underflow are called only when one runs out.
// Characters come back as unsigned byte values (0 to 255), failure as EOF.
#pragma once

#include "ios.hpp"

class KELRT_API streambuf {
public:
  streambuf();

  // Get area.
  int sgetc() { return fGptr < fEgptr ? static_cast<unsigned char>(*fGptr) : underflow(); }
  int sbumpc() { return fGptr < fEgptr ? static_cast<unsigned char>(*fGptr++) : bumpSlow(); }
  int snextc() { return fGptr + 1 < fEgptr ? static_cast<unsigned char>(*++fGptr) : nextSlow(); }
  void stossc() {
    if (fGptr < fEgptr)
      ++fGptr;
    else
      bumpSlow();
  }
  int sgetn(char* s, int n) { return xsgetn(s, n); }
  int sputbackc(char c) {
    if (fGptr > fEback) {
      *--fGptr = c;
      return static_cast<unsigned char>(c);
    }
    return pbackfail(static_cast<unsigned char>(c));
  }
  int in_avail() const { return fGptr < fEgptr ? static_cast<int>(fEgptr - fGptr) : 0; }

  // Put area.
  int sputc(int c) {
    if (fPptr < fEpptr) {
      *fPptr++ = static_cast<char>(c);
      return static_cast<unsigned char>(c);
    }
    return overflow(static_cast<unsigned char>(c));
  }
  int sputn(const char* s, int n) { return xsputn(s, n); }
  int out_waiting() const { return fPptr > fPbase ? static_cast<int>(fPptr - fPbase) : 0; }

  // Virtual operations, in this order.
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
  friend class istream;
  friend class ostream;

  streambuf(const streambuf&);
  streambuf& operator=(const streambuf&);

  int bumpSlow();
  int nextSlow();

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
