// The classic name of the header of the manipulators with an argument
// (setw, setfill, setprecision, setbase, setiosflags, resetiosflags).
#pragma once

#include "iomanip.hpp"
