// libFuzzer target: the fuzzer's input chooses the operations of a model run
// (tests/support/model.hpp) on a real file; a difference from the model is a
// crash, and the input that caused it goes to fuzz/corpus/model_fuzz/.
//
// KELFILE_MODEL_WITHOUT=unget,negative-seek leaves out operations whose
// faults are known.
#include "model.hpp"
#include "tempdir.hpp"

#include <cstdio>
#include <cstdlib>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static ITempDir dir;
  static const IModelOptions options = [] {
    IModelOptions o;
    const char* without = std::getenv("KELFILE_MODEL_WITHOUT");
    o.fUnget = !without || !std::strstr(without, "unget");
    o.fSeekBeforeStart = !without || !std::strstr(without, "negative-seek");
    return o;
  }();
  IByteChoices choices(data, size);
  IModelRun run(dir.path("model"), choices, options);
  if (!run.run(size) || !run.finish()) {
    std::fprintf(stderr, "%s\n", run.failure().c_str());
    std::abort();
  }
  return 0;
}
