// The constructors of iostream.
#include "iostream.hpp"

iostream::iostream(streambuf* buffer) { init(buffer); }

iostream::iostream() = default;

iostream::~iostream() = default;
