// Test helpers for real files: a temporary folder, whole-file reads and
// writes, and a count of this process's open descriptors.
#pragma once

#include <string>

// A fresh folder under $TMPDIR (or /tmp), removed with everything in it when
// the object goes. Throws std::runtime_error when it cannot be made.
class ITempDir {
public:
  ITempDir();
  ~ITempDir();
  ITempDir(const ITempDir&) = delete;
  ITempDir& operator=(const ITempDir&) = delete;

  // The folder's absolute path, without a trailing slash.
  const std::string& path() const { return fPath; }
  // The absolute path of `name` inside the folder (nothing is made).
  std::string path(const std::string& name) const { return fPath + '/' + name; }

private:
  std::string fPath;
};

// Replaces the file's contents with `contents`, making the file when missing.
// Throws std::runtime_error on failure.
void writeWholeFile(const std::string& path, const std::string& contents);

// Appends `contents` in one write(2) on a descriptor opened with O_APPEND, as
// another program logging to the file would. Throws std::runtime_error on failure.
void appendTo(const std::string& path, const std::string& contents);

// The file's contents. Throws std::runtime_error when it cannot be read.
std::string readWholeFile(const std::string& path);

// Whether anything (file, folder, link) exists at `path`.
bool pathExists(const std::string& path);

// The number of descriptors this process has open (entries of /proc/self/fd,
// not counting the one used to list them). Compare before and after an
// operation to find a leak.
int openDescriptorCount();
