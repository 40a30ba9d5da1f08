// The classic name of the file streams' header: filebuf, ifstream, ofstream
// and fstream, with the whole stream runtime of iostream.h.
#pragma once

#include "fstream.hpp"
