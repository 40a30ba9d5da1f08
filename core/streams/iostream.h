// The classic name of the stream runtime's header: the streams, their
// buffers and the standard streams cin, cout, cerr and clog.
#pragma once

#include "iostream.hpp"
