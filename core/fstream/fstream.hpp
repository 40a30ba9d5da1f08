// The classic file streams: filebuf, fstreambase, ifstream, ofstream, fstream.
//
//   ofstream out("scores.txt");          // made, or emptied
//   out << "alice " << 42 << '\n';
//   out.close();
//   ifstream in("scores.txt");
//   if (!in)
//     cerr << "cannot open: " << in.rdbuf()->lastErrorText() << endl;
//
// They keep the classic contract, not IFileIOStream's: nothing is thrown. A
// failed open sets failbit, a failed read or write badbit (a failed read
// also ends the input), and closing a closed stream fails quietly; the
// buffer keeps the system's error of its last failure (lastError,
// lastErrorText). The open modes are the classic ones: out without in, app or
// ate empties an existing file, nocreate refuses a missing file, noreplace an
// existing one, app writes at the file's end, ate starts at the end. New
// files get the protection `prot` less the umask. Other users of the file may
// read and write it meanwhile (sharing mode ios::in | ios::out). The filebuf
// is IFileIOStream's buffer itself: one 4096-byte array for reading and
// writing, no seek needed between them, deep putback, 64-bit positions. Not
// safe to use from two threads at once.
#pragma once

#include "filebuf.hpp"
#include "iostream.hpp"
#include "kfsexport.hpp"

class KELFSTREAM_API filebuf : public IFSFileBuf {
public:
  // The protection of new files by default (less the umask).
  static const int openprot;

  // A closed buffer.
  filebuf();
  // A buffer on the open descriptor `fd`, as attach(fd) makes it.
  explicit filebuf(int fd);
  // Writes pending output and closes a file it opened; never throws.
  ~filebuf() override;

  int is_open() const;
  // The descriptor of the open file, EOF when closed.
  int fd() const;
  // Opens the file at `name` with the ios::open_mode bits `mode`: this
  // buffer, or null when it is open already or the file cannot be opened.
  filebuf* open(const char* name, int mode, int prot = openprot);
  // Uses the open descriptor `fd`, which the buffer never closes (its
  // owner does): this buffer, or null when the buffer is open already or
  // `fd` is not an open descriptor.
  filebuf* attach(int fd);
  // Writes pending output and closes the file (an attached descriptor stays
  // open): this buffer, or null when it was not open or the write or the
  // close failed. The buffer is closed afterwards in every case.
  filebuf* close();

  // The errno value of the last failure (0: none yet) and its text, with
  // the operation and the path: "open of '/tmp/x' failed: ..." ("" for none).
  int lastError() const;
  const char* lastErrorText() const;

  // The buffer keeps its own 4096-byte array: setbuf on a closed buffer
  // answers this buffer and changes nothing, on an open one null.
  streambuf* setbuf(char* p, int length) override;

  // The buffer's operations, each failure of the file caught and kept:
  // overflow, underflow, pbackfail and sync answer EOF then and set the
  // stream's badbit (a read that fails must not pass for the end of the
  // input). sync answers 0 otherwise.
  int overflow(int c = EOF) override;
  int underflow() override;
  int pbackfail(int c) override;
  int sync() override;
  // The new position, or EOF when the buffer is closed or the seek fails;
  // the state bits are the stream's to set.
  streampos seekoff(streamoff offset, ios::seek_dir dir, int mode = ios::in | ios::out) override;
  streampos seekpos(streampos position, int mode = ios::in | ios::out) override;

private:
  filebuf(const filebuf&);
  filebuf& operator=(const filebuf&);

  // The buffer's own interface throws, and its code is not exported: classic
  // callers have the one above.
  using IFSFileBuf::closeRegardless;
  using IFSFileBuf::descriptor;
  using IFSFileBuf::endOfFile;
  using IFSFileBuf::file;
  using IFSFileBuf::isOpen;
  using IFSFileBuf::mode;
  using IFSFileBuf::position;
  using IFSFileBuf::setEndOfFile;

  // The text of the last failure, made by the first one (fstream.cpp).
  class IErrorText;

  friend class fstreambase;

  // Runs `call` and answers its result, or `failed` when it throws: the
  // error is then kept, and the stream's badbit set when `report` asks for
  // it. Defined and used in fstream.cpp only.
  template <class Result, class Call> Result guard(Result failed, bool report, Call call);
  void fail(int error, const char* text) noexcept;

  int fError = 0;                // errno of the last failure, 0 for none
  IOwner<IErrorText> fErrorText; // null until the first failure
  ios* fOwner = nullptr;         // the stream whose buffer this is, if any
  bool fGuarding = false;        // within guard: inner calls let failures pass
};

// The base of the file streams: their filebuf and the open and close that
// set the stream's state.
class KELFSTREAM_API fstreambase : virtual public ios {
public:
  // Opens the file; failbit when that fails.
  void open(const char* name, int mode, int prot = filebuf::openprot);
  // Uses the descriptor; failbit when that fails.
  void attach(int fd);
  // Closes the file, clearing the state; failbit when the stream was not
  // open or the close failed.
  void close();
  // setbuf of the buffer; failbit when it refuses.
  void setbuf(char* p, int length);
  int is_open() const { return fBuffer.is_open(); }
  filebuf* rdbuf() const { return const_cast<filebuf*>(&fBuffer); }

protected:
  fstreambase();
  fstreambase(const char* name, int mode, int prot = filebuf::openprot);
  explicit fstreambase(int fd);
  ~fstreambase() override;

private:
  fstreambase(const fstreambase&);
  fstreambase& operator=(const fstreambase&);

  filebuf fBuffer;
};

// Reads a file: `in` is always added to the mode.
class KELFSTREAM_API ifstream : public fstreambase, public istream {
public:
  ifstream();
  explicit ifstream(const char* name, int mode = ios::in, int prot = filebuf::openprot);
  explicit ifstream(int fd);
  ~ifstream() override;

  void open(const char* name, int mode = ios::in, int prot = filebuf::openprot) {
    fstreambase::open(name, mode | ios::in, prot);
  }
  filebuf* rdbuf() const { return fstreambase::rdbuf(); }
};

// Writes a file: `out` is always added to the mode.
class KELFSTREAM_API ofstream : public fstreambase, public ostream {
public:
  ofstream();
  explicit ofstream(const char* name, int mode = ios::out, int prot = filebuf::openprot);
  explicit ofstream(int fd);
  ~ofstream() override;

  void open(const char* name, int mode = ios::out, int prot = filebuf::openprot) {
    fstreambase::open(name, mode | ios::out, prot);
  }
  filebuf* rdbuf() const { return fstreambase::rdbuf(); }
};

// Reads and writes a file with the mode as given.
class KELFSTREAM_API fstream : public fstreambase, public iostream {
public:
  fstream();
  fstream(const char* name, int mode, int prot = filebuf::openprot);
  explicit fstream(int fd);
  ~fstream() override;

  void open(const char* name, int mode, int prot = filebuf::openprot) { fstreambase::open(name, mode, prot); }
  filebuf* rdbuf() const { return fstreambase::rdbuf(); }
};
