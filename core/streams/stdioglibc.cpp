// glibc's FILE. A stream holds [_IO_read_ptr, _IO_read_end) unread; after an
// ungetc of another byte than the one read last, those pointers walk a backup
// area with the pushed-back bytes, and the rest of the buffer waits in
// [_IO_save_base, _IO_save_end) until the backup is read. The flag that says
// so is not in the installed headers; its value has stayed the same since the
// FILE layout was made public.
#include "stdioseam.hpp"

namespace {

constexpr int kInBackup = 0x100;

std::size_t span(const char* from, const char* to) {
  return from && from < to ? static_cast<std::size_t>(to - from) : 0;
}

} // namespace

const bool kelrt::kStdioCountsHeld = true;

std::size_t kelrt::heldBy(FILE* file) {
  std::size_t held = span(file->_IO_read_ptr, file->_IO_read_end);
  if (file->_flags & kInBackup)
    held += span(file->_IO_save_base, file->_IO_save_end);
  return held;
}

bool kelrt::setDescriptor(FILE* file, int descriptor) {
  file->_fileno = descriptor;
  return true;
}
