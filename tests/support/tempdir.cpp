// Temporary folders and whole-file helpers for tests over real files.
#include "tempdir.hpp"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

[[noreturn]] void fail(const std::string& what, const std::string& path, int error) {
  throw std::runtime_error(what + " of '" + path + "' failed: " + std::strerror(error));
}

} // namespace

ITempDir::ITempDir() {
  const char* base = std::getenv("TMPDIR");
  std::string pattern = std::string(base && *base ? base : "/tmp") + "/kelfile-XXXXXX";
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  if (!::mkdtemp(name.data()))
    fail("mkdtemp", pattern, errno);
  fPath = name.data();
}

ITempDir::~ITempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(fPath, ignored);
}

void writeWholeFile(const std::string& path, const std::string& contents) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(contents.data(), static_cast<std::streamsize>(contents.size()));
  out.close();
  if (!out)
    throw std::runtime_error("writing '" + path + "' failed");
}

void appendTo(const std::string& path, const std::string& contents) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
  const bool whole = fd >= 0 && ::write(fd, contents.data(), contents.size()) == static_cast<ssize_t>(contents.size());
  if (fd >= 0)
    ::close(fd);
  if (!whole)
    throw std::runtime_error("appending to '" + path + "' failed");
}

std::string readWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in)
    throw std::runtime_error("opening '" + path + "' for reading failed");
  std::string contents((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad())
    throw std::runtime_error("reading '" + path + "' failed");
  return contents;
}

bool pathExists(const std::string& path) {
  struct stat status;
  return ::lstat(path.c_str(), &status) == 0;
}

int openDescriptorCount() {
  DIR* folder = ::opendir("/proc/self/fd");
  if (!folder)
    fail("opendir", "/proc/self/fd", errno);
  int count = 0;
  while (const dirent* entry = ::readdir(folder)) {
    if (entry->d_name[0] != '.')
      ++count;
  }
  ::closedir(folder);
  return count - 1; // the listing's own descriptor
}
