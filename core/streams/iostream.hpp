// iostream: a stream that reads and writes through one buffer; the classic
// header that brings in the whole stream runtime.
#pragma once

#include "ios.hpp"
#include "istream.hpp"
#include "ostream.hpp"
#include "streambuf.hpp"
#include "stdstrm.hpp"

class KELRT_API iostream : public istream, public ostream {
public:
  // Reads and writes through `buffer`, which it does not own.
  explicit iostream(streambuf* buffer);
  virtual ~iostream();

protected:
  // For derived streams that attach their buffer with ios::init.
  iostream();

private:
  iostream(const iostream&);
  iostream& operator=(const iostream&);
};
