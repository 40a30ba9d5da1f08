// IHostFileStream: the byte stream over a file that it opened by its path.
//
// The stream owns its descriptor and keeps the path only so that its errors
// can name it. On a regular file it keeps the sharing rules of its open
// (hostshar.hpp) until it is closed or deleted; devices, pipes and sockets are
// shared as the system shares them. Its transfers are those of every
// descriptor's stream (hostio.hpp).
#pragma once

#include "hostio.hpp"
#include "hostshar.hpp"

#include <memory>
#include <string>

namespace kelhost {

class IHostFileStream final : public IDescriptorStream {
public:
  // Opens `path` (which must exist) for the ios::open_mode bits `myMode`: it
  // reads for in and writes for out, app or trunc (IInvalidParameter for a
  // mode that asks for neither), and grants others what `otherMode` holds of
  // ios::in and ios::out. The file is opened once, as open(2) would open it
  // for that access, and a directory is refused with EISDIR. On a regular
  // file the open then claims its sharing rules, a conflict being an
  // IAccessError (EBUSY, "sharing violation"); only once that claim holds
  // does trunc cut the file, so an open refused for any reason changes no
  // byte. On other files trunc does nothing, as O_TRUNC does there. ate
  // places the stream at the end once; app opens with O_APPEND, so that every
  // write lands at the end as it is at that moment, and starts at the end
  // too. A failed open leaves no descriptor and no lock behind.
  static std::unique_ptr<IHostFileStream> open(std::shared_ptr<const std::string> path, int myMode, int otherMode);
  // The same with `extraFlags` (O_CREAT, O_EXCL) added to the open(2), whose
  // new files get `permissions` less the umask; when open(2) itself fails,
  // null, with its errno in `error`, and nothing done. Any later failure
  // throws as open does.
  static std::unique_ptr<IHostFileStream> tryOpen(std::shared_ptr<const std::string> path, int myMode, int otherMode,
                                                  int extraFlags, int permissions, int& error);
  using IDescriptorStream::sharePath;

  // Lifts the sharing rules, closes a descriptor that is still open and
  // ignores any failure.
  ~IHostFileStream() override;

  // Lifts the sharing rules and releases the descriptor; a failing close(2)
  // is reported once, the descriptor is gone anyway and close(2) is never
  // retried. When lifting the rules fails, that is reported first; closing
  // the descriptor lifts them all the same.
  void close() override;

private:
  explicit IHostFileStream(std::shared_ptr<const std::string> path) : IDescriptorStream(std::move(path)) {}
  // After open(2): refuses a directory, claims the sharing rules, cuts for trunc, places the stream.
  void settle(IAccess access, int myMode, int otherMode);

  kelhost::IHostSharing fSharing; // the markers held on the descriptor; none on a file that is not regular
};

} // namespace kelhost
