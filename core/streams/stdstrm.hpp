// The standard streams of the classic runtime: cin reads descriptor 0, cout
// writes descriptor 1, cerr and clog write descriptor 2.
//
//   cout << "how many? ";   // no flush needed: reading cin flushes cout first
//   int n;
//   cin >> n;
//   cerr << "bad input\n";  // written at once: cerr flushes after every insertion
//
// They are ready before any static object of a program that uses them is
// constructed, and they stay usable to the end. cin is tied to cout; cerr is
// unit-buffered. By default they are in step with C stdio: cout, cerr and clog
// write through stdout and stderr, so printf, puts and cout appear in program
// order, and cin and stdin read one sequence of bytes, each byte once, in
// order, whether through >>, get, scanf, getchar, fgets or gets.
// ios::sync_with_stdio(false) gives them buffers of their own (faster):
// cout and clog then write when their 4096-byte area is full, on flush or
// endl, and at exit (or when libkelrt.so is unloaded), and mixing them with
// printf needs a flush in between. cin goes on reading through stdin while
// either holds bytes unread (IStdinBuf::release). A failed read ends the input (eofbit and
// failbit); a failed write sets badbit. Nothing is thrown. Not safe to use
// from two threads at once.
#pragma once

#include "istream.hpp"
#include "krexport.hpp"
#include "ostream.hpp"

// Declared in a namespace so that the linker sees mangled names: a global
// symbol "clog" would collide with the C library's complex logarithm.
namespace kelrt {
extern KELRT_API istream& cin;
extern KELRT_API ostream& cout;
extern KELRT_API ostream& cerr;
extern KELRT_API ostream& clog;
} // namespace kelrt

using kelrt::cin;
using kelrt::cout;
using kelrt::cerr;
using kelrt::clog;
