// libFuzzer target: the runtime's extractors against the standard stream on
// the fuzzer's bytes (tests/support/extract.hpp); a difference is a crash,
// and the input that caused it goes to fuzz/corpus/extract_fuzz/.
#include "extract.hpp"

#include <cstdio>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string difference = compareExtractors(data, size);
  if (!difference.empty()) {
    std::fprintf(stderr, "%s\n", difference.c_str());
    std::abort();
  }
  return 0;
}
