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
// unit-buffered; cout and clog write when their 4096-byte area is full, on
// flush or endl, and at exit (or when libkelrt.so is unloaded), after which
// whatever they are still given is written at once. A failed read ends the
// input (eofbit and failbit); a failed write drops the bytes and sets badbit.
// Nothing is thrown. Their buffers are not shared with C's stdio: mixing
// printf and cout on one descriptor needs a flush in between. Not safe to use
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
