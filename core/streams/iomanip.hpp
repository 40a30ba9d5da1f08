// Manipulators with an argument: setw, setfill, setprecision, setbase,
// setiosflags and resetiosflags, for both << and >>.
//
//   out << setw(6) << setfill('0') << 42;   // "000042"
//
// Each sets what its ios member function sets (width, fill, precision,
// setf, unsetf) when it meets the stream; setw, like width, lasts for the
// next field only.
#pragma once

#include "iostream.hpp"

// A format change waiting for the stream it is applied to.
class KELRT_API IManipulator {
public:
  IManipulator(ios& (*apply)(ios&, long), long argument) : fApply(apply), fArgument(argument) {}
  ios& operator()(ios& s) const { return fApply(s, fArgument); }

private:
  ios& (*fApply)(ios&, long);
  long fArgument;
};

KELRT_API ostream& operator<<(ostream& s, const IManipulator& m);
KELRT_API istream& operator>>(istream& s, const IManipulator& m);

KELRT_API IManipulator setw(int width);
KELRT_API IManipulator setfill(int c);
KELRT_API IManipulator setprecision(int digits);
// 8, 10 or 16; any other base clears the base flags (the classic default).
KELRT_API IManipulator setbase(int base);
KELRT_API IManipulator setiosflags(long bits);
KELRT_API IManipulator resetiosflags(long bits);
