// Translations between the classic stream values and the standard
// library's, for tests that compare the classic streams with std streams.
#pragma once

#include "ios.hpp"

#include <ios>
#include <string>

// The standard format flags with the same meaning as the classic `flags`.
std::ios_base::fmtflags toStdFlags(long flags);
// The classic state bits with the same meaning as the standard `state`.
int fromStdState(std::ios_base::iostate state);
// "hex|showbase|left" and the like, for failure messages.
std::string describeFlags(long flags);
std::string describeState(int state);
// The text with control characters escaped, quoted.
std::string quoted(const std::string& text);
