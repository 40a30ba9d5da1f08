// The library boundary: the entry routine's table of reasons and order of
// steps, and the ordinal table with its callable entries on real files.
#include "hooks.hpp"
#include "iexcept.hpp"
#include "initterm.hpp"
#include "ordinals.hpp"
#include "tempdir.hpp"

#include <gtest/gtest.h>

#include <cerrno>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <set>
#include <string>
#include <type_traits>
#include <typeinfo>
#include <vector>

using kelfile::IModule;

namespace {

// ---- The entry routine -------------------------------------------------

// The steps the recording table saw, in order, and what its _CRT_init returns.
std::vector<std::string> stepsSeen;
int runtimeInitResult = 0;

int recordRuntimeInit() {
  stepsSeen.push_back("_CRT_init");
  return runtimeInitResult;
}
void recordRuntimeTerm() { stepsSeen.push_back("_CRT_term"); }
void recordHook(unsigned long flag) { stepsSeen.push_back("__IInitTerm(" + std::to_string(flag) + ")"); }
void recordDetachInProgress() { stepsSeen.push_back("_setProcessDetachInProgress"); }
void recordConstructStatics() { stepsSeen.push_back("construct statics"); }
void recordDestroyStatics() { stepsSeen.push_back("destroy statics"); }

// Puts the recording steps in the entry routine's table and the real ones back.
class IRecordedSteps : public ::testing::Test {
protected:
  void SetUp() override {
    fSaved = IModule::steps();
    IModule::steps() = {&recordRuntimeInit,      &recordRuntimeTerm,      &recordHook,
                        &recordDetachInProgress, &recordConstructStatics, &recordDestroyStatics};
    stepsSeen.clear();
    runtimeInitResult = 0;
  }
  void TearDown() override { IModule::steps() = fSaved; }

private:
  IModule::ISteps fSaved{};
};

// Loaders pass the reason as a 32-bit word and read an int back.
static_assert(std::is_same_v<decltype(&_DLL_InitTerm), int (*)(unsigned long, std::uint32_t, void*)>);

struct IReasonCase {
  const char* name;
  std::uint32_t reason;
  int runtimeInit; // what _CRT_init returns, when it is called
  int rc;
  std::vector<std::string> steps;
};

const std::vector<std::string> kAttachSteps = {"_CRT_init", "__IInitTerm(1)", "construct statics"};
const std::vector<std::string> kDetachSteps = {"_setProcessDetachInProgress", "destroy statics", "__IInitTerm(0)",
                                               "_CRT_term"};

const IReasonCase kReasonCases[] = {
  {"ProcessAttach", 1, 0, 1, kAttachSteps},
  {"ProcessAttachRuntimeFails", 1, -1, 0, kAttachSteps},
  // Only -1 means failure.
  {"ProcessAttachRuntimeSaysOne", 1, 1, 1, kAttachSteps},
  {"ProcessAttachRuntimeSaysMinusTwo", 1, -2, 1, kAttachSteps},
  {"ProcessDetach", 0, 0, 1, kDetachSteps},
  {"ProcessDetachRuntimeWouldFail", 0, -1, 1, kDetachSteps},
  {"ThreadAttach", 2, 0, 1, {"__IInitTerm(2)"}},
  {"ThreadDetach", 3, 0, 1, {"__IInitTerm(3)"}},
  {"ThreadAttachRuntimeWouldFail", 2, -1, 1, {"__IInitTerm(2)"}},
  {"Four", 4, -1, 1, {}},
  {"FortyTwo", 42, 0, 1, {}},
  {"Largest", UINT32_MAX, -1, 1, {}},
  {"HighBitAndOne", 0x80000001U, 0, 1, {}},
};

class IReasonTest : public IRecordedSteps, public ::testing::WithParamInterface<IReasonCase> {};

TEST_P(IReasonTest, TakesTheStepsInOrderAndAnswers) {
  const IReasonCase& c = GetParam();
  runtimeInitResult = c.runtimeInit;
  EXPECT_EQ(_DLL_InitTerm(0, c.reason, nullptr), c.rc);
  EXPECT_EQ(stepsSeen, c.steps);
}

INSTANTIATE_TEST_SUITE_P(Reasons, IReasonTest, ::testing::ValuesIn(kReasonCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(IRecordedSteps, IgnoresTheHandleAndTheReservedPointer) {
  int somewhere = 0;
  EXPECT_EQ(_DLL_InitTerm(0xDEADBEEFUL, kProcessAttach, &somewhere), 1);
  EXPECT_EQ(stepsSeen, kAttachSteps);
  EXPECT_EQ(somewhere, 0);
}

TEST_F(IRecordedSteps, AttachAndDetachOfALoadRunTheProcessSteps) {
  IModule::attach();
  IModule::detach();
  std::vector<std::string> expected = kAttachSteps;
  expected.insert(expected.end(), kDetachSteps.begin(), kDetachSteps.end());
  EXPECT_EQ(stepsSeen, expected);
}

using IRecordedStepsDeathTest = IRecordedSteps;

TEST_F(IRecordedStepsDeathTest, LoadWhoseRuntimeFailsEndsTheProcessAsTheLoaderWould) {
  runtimeInitResult = -1;
  EXPECT_EXIT(IModule::attach(), ::testing::ExitedWithCode(127),
              "libkelfile.so: cannot be loaded: the runtime library \\(_CRT_init\\) could not be set up");
}

TEST(IModuleHooks, ResolveToTheirDoNothingDefaults) {
  EXPECT_EQ(&__IInitTerm, &__IInitTermDefault);
  EXPECT_EQ(&_setProcessDetachInProgress, &_setProcessDetachInProgressDefault);
  // With the real table, the thread reasons reach only the default hook.
  EXPECT_EQ(_DLL_InitTerm(0, kThreadAttach, nullptr), 1);
  EXPECT_EQ(_DLL_InitTerm(0, kThreadDetach, nullptr), 1);
}

// ---- The ordinal table -------------------------------------------------

const std::set<unsigned long> kFilledOrdinals = {1, 2, 3, 7, 8, 11, 14, 17, 19, 22, 23, 31, 32, 33, 34};

class IOrdinalTest : public ::testing::TestWithParam<unsigned long> {};

TEST_P(IOrdinalTest, IsFilledExactlyWhenTheTableSaysSo) {
  const unsigned long ordinal = GetParam();
  EXPECT_EQ(_DLL_QueryOrdinal(ordinal) != nullptr, kFilledOrdinals.count(ordinal) == 1) << "ordinal " << ordinal;
}

// 0 and 35 lie just outside the table; the large ones would wrap a careless
// subtraction of the base.
INSTANTIATE_TEST_SUITE_P(AllAndAround, IOrdinalTest,
                         ::testing::Values(0UL, 1UL, 2UL, 3UL, 4UL, 5UL, 6UL, 7UL, 8UL, 9UL, 10UL, 11UL, 12UL,
                                           13UL, 14UL, 15UL, 16UL, 17UL, 18UL, 19UL, 20UL, 21UL, 22UL, 23UL, 24UL,
                                           25UL, 26UL, 27UL, 28UL, 29UL, 30UL, 31UL, 32UL, 33UL, 34UL, 35UL, 36UL,
                                           0x100000001UL, ULONG_MAX));

TEST(IOrdinalTable, TypeEntriesAreTheClassesTypeInformation) {
  EXPECT_EQ(kOrdinalBase, 1UL);
  EXPECT_EQ(kOrdinalCount, 34UL);
  EXPECT_EQ(_DLL_QueryOrdinal(1), &typeid(IFileIOStream));
  EXPECT_STREQ(static_cast<const char*>(_DLL_QueryOrdinal(2)), typeid(IFileIOStream).name());
  EXPECT_EQ(_DLL_QueryOrdinal(31), &typeid(IFile));
  EXPECT_EQ(_DLL_QueryOrdinal(32), &typeid(IFileSystemEntity));
  EXPECT_EQ(_DLL_QueryOrdinal(33), &typeid(IDirectory));
  EXPECT_EQ(_DLL_QueryOrdinal(34), &typeid(IVolume));
  EXPECT_EQ(_DLL_QueryStreamSize(), sizeof(IFileIOStream));
}

template <class TPointer>
TPointer entry(unsigned long ordinal) {
  void* address = _DLL_QueryOrdinal(ordinal);
  EXPECT_NE(address, nullptr) << "ordinal " << ordinal;
  return reinterpret_cast<TPointer>(address);
}

// Storage for one stream, sized by the library's answer, as a caller of the
// entries allocates it; a stream still in it at the end (a failed test) is
// destroyed through ordinal 22.
class IStreamStorage {
public:
  IStreamStorage()
      : fBlock(std::make_unique<std::max_align_t[]>((_DLL_QueryStreamSize() + sizeof(std::max_align_t) - 1) /
                                                     sizeof(std::max_align_t))) {}
  ~IStreamStorage() {
    if (fLive)
      entry<IFileIOStreamDestructor>(kOrdinalDestructor)(stream());
  }
  IStreamStorage(const IStreamStorage&) = delete;
  IStreamStorage& operator=(const IStreamStorage&) = delete;

  void* place() { return fBlock.get(); }
  IFileIOStream* stream() { return std::launder(reinterpret_cast<IFileIOStream*>(fBlock.get())); }
  // Whether a stream lives in the storage.
  void live(bool state) { fLive = state; }

private:
  std::unique_ptr<std::max_align_t[]> fBlock;
  bool fLive = false;
};

// Resolves relative names inside one folder instead of the working directory.
class IFolderParser : public ICompoundNameParser {
public:
  explicit IFolderParser(std::string folder) : fFolder(std::move(folder)) {}
  IText fullPath(const IText& path) const override {
    ++fCalls;
    return IText(fFolder + '/' + path.str());
  }
  int calls() const { return fCalls; }

private:
  std::string fFolder;
  mutable int fCalls = 0;
};

class IOrdinalStreamTest : public ::testing::Test {
protected:
  void TearDown() override { EXPECT_EQ(openDescriptorCount(), fDescriptors) << "a descriptor leaked"; }

  ITempDir fFolder;
  int fDescriptors = openDescriptorCount();
};

TEST_F(IOrdinalStreamTest, PathStreamWritesClosesReopensAndReads) {
  const std::string path = fFolder.path("scores.txt");
  const IText pathText(path);
  IStreamStorage storage;
  entry<IFileIOStreamPathConstructor>(kOrdinalPathConstructor)(storage.place(), &pathText, ios::in | ios::out, 0,
                                                                nullptr);
  storage.live(true);
  IFileIOStream& stream = *storage.stream();
  stream << "alice " << 42 << '\n';
  entry<IFileIOStreamClose>(kOrdinalClose)(&stream);
  EXPECT_EQ(readWholeFile(path), "alice 42\n");

  const IFile file(path);
  entry<IFileIOStreamOpen>(kOrdinalOpen)(&stream, &file, ios::in, 0);
  std::string name;
  int score = 0;
  stream >> name >> score;
  EXPECT_EQ(name, "alice");
  EXPECT_EQ(score, 42);

  IFile named;
  entry<IFileIOStreamFile>(kOrdinalFile)(&stream, &named);
  EXPECT_EQ(named.path().str(), path);

  entry<IFileIOStreamDestructor>(kOrdinalDestructor)(&stream);
  storage.live(false);
}

TEST_F(IOrdinalStreamTest, PathStreamUsesTheGivenParser) {
  const IFolderParser parser(fFolder.path());
  const IText relative("made.txt");
  IStreamStorage storage;
  entry<IFileIOStreamPathConstructor>(kOrdinalPathConstructor)(storage.place(), &relative, ios::out, 0, &parser);
  storage.live(true);
  EXPECT_EQ(parser.calls(), 1);
  EXPECT_TRUE(pathExists(fFolder.path("made.txt")));
}

TEST_F(IOrdinalStreamTest, FailedConstructionLeavesNoStreamAndPassesTheError) {
  const IText missing(fFolder.path("missing.txt"));
  IStreamStorage storage;
  try {
    entry<IFileIOStreamPathConstructor>(kOrdinalPathConstructor)(storage.place(), &missing, ios::in, 0, nullptr);
    storage.live(true);
    ADD_FAILURE() << "a missing file opened for input";
  } catch (const IAccessError& e) {
    EXPECT_EQ(e.errorId(), ENOENT);
    EXPECT_NE(std::string(e.what()).find(missing.str()), std::string::npos) << e.what();
  }
  EXPECT_FALSE(pathExists(missing.str()));
}

TEST_F(IOrdinalStreamTest, DestructorThroughIosFindsTheWholeStreamAndFlushes) {
  const std::string path = fFolder.path("pending.txt");
  const IFile file(path, IFileSystemEntity::kCreateIfNeeded);
  IStreamStorage storage;
  entry<IFileIOStreamFileConstructor>(kOrdinalFileConstructor)(storage.place(), &file, ios::out, 0);
  storage.live(true);
  *storage.stream() << "still in the buffer";
  EXPECT_EQ(readWholeFile(path), "");

  ios* base = storage.stream();
  entry<IFileIOStreamIosDestructor>(kOrdinalIosDestructor)(base);
  storage.live(false);
  EXPECT_EQ(readWholeFile(path), "still in the buffer");
}

TEST_F(IOrdinalStreamTest, DestructorThroughIosRefusesAnotherStream) {
  istream other(nullptr);
  EXPECT_THROW(entry<IFileIOStreamIosDestructor>(kOrdinalIosDestructor)(&other), IAssertionFailure);
}

TEST_F(IOrdinalStreamTest, PrivateCopyOperationsCopyNothing) {
  const std::string path = fFolder.path("original.txt");
  const IFile file(path, IFileSystemEntity::kCreateIfNeeded);
  IStreamStorage original;
  entry<IFileIOStreamFileConstructor>(kOrdinalFileConstructor)(original.place(), &file, ios::out, 0);
  original.live(true);

  IStreamStorage copy;
  entry<IFileIOStreamCopyConstructor>(kOrdinalCopyConstructor)(copy.place(), original.stream());
  copy.live(true);
  EXPECT_EQ(copy.stream()->rdbuf(), nullptr);

  streambuf* const buffer = original.stream()->rdbuf();
  EXPECT_EQ(entry<IFileIOStreamAssignment>(kOrdinalAssignment)(original.stream(), copy.stream()),
            original.stream());
  EXPECT_EQ(original.stream()->rdbuf(), buffer);

  // The copy has no buffer: using it is a reported broken precondition, not a crash.
  EXPECT_THROW(entry<IFileIOStreamClose>(kOrdinalClose)(copy.stream()), IAssertionFailure);

  // The copy owned nothing: destroying it leaves the original working.
  entry<IFileIOStreamDestructor>(kOrdinalDestructor)(copy.stream());
  copy.live(false);
  *original.stream() << "kept";
  entry<IFileIOStreamClose>(kOrdinalClose)(original.stream());
  EXPECT_EQ(readWholeFile(path), "kept");
}

} // namespace
