// The host's path rules: absolute paths, resolved against the working directory.
#include "icnparse.hpp"

#include "iexcept.hpp"

#include <algorithm>
#include <cerrno>
#include <string>
#include <unistd.h>

namespace {

// A path for a message: an embedded NUL would cut what() short, so it is shown as \0.
std::string printable(const std::string& path) {
  std::string text;
  for (char c : path) {
    if (c == '\0')
      text += "\\0";
    else
      text += c;
  }
  return text;
}

std::string workingDirectory(const std::string& forPath) {
  std::string buffer(256, '\0');
  for (;;) {
    if (::getcwd(buffer.data(), buffer.size())) {
      buffer.resize(buffer.find('\0'));
      return buffer;
    }
    if (errno != ERANGE)
      IThrowSystemError("resolve", forPath, errno, "the working directory cannot be read");
    buffer.assign(buffer.size() * 2, '\0');
  }
}

// Drops empty and "." components. ".." stays: through a symbolic link it does
// not mean the folder before it in the text. A trailing "/" (or "/.") stays
// too, because it asks for a directory.
std::string normalise(const std::string& absolute) {
  // Most paths hold no empty or "." component, and are their own normal form.
  bool normal = true;
  for (std::size_t i = 0; normal && i + 1 < absolute.size(); ++i)
    normal = absolute[i] != '/' || (absolute[i + 1] != '/' &&
                                    (absolute[i + 1] != '.' || (i + 2 < absolute.size() && absolute[i + 2] != '/')));
  if (normal)
    return absolute;
  std::string out = "/";
  bool trailingSlash = false;
  std::size_t start = 0;
  while (start <= absolute.size()) {
    std::size_t stop = absolute.find('/', start);
    if (stop == std::string::npos)
      stop = absolute.size();
    const std::string_view component(absolute.data() + start, stop - start);
    if (component.empty() || component == ".") {
      trailingSlash = true;
    } else {
      if (out.back() != '/')
        out += '/';
      out += component;
      trailingSlash = false;
    }
    start = stop + 1;
  }
  if (trailingSlash && out.back() != '/')
    out += '/';
  return out;
}

// Joins a relative path to the working directory. The ".." components at its
// front step out of the working directory's own text: getcwd() gives the
// folder's real path, with no symbolic link in it, so going up by text is
// going up for real and messages show the path a user would write. A ".."
// after a name of the path stays (see normalise()).
std::string besideWorkingDirectory(std::string folder, const std::string& relative) {
  std::size_t start = 0;
  while (start < relative.size()) {
    std::size_t stop = relative.find('/', start);
    if (stop == std::string::npos)
      stop = relative.size();
    const std::string_view component(relative.data() + start, stop - start);
    if (component == "..") {
      folder.erase(std::max<std::size_t>(folder.rfind('/'), 1));
    } else if (!component.empty() && component != ".") {
      break;
    }
    start = stop + 1;
  }
  return folder + '/' + (start < relative.size() ? relative.substr(start) : std::string());
}

} // namespace

ICompoundNameParser::ICompoundNameParser() = default;
ICompoundNameParser::~ICompoundNameParser() = default;

IText ICompoundNameParser::fullPath(const IText& path) const {
  const std::string& text = path.str();
  if (text.empty())
    throw IInvalidParameter("a file cannot be named by an empty path");
  if (const auto nul = text.find('\0'); nul != std::string::npos)
    throw IInvalidParameter("the path '" + printable(text) + "' holds a NUL character at offset " +
                            std::to_string(nul) + "; a host path cannot contain one");
  if (text.front() == '/')
    return IText(normalise(text));
  return IText(normalise(besideWorkingDirectory(workingDirectory(text), text)));
}
