// The ordinal table of libkelfile.so: 34 entries numbered from 1, reached by
// number through _DLL_QueryOrdinal, which gives an entry's address, or null
// for an empty entry and for a number outside 1 to 34.
//
//   ordinal  entry                                                  form
//   1        type information of IFileIOStream                      const std::type_info*
//   2        the name in that type information                      const char*
//   3        IFileIOStream(const IText&, int, int,
//                          const ICompoundNameParser&)              IFileIOStreamPathConstructor
//   7        IFileIOStream(const IFileIOStream&), private           IFileIOStreamCopyConstructor
//   8        IFileIOStream::open(const IFile&, int, int)            IFileIOStreamOpen
//   11       ~IFileIOStream() entered through the ios base          IFileIOStreamIosDestructor
//   14       IFileIOStream::close()                                 IFileIOStreamClose
//   17       IFileIOStream(const IFile&, int, int)                  IFileIOStreamFileConstructor
//   19       IFileIOStream::operator=(const IFileIOStream&),
//            private                                                IFileIOStreamAssignment
//   22       ~IFileIOStream()                                       IFileIOStreamDestructor
//   23       IFileIOStream::file() const                            IFileIOStreamFile
//   31       type information of IFile (from libkelbase.so)         const std::type_info*
//   32       type information of IFileSystemEntity                  const std::type_info*
//   33       type information of IDirectory                         const std::type_info*
//   34       type information of IVolume                            const std::type_info*
//   4-6, 9, 10, 12, 13, 15, 16, 18, 20, 21, 24-30: empty. They stand for the
//   compiler's other tables for the class (virtual tables, construction
//   virtual tables, the table of virtual tables), which C++ cannot name; the
//   library exports those by their symbol names instead.
//
// The function entries are plain functions over pointers and ints, so a
// caller needs no member pointer. Storage for a stream holds
// _DLL_QueryStreamSize() bytes, aligned as malloc and operator new align; the
// constructors build the stream in it and the destructors leave it to the
// caller. Failures are thrown as the class throws them (IException and its
// subclasses), so callers are C++ code; after a failed constructor the storage
// holds no stream.
#pragma once

#include "ifilestr.hpp"
#include "kfexport.hpp"

// Ordinal numbers of the entries above.
enum EFileIOStreamOrdinal : unsigned long {
  kOrdinalBase = 1,
  kOrdinalCount = 34,
  kOrdinalTypeInfo = 1,
  kOrdinalTypeName = 2,
  kOrdinalPathConstructor = 3,
  kOrdinalCopyConstructor = 7,
  kOrdinalOpen = 8,
  kOrdinalIosDestructor = 11,
  kOrdinalClose = 14,
  kOrdinalFileConstructor = 17,
  kOrdinalAssignment = 19,
  kOrdinalDestructor = 22,
  kOrdinalFile = 23,
  kOrdinalIFileType = 31,
  kOrdinalIFileSystemEntityType = 32,
  kOrdinalIDirectoryType = 33,
  kOrdinalIVolumeType = 34
};

// 3: builds a stream on the file at `path` in `storage`; a null `parser`
// means the host's parser.
typedef void (*IFileIOStreamPathConstructor)(void* storage, const IText* path, int myMode, int otherMode,
                                             const ICompoundNameParser* parser);
// 7: builds in `storage` what the private copy constructor builds: a stream
// with no buffer, whatever `other` holds.
typedef void (*IFileIOStreamCopyConstructor)(void* storage, const IFileIOStream* other);
// 8: opens `file` on the closed `stream`.
typedef void (*IFileIOStreamOpen)(IFileIOStream* stream, const IFile* file, int myMode, int otherMode);
// 11: finds the whole IFileIOStream (or object derived from it) that `base`
// is part of and destroys it; a `base` of anything else is a broken
// precondition (IAssertionFailure) and nothing is destroyed.
typedef void (*IFileIOStreamIosDestructor)(ios* base);
// 14: writes pending output and closes the file.
typedef void (*IFileIOStreamClose)(IFileIOStream* stream);
// 17: builds a stream on `file` in `storage`.
typedef void (*IFileIOStreamFileConstructor)(void* storage, const IFile* file, int modeForMe, int modeForOthers);
// 19: the private assignment, which changes nothing; returns `stream`.
typedef IFileIOStream* (*IFileIOStreamAssignment)(IFileIOStream* stream, const IFileIOStream* other);
// 22: destroys `stream` (closing its file, dropping a failure of the close).
typedef void (*IFileIOStreamDestructor)(IFileIOStream* stream);
// 23: stores a copy of the stream's file in `result`.
typedef void (*IFileIOStreamFile)(const IFileIOStream* stream, IFile* result);

extern "C" {
// The entry at `ordinal`, or null.
KELFILE_API void* _DLL_QueryOrdinal(unsigned long ordinal);
// The bytes of storage that a constructor entry needs: sizeof(IFileIOStream).
KELFILE_API unsigned long _DLL_QueryStreamSize();
}
