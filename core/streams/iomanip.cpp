// The manipulators with an argument.
#include "iomanip.hpp"

namespace {

ios& applyWidth(ios& s, long n) {
  s.width(static_cast<int>(n));
  return s;
}

ios& applyFill(ios& s, long c) {
  s.fill(static_cast<char>(c));
  return s;
}

ios& applyPrecision(ios& s, long n) {
  s.precision(static_cast<int>(n));
  return s;
}

ios& applyBase(ios& s, long base) {
  long bits = base == 8 ? ios::oct : base == 10 ? ios::dec : base == 16 ? ios::hex : 0;
  s.setf(bits, ios::basefield);
  return s;
}

ios& applySetFlags(ios& s, long bits) {
  s.setf(bits);
  return s;
}

ios& applyResetFlags(ios& s, long bits) {
  s.setf(0, bits);
  return s;
}

} // namespace

ostream& operator<<(ostream& s, const IManipulator& m) {
  m(s);
  return s;
}

istream& operator>>(istream& s, const IManipulator& m) {
  m(s);
  return s;
}

IManipulator setw(int width) { return IManipulator(applyWidth, width); }

IManipulator setfill(int c) { return IManipulator(applyFill, c); }

IManipulator setprecision(int digits) { return IManipulator(applyPrecision, digits); }

IManipulator setbase(int base) { return IManipulator(applyBase, base); }

IManipulator setiosflags(long bits) { return IManipulator(applySetFlags, bits); }

IManipulator resetiosflags(long bits) { return IManipulator(applyResetFlags, bits); }
