#include "files.hpp"

#include <algorithm>
#include <fcntl.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace kfbench {

void throwSystemError(const char* operation, const std::string& path, int error) {
  throw std::system_error(error, std::generic_category(), std::string(operation) + " of '" + path + "' failed");
}

std::size_t readAt(const IDescriptor& file, void* buffer, std::size_t count, off_t offset, const std::string& path) {
  const ssize_t got = retried([&] { return ::pread(file.get(), buffer, count, offset); });
  if (got < 0)
    throwSystemError("pread", path, errno);
  return static_cast<std::size_t>(got);
}

void writeFileInPieces(const std::string& path, const char* data, std::size_t count) {
  // One huge write(2) leaves the file in large page-cache folios, and later
  // small writes into it run several times slower: write as a program would.
  constexpr std::size_t kPiece = 64 * 1024;
  IDescriptor file = IPosix::open(path, O_WRONLY | O_CREAT | O_TRUNC);
  for (std::size_t done = 0; done < count; done += kPiece)
    IPosix::writeAll(file.get(), data + done, std::min(kPiece, count - done), path);
  if (retried([&] { return ::fdatasync(file.get()); }) != 0)
    throwSystemError("fdatasync", path, errno);
  file.close(path);
}

std::string readWholeFile(const std::string& path) {
  IDescriptor file = IPosix::open(path, O_RDONLY);
  std::string text(static_cast<std::size_t>(IPosix::status(file.get(), path).st_size), '\0');
  std::size_t done = 0;
  while (done < text.size()) {
    const std::size_t got = IPosix::readSome(file.get(), text.data() + done, text.size() - done, path);
    if (got == 0)
      break;
    done += got;
  }
  text.resize(done);
  file.close(path);
  return text;
}

void removeFile(const std::string& path) {
  if (retried([&] { return ::unlink(path.c_str()); }) != 0 && errno != ENOENT)
    throwSystemError("unlink", path, errno);
}

IMovedDescriptor::IMovedDescriptor(int target, const std::string& path, int flags)
    : fTarget(target), fSaved(retried([target] { return ::fcntl(target, F_DUPFD_CLOEXEC, 0); })) {
  if (!fSaved.isOpen())
    throwSystemError("dup", path, errno);
  IDescriptor file = IPosix::open(path, flags, 0644);
  if (retried([&] { return ::dup2(file.get(), target); }) < 0)
    throwSystemError("dup2", path, errno);
  file.close(path);
}

IMovedDescriptor::~IMovedDescriptor() {
  // Nothing to report from a destructor: the next run's own checks see a descriptor left wrong.
  retried([this] { return ::dup2(fSaved.get(), fTarget); });
}

} // namespace kfbench
