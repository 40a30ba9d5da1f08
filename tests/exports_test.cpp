// The export check: the dynamic symbol table of the built libkelfile.so holds
// IFileIOStream and the module's entry points and nothing else, and the
// library carries its SONAME and version links; libkelfstream.so exports the
// classic file streams without the buffer under them.
#include "tempdir.hpp"

#include <gtest/gtest.h>

#include <cxxabi.h>
#include <elf.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#ifndef KELFILE_LIBRARY
#error "KELFILE_LIBRARY (the path of the built libkelfile.so) must be defined by the build"
#endif
#ifndef KELFSTREAM_LIBRARY
#error "KELFSTREAM_LIBRARY (the path of the built libkelfstream.so) must be defined by the build"
#endif

namespace {

struct IDynamicSymbol {
  std::string name;      // as linked (mangled)
  std::string demangled; // the C++ name, or the linked name when it is none
  bool defined;
  unsigned char binding;
  Elf64_Half section;
};

// What the dynamic section and the dynamic symbol table of a 64-bit ELF
// shared object say.
struct IDynamicImage {
  std::vector<IDynamicSymbol> symbols;
  std::string soname;
  std::vector<std::string> needed;
};

std::string demangle(const std::string& name) {
  int status = 0;
  std::unique_ptr<char, decltype(&std::free)> text(abi::__cxa_demangle(name.c_str(), nullptr, nullptr, &status),
                                                   &std::free);
  return status == 0 && text ? std::string(text.get()) : name;
}

template <class T>
T readAt(const std::string& image, std::size_t offset) {
  if (offset > image.size() || image.size() - offset < sizeof(T))
    throw std::runtime_error("the ELF file is cut short at offset " + std::to_string(offset));
  T value;
  std::memcpy(&value, image.data() + offset, sizeof(T));
  return value;
}

std::string stringAt(const std::string& image, const Elf64_Shdr& table, std::size_t index) {
  if (index >= table.sh_size)
    throw std::runtime_error("a string index lies outside its table");
  const char* start = image.data() + table.sh_offset + index;
  return std::string(start, ::strnlen(start, table.sh_size - index));
}

IDynamicImage readDynamicImage(const std::string& path) {
  const std::string image = readWholeFile(path);
  const auto header = readAt<Elf64_Ehdr>(image, 0);
  if (std::memcmp(header.e_ident, ELFMAG, SELFMAG) != 0 || header.e_ident[EI_CLASS] != ELFCLASS64)
    throw std::runtime_error(path + " is not a 64-bit ELF file");

  std::vector<Elf64_Shdr> sections;
  for (unsigned i = 0; i < header.e_shnum; ++i)
    sections.push_back(readAt<Elf64_Shdr>(image, header.e_shoff + std::size_t{i} * header.e_shentsize));
  auto linkedStrings = [&sections](const Elf64_Shdr& section) -> const Elf64_Shdr& {
    if (section.sh_link >= sections.size())
      throw std::runtime_error("a section links to a missing string table");
    return sections[section.sh_link];
  };

  IDynamicImage result;
  for (const Elf64_Shdr& section : sections) {
    if (section.sh_type == SHT_DYNSYM) {
      const Elf64_Shdr& strings = linkedStrings(section);
      // Entry 0 is the reserved null symbol.
      for (std::size_t i = 1; i < section.sh_size / sizeof(Elf64_Sym); ++i) {
        const auto symbol = readAt<Elf64_Sym>(image, section.sh_offset + i * sizeof(Elf64_Sym));
        const std::string name = stringAt(image, strings, symbol.st_name);
        result.symbols.push_back({name, demangle(name), symbol.st_shndx != SHN_UNDEF,
                                  static_cast<unsigned char>(ELF64_ST_BIND(symbol.st_info)), symbol.st_shndx});
      }
    } else if (section.sh_type == SHT_DYNAMIC) {
      const Elf64_Shdr& strings = linkedStrings(section);
      for (std::size_t i = 0; i < section.sh_size / sizeof(Elf64_Dyn); ++i) {
        const auto entry = readAt<Elf64_Dyn>(image, section.sh_offset + i * sizeof(Elf64_Dyn));
        if (entry.d_tag == DT_SONAME)
          result.soname = stringAt(image, strings, entry.d_un.d_val);
        else if (entry.d_tag == DT_NEEDED)
          result.needed.push_back(stringAt(image, strings, entry.d_un.d_val));
      }
    }
  }
  return result;
}

const IDynamicImage& library() {
  static const IDynamicImage image = readDynamicImage(KELFILE_LIBRARY);
  return image;
}

bool startsWith(const std::string& text, const std::string& prefix) { return text.rfind(prefix, 0) == 0; }

bool endsWith(const std::string& text, const std::string& suffix) {
  return text.size() >= suffix.size() && text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

// Whether the library may export `symbol`: the module's entry points, the
// version node, and what the compiler makes for IFileIOStream.
bool expected(const IDynamicSymbol& symbol) {
  const std::string& name = symbol.demangled;
  if (name == "_DLL_InitTerm" || name == "_DLL_QueryOrdinal" || name == "_DLL_QueryStreamSize")
    return true;
  if (name == "KELFILE_1" && symbol.section == SHN_ABS)
    return true;
  for (const char* exact :
       {"vtable for IFileIOStream", "VTT for IFileIOStream", "typeinfo for IFileIOStream",
        "typeinfo name for IFileIOStream"})
    if (name == exact)
      return true;
  for (const char* prefix : {"IFileIOStream::", "virtual thunk to IFileIOStream::",
                             "non-virtual thunk to IFileIOStream::"})
    if (startsWith(name, prefix))
      return true;
  return startsWith(name, "construction vtable for ") && endsWith(name, "-in-IFileIOStream");
}

bool defines(const std::string& demangled) {
  for (const IDynamicSymbol& symbol : library().symbols)
    if (symbol.defined && symbol.demangled == demangled)
      return true;
  return false;
}

TEST(IKelfileExports, NothingUnexpectedIsExported) {
  std::string unexpected;
  for (const IDynamicSymbol& symbol : library().symbols)
    if (symbol.defined && symbol.binding != STB_LOCAL && !expected(symbol))
      unexpected += "\n  " + symbol.demangled + "  [" + symbol.name + "]";
  EXPECT_TRUE(unexpected.empty()) << KELFILE_LIBRARY << " exports:" << unexpected;
}

TEST(IKelfileExports, NoClassButIFileIOStreamAndNoHelperIsNamed) {
  for (const IDynamicSymbol& symbol : library().symbols) {
    if (!symbol.defined)
      continue;
    for (const char* hidden : {"IFSFileBuf", "IFileIOStreamOrdinals", "IModule", "IInitTerm",
                               "ProcessDetachInProgress", "createFlags", "std::", "__gnu_cxx", "__asan", "__ubsan"})
      EXPECT_EQ(symbol.demangled.find(hidden), std::string::npos) << symbol.demangled;
  }
}

class IRequiredExportTest : public ::testing::TestWithParam<const char*> {};

TEST_P(IRequiredExportTest, IsDefined) { EXPECT_TRUE(defines(GetParam())) << GetParam(); }

INSTANTIATE_TEST_SUITE_P(
    EntryPointsAndClass, IRequiredExportTest,
    ::testing::Values("_DLL_InitTerm", "_DLL_QueryOrdinal", "_DLL_QueryStreamSize", "vtable for IFileIOStream",
                      "VTT for IFileIOStream", "typeinfo for IFileIOStream", "typeinfo name for IFileIOStream",
                      "IFileIOStream::IFileIOStream(IFile const&, int, int)",
                      "IFileIOStream::IFileIOStream(IText const&, int, int, ICompoundNameParser const&)",
                      "IFileIOStream::IFileIOStream(IFileIOStream const&)",
                      "IFileIOStream::operator=(IFileIOStream const&)", "IFileIOStream::~IFileIOStream()",
                      "IFileIOStream::open(IFile const&, int, int)", "IFileIOStream::close()",
                      "IFileIOStream::file() const"));

TEST(IKelfileExports, TheEntryRoutineCallsTheRuntimesStartAndEnd) {
  for (const char* imported : {"_CRT_init", "_CRT_term"}) {
    bool found = false;
    for (const IDynamicSymbol& symbol : library().symbols)
      found = found || (!symbol.defined && symbol.name == imported);
    EXPECT_TRUE(found) << imported << " is not imported";
  }
}

TEST(IKelfileExports, NeedsTheBaseAndRuntimeLibraries) {
  const std::vector<std::string>& needed = library().needed;
  for (const std::string soname : {"libkelbase.so." KELFILE_SOVERSION, "libkelrt.so." KELFILE_SOVERSION})
    EXPECT_NE(std::find(needed.begin(), needed.end(), soname), needed.end()) << soname;
}

TEST(IKelfileExports, CarriesItsSonameAndVersionLinks) {
  namespace fs = std::filesystem;
  const fs::path file(KELFILE_LIBRARY);
  const std::string soname = "libkelfile.so." KELFILE_SOVERSION;
  EXPECT_EQ(library().soname, soname);
  EXPECT_EQ(file.filename().string(), "libkelfile.so." KELFILE_VERSION);

  const fs::path sonameLink = file.parent_path() / soname;
  const fs::path developmentLink = file.parent_path() / "libkelfile.so";
  ASSERT_TRUE(fs::is_symlink(sonameLink)) << sonameLink;
  ASSERT_TRUE(fs::is_symlink(developmentLink)) << developmentLink;
  EXPECT_EQ(fs::read_symlink(sonameLink), file.filename());
  EXPECT_EQ(fs::read_symlink(developmentLink), fs::path(soname));
}

// The classic file streams' library exports them, the filebuf among them,
// and nothing of the file buffer that the filebuf derives from.
TEST(IKelfstreamExports, TheClassicStreamsButNotTheBufferUnderThem) {
  const IDynamicImage image = readDynamicImage(KELFSTREAM_LIBRARY);
  std::vector<std::string> missing{"filebuf::filebuf()", "filebuf::fd() const", "filebuf::underflow()",
                                   "vtable for filebuf", "typeinfo for filebuf", "ifstream::ifstream(int)"};
  for (const IDynamicSymbol& symbol : image.symbols) {
    if (!symbol.defined || symbol.binding == STB_LOCAL)
      continue;
    EXPECT_EQ(symbol.demangled.find("IFSFileBuf"), std::string::npos) << symbol.demangled;
    std::erase(missing, symbol.demangled);
  }
  EXPECT_TRUE(missing.empty()) << KELFSTREAM_LIBRARY << " does not export " << missing.front();
}

} // namespace
