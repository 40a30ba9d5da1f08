// ICompoundNameParser: the host's rules for path names.
//
// The path constructors of IFile and IFileIOStream take one, defaulted, to
// make the path they are given absolute; pass a subclass to resolve names
// another way.
#pragma once

#include "itext.hpp"

class KELBASE_API ICompoundNameParser {
public:
  ICompoundNameParser();
  virtual ~ICompoundNameParser();

  // The absolute form of `path`: a relative path is resolved against the
  // working directory at the time of the call. Throws IInvalidParameter for an
  // empty path or one with an embedded NUL, IAccessError when the working
  // directory cannot be read.
  virtual IText fullPath(const IText& path) const;
};
