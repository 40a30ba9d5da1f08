// ICorpus: the data and the files that every peer reads and writes, made on
// first use inside one temporary folder, so that all peers see the same bytes.
#pragma once

#include <cstddef>
#include <string>
#include <sys/types.h>
#include <vector>

namespace kfbench {

class ICorpus {
public:
  // Everything scales with `mebibytes` (64 for the real run): the byte files
  // are that large, and the counts of numbers and seeks follow.
  static void setUp(const std::string& parentFolder, std::size_t mebibytes);
  // Removes every file made and the folder.
  static void tearDown();
  static ICorpus& get();

  std::size_t bytes() const { return fBytes; }
  std::size_t integerCount() const { return fScale(8'000'000); }
  std::size_t doubleCount() const { return fScale(6'000'000); }
  std::size_t seekCount() const { return fScale(200'000); }

  // Bytes of every value, fBytes of them.
  const std::vector<char>& chars();
  // Integers (small, large, negative) and their text, one per line.
  const std::vector<long long>& integers();
  const std::string& integerText();
  // Doubles of many magnitudes and their text at the default precision (%g).
  const std::vector<double>& doubles();
  const std::string& doubleText();
  // Lines of 0 to 119 printable characters, about fBytes in all.
  const std::string& lineText();
  std::size_t lineCount();
  // 4 KiB-aligned offsets inside the byte file.
  const std::vector<off_t>& seekOffsets();

  // Input files, written in 64 KiB pieces on first use.
  const std::string& charsFile();
  const std::string& integersFile();
  const std::string& linesFile();
  // A copy of the byte file that the read/overwrite walk changes in place.
  const std::string& walkFile();
  // `count` empty files of their own, made on first use.
  const std::vector<std::string>& manyFiles(std::size_t count);
  // Lets the process keep `count` more descriptors open, raising its limit
  // as far as the hard limit allows.
  static void allowDescriptors(std::size_t count);
  // The output file; removed before every timed run.
  const std::string& outputFile() const { return fOutputFile; }

private:
  ICorpus(std::string folder, std::size_t mebibytes);
  std::size_t fScale(std::size_t count) const { return count * fMebibytes / 64; }
  const std::string& file(std::string& path, const char* name, const char* data, std::size_t size);

  std::string fFolder;
  std::size_t fMebibytes;
  std::size_t fBytes;
  std::vector<char> fChars;
  std::vector<long long> fIntegers;
  std::string fIntegerText;
  std::vector<double> fDoubles;
  std::string fDoubleText;
  std::string fLineText;
  std::size_t fLineCount = 0;
  std::vector<off_t> fSeekOffsets;
  std::string fCharsFile, fIntegersFile, fLinesFile, fWalkFile;
  std::string fOutputFile;
  std::vector<std::string> fManyFiles;
};

} // namespace kfbench
