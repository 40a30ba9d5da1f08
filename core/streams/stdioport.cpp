// Any C library: a FILE is opaque, so nothing is counted or set here.
#include "stdioseam.hpp"

const bool kelrt::kStdioCountsHeld = false;

std::size_t kelrt::heldBy(FILE*) { return 0; }

bool kelrt::setDescriptor(FILE*, int) { return false; }
