// The ordinal table and the functions behind its callable entries.
#include "ordinals.hpp"

#include "iexcept.hpp"

#include <array>
#include <cstddef>
#include <new>
#include <typeinfo>

static_assert(alignof(IFileIOStream) <= alignof(std::max_align_t),
              "storage from malloc or operator new must be able to hold a stream");

// The callable entries: what C++ cannot take the address of (constructors,
// destructors) or may not reach from outside (the private copy operations).
class IFileIOStreamOrdinals {
public:
  static void constructFromPath(void* storage, const IText* path, int myMode, int otherMode,
                                const ICompoundNameParser* parser) {
    if (parser)
      ::new (storage) IFileIOStream(*path, myMode, otherMode, *parser);
    else
      ::new (storage) IFileIOStream(*path, myMode, otherMode);
  }

  static void constructFromFile(void* storage, const IFile* file, int modeForMe, int modeForOthers) {
    ::new (storage) IFileIOStream(*file, modeForMe, modeForOthers);
  }

  static void copyConstruct(void* storage, const IFileIOStream* other) { ::new (storage) IFileIOStream(*other); }

  static IFileIOStream* assign(IFileIOStream* stream, const IFileIOStream* other) { return &(*stream = *other); }

  static void destroy(IFileIOStream* stream) { stream->~IFileIOStream(); }

  static void destroyThroughIos(ios* base) {
    IFileIOStream* whole = dynamic_cast<IFileIOStream*>(base);
    if (!whole)
      IExcept__assertState("dynamic_cast<IFileIOStream*>(base) != nullptr",
                           IExceptionLocation("ordinals", __PRETTY_FUNCTION__, __LINE__));
    // Virtual: a class derived from IFileIOStream is destroyed whole too.
    whole->~IFileIOStream();
  }

  static void open(IFileIOStream* stream, const IFile* file, int myMode, int otherMode) {
    stream->open(*file, myMode, otherMode);
  }

  static void close(IFileIOStream* stream) { stream->close(); }

  static void file(const IFileIOStream* stream, IFile* result) { *result = stream->file(); }
};

namespace {

using ITable = std::array<void*, kOrdinalCount>;

// The explicit TPointer makes the compiler check each function against the
// form the header documents for its entry.
template <class TPointer>
void* functionEntry(TPointer function) {
  return reinterpret_cast<void*>(function);
}

void* dataEntry(const void* data) { return const_cast<void*>(data); }

ITable makeTable() {
  using O = IFileIOStreamOrdinals;
  ITable table{};
  auto at = [&table](unsigned long ordinal) -> void*& { return table[ordinal - kOrdinalBase]; };
  at(kOrdinalTypeInfo) = dataEntry(&typeid(IFileIOStream));
  at(kOrdinalTypeName) = dataEntry(typeid(IFileIOStream).name());
  at(kOrdinalPathConstructor) = functionEntry<IFileIOStreamPathConstructor>(&O::constructFromPath);
  at(kOrdinalCopyConstructor) = functionEntry<IFileIOStreamCopyConstructor>(&O::copyConstruct);
  at(kOrdinalOpen) = functionEntry<IFileIOStreamOpen>(&O::open);
  at(kOrdinalIosDestructor) = functionEntry<IFileIOStreamIosDestructor>(&O::destroyThroughIos);
  at(kOrdinalClose) = functionEntry<IFileIOStreamClose>(&O::close);
  at(kOrdinalFileConstructor) = functionEntry<IFileIOStreamFileConstructor>(&O::constructFromFile);
  at(kOrdinalAssignment) = functionEntry<IFileIOStreamAssignment>(&O::assign);
  at(kOrdinalDestructor) = functionEntry<IFileIOStreamDestructor>(&O::destroy);
  at(kOrdinalFile) = functionEntry<IFileIOStreamFile>(&O::file);
  at(kOrdinalIFileType) = dataEntry(&typeid(IFile));
  at(kOrdinalIFileSystemEntityType) = dataEntry(&typeid(IFileSystemEntity));
  at(kOrdinalIDirectoryType) = dataEntry(&typeid(IDirectory));
  at(kOrdinalIVolumeType) = dataEntry(&typeid(IVolume));
  return table;
}

} // namespace

extern "C" void* _DLL_QueryOrdinal(unsigned long ordinal) {
  static const ITable table = makeTable();
  if (ordinal < kOrdinalBase || ordinal - kOrdinalBase >= kOrdinalCount)
    return nullptr;
  return table[ordinal - kOrdinalBase];
}

extern "C" unsigned long _DLL_QueryStreamSize() { return sizeof(IFileIOStream); }
