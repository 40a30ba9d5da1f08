// Loading and unloading the real libkelfile.so: the load runs the attach
// steps, the unload the detach steps, and the ordinal table works through
// dlsym. This program links libkelbase.so and libkelrt.so, not libkelfile.
#include "iexcept.hpp"
#include "ordinals.hpp"
#include "tempdir.hpp"

#include <gtest/gtest.h>

#include <dlfcn.h>

#include <cstddef>
#include <cstdlib>
#include <memory>
#include <new>
#include <string>
#include <typeinfo>

#ifndef KELFILE_LIBRARY
#error "KELFILE_LIBRARY (the path of the built libkelfile.so) must be defined by the build"
#endif

namespace {

int runtimeStarts = 0;
int runtimeEnds = 0;

template <class TPointer>
TPointer nextDefinition(const char* name) {
  void* address = ::dlsym(RTLD_NEXT, name);
  if (!address)
    std::abort();
  return reinterpret_cast<TPointer>(address);
}

} // namespace

// Exported from this program, so they come before the runtime's own in the
// lookup of every library it loads: counted, then passed on.
extern "C" __attribute__((visibility("default"))) int _CRT_init() {
  ++runtimeStarts;
  return nextDefinition<int (*)()>("_CRT_init")();
}

extern "C" __attribute__((visibility("default"))) void _CRT_term() {
  ++runtimeEnds;
  nextDefinition<void (*)()>("_CRT_term")();
}

namespace {

bool isLoaded() {
  void* handle = ::dlopen(KELFILE_LIBRARY, RTLD_NOW | RTLD_NOLOAD);
  if (handle)
    ::dlclose(handle);
  return handle != nullptr;
}

// The loaded library, unloaded at the end of its scope (or earlier, by unload).
class ILoadedLibrary {
public:
  ILoadedLibrary() : fHandle(::dlopen(KELFILE_LIBRARY, RTLD_NOW | RTLD_LOCAL)) {
    if (!fHandle)
      ADD_FAILURE() << "dlopen: " << ::dlerror();
  }
  ~ILoadedLibrary() { unload(); }
  ILoadedLibrary(const ILoadedLibrary&) = delete;
  ILoadedLibrary& operator=(const ILoadedLibrary&) = delete;

  void* symbol(const char* name) const { return fHandle ? ::dlsym(fHandle, name) : nullptr; }
  void unload() {
    if (fHandle && ::dlclose(fHandle) != 0)
      ADD_FAILURE() << "dlclose: " << ::dlerror();
    fHandle = nullptr;
  }

private:
  void* fHandle;
};

TEST(IModuleLoad, LoadAttachesAndUnloadDetaches) {
  ASSERT_FALSE(isLoaded());
  const int starts = runtimeStarts;
  const int ends = runtimeEnds;

  ILoadedLibrary library;
  EXPECT_TRUE(isLoaded());
  EXPECT_EQ(runtimeStarts, starts + 1);
  EXPECT_EQ(runtimeEnds, ends);

  library.unload();
  EXPECT_FALSE(isLoaded()) << "the unload left the library in the process";
  EXPECT_EQ(runtimeStarts, starts + 1);
  EXPECT_EQ(runtimeEnds, ends + 1);
}

TEST(IModuleLoad, HelpersAreNotReachableByName) {
  ILoadedLibrary library;
  ASSERT_NE(library.symbol("_DLL_InitTerm"), nullptr);
  EXPECT_EQ(library.symbol("__IInitTerm"), nullptr);
  EXPECT_EQ(library.symbol("_setProcessDetachInProgress"), nullptr);
  EXPECT_EQ(library.symbol("_ZN10IFSFileBuf5closeEv"), nullptr); // IFSFileBuf::close()
}

TEST(IModuleLoad, OrdinalEntriesWorkInTheLoadedLibrary) {
  ILoadedLibrary library;
  auto query = reinterpret_cast<void* (*)(unsigned long)>(library.symbol("_DLL_QueryOrdinal"));
  auto size = reinterpret_cast<unsigned long (*)()>(library.symbol("_DLL_QueryStreamSize"));
  ASSERT_NE(query, nullptr);
  ASSERT_NE(size, nullptr);
  EXPECT_EQ(query(0), nullptr);
  EXPECT_EQ(query(35), nullptr);
  EXPECT_EQ(query(kOrdinalIFileType), &typeid(IFile));
  EXPECT_EQ(query(kOrdinalIVolumeType), &typeid(IVolume));
  EXPECT_STREQ(static_cast<const std::type_info*>(query(kOrdinalTypeInfo))->name(),
               static_cast<const char*>(query(kOrdinalTypeName)));

  ITempDir folder;
  const std::string path = folder.path("loaded.txt");
  const IFile file(path, IFileSystemEntity::kCreateIfNeeded);
  auto block = std::make_unique<std::max_align_t[]>((size() + sizeof(std::max_align_t) - 1) / sizeof(std::max_align_t));
  reinterpret_cast<IFileIOStreamFileConstructor>(query(kOrdinalFileConstructor))(block.get(), &file,
                                                                                 ios::in | ios::out, 0);
  IFileIOStream* stream = std::launder(reinterpret_cast<IFileIOStream*>(block.get()));
  *stream << "through the table " << 34 << '\n';
  reinterpret_cast<IFileIOStreamClose>(query(kOrdinalClose))(stream);
  reinterpret_cast<IFileIOStreamDestructor>(query(kOrdinalDestructor))(stream);
  EXPECT_EQ(readWholeFile(path), "through the table 34\n");
}

} // namespace
