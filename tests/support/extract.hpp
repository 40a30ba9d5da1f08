// The runtime's extractors against the standard stream on arbitrary bytes,
// for the fuzzer (fuzz/extract_fuzz.cpp) and for the replay of its corpus.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// Reads from `data` the flags, the size of the get areas, a list of
// extractions (numbers of every type, characters, words, lines, ignore, read)
// and the input; runs the list on the runtime's istream, whose get areas are
// allocated to their exact size so that a read past one is caught, and on a
// std::istringstream. Returns what differed (value, state bits, count or the
// unread rest), or an empty text.
std::string compareExtractors(const std::uint8_t* data, std::size_t size);
