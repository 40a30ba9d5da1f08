// The two things the sharing of stdin asks of a C library's FILE, behind one
// seam so that no other file reads a FILE's fields. The build compiles
// stdioglibc.cpp where the configure check finds glibc's fields, and
// stdioport.cpp elsewhere (or when KELFILE_PORTABLE_STDIO asks for it):
// that one counts nothing and IStdinBuf finds what stdio holds by reading it.
#pragma once

#include <cstddef>
#include <cstdio>

namespace kelrt {

// Whether heldBy answers; where it does not, it answers 0.
extern const bool kStdioCountsHeld;

// The bytes `file` holds unread: its buffer and what ungetc pushed back,
// wherever the C library keeps them. Reading that many never reads its
// descriptor.
std::size_t heldBy(FILE* file);

// Makes fileno(file) answer `descriptor`: false where the C library does
// not let it be set, and fileno then answers what it did.
bool setDescriptor(FILE* file, int descriptor);

} // namespace kelrt
