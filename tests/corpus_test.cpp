// Replays the inputs that the fuzz targets kept in fuzz/corpus/<target>/:
// each of them found a fault once, and must find none now.
#include "extract.hpp"
#include "model.hpp"
#include "tempdir.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

std::vector<std::filesystem::path> corpus(const char* target) {
  const std::filesystem::path folder = std::filesystem::path(KEL_CORPUS_DIR) / target;
  std::vector<std::filesystem::path> files;
  for (const auto& entry : std::filesystem::directory_iterator(folder))
    if (entry.is_regular_file())
      files.push_back(entry.path());
  std::sort(files.begin(), files.end());
  return files;
}

std::string contents(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

const std::uint8_t* bytes(const std::string& s) { return reinterpret_cast<const std::uint8_t*>(s.data()); }

TEST(Corpus, ModelRunsAgree) {
  ITempDir dir;
  for (const auto& file : corpus("model_fuzz")) {
    const std::string input = contents(file);
    IByteChoices choices(bytes(input), input.size());
    IModelRun run(dir.path("model"), choices);
    EXPECT_TRUE(run.run(static_cast<long long>(input.size())) && run.finish())
        << file.filename() << ": " << run.failure();
  }
}

TEST(Corpus, ExtractorsAgreeWithTheStandardStream) {
  for (const auto& file : corpus("extract_fuzz")) {
    const std::string input = contents(file);
    EXPECT_EQ(compareExtractors(bytes(input), input.size()), "") << file.filename();
  }
}

} // namespace
