// IFile: finding, creating, replacing and refusing files by path; the name
// parser; the value semantics and the record seam.
#include "iexcept.hpp"
#include "ifilesys.hpp"
#include "tempdir.hpp"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <functional>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using ECreateFlags = IFileSystemEntity::ECreateFlags;

// Runs the test inside `folder` and goes back afterwards.
class IWorkingDirectory {
public:
  explicit IWorkingDirectory(const std::string& folder) : fOld(std::filesystem::current_path()) {
    std::filesystem::current_path(folder);
  }
  ~IWorkingDirectory() { std::filesystem::current_path(fOld); }

private:
  std::filesystem::path fOld;
};

// Sets the umask for a test and restores it.
class IUmask {
public:
  explicit IUmask(mode_t mask) : fOld(::umask(mask)) {}
  ~IUmask() { ::umask(fOld); }

private:
  mode_t fOld;
};

// Expects IFile(path, rule) to throw an IAccessError with `error` whose text
// names the path and contains `words`; no descriptor may stay open.
void expectRefused(const std::string& path, ECreateFlags rule, int error, const std::string& words) {
  const int descriptors = openDescriptorCount();
  try {
    IFile file(path, rule);
    ADD_FAILURE() << "rule " << rule << " accepted '" << path << "'";
  } catch (const IAccessError& e) {
    const std::string text = e.what();
    EXPECT_EQ(e.errorId(), error) << text;
    EXPECT_NE(text.find("'" + path + "' failed: "), std::string::npos) << text;
    EXPECT_NE(text.find(words), std::string::npos) << text;
    EXPECT_NE(text.find(std::strerror(error)), std::string::npos) << text;
  }
  EXPECT_EQ(openDescriptorCount(), descriptors);
}

// --- the four rules -----------------------------------------------------------

struct RuleCase {
  const char* name;
  ECreateFlags rule;
  bool exists;
  int error;            // 0 for success
  const char* contents; // afterwards; null when the file must not exist
};

class IFileRuleTest : public ::testing::TestWithParam<RuleCase> {
protected:
  ITempDir fDir;
};

TEST_P(IFileRuleTest, RuleFindsCreatesReplacesOrRefuses) {
  const RuleCase& c = GetParam();
  const std::string path = fDir.path("file");
  if (c.exists)
    writeWholeFile(path, "old");
  IUmask mask(022);

  if (c.error) {
    expectRefused(path, c.rule, c.error, c.error == ENOENT ? "does not exist" : "exists already");
  } else {
    const int descriptors = openDescriptorCount();
    const IFile file(path, c.rule);
    EXPECT_EQ(file.path(), IText(path));
    EXPECT_EQ(openDescriptorCount(), descriptors);
  }
  if (!c.contents) {
    EXPECT_FALSE(pathExists(path));
    return;
  }
  EXPECT_EQ(readWholeFile(path), c.contents);
  if (!c.exists) {
    struct stat status;
    ASSERT_EQ(::stat(path.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0644u); // 0666 less the umask
  }
}

INSTANTIATE_TEST_SUITE_P(
    Rules, IFileRuleTest,
    ::testing::Values(RuleCase{"mustExistMissing", IFileSystemEntity::kMustExist, false, ENOENT, nullptr},
                      RuleCase{"mustExistPresent", IFileSystemEntity::kMustExist, true, 0, "old"},
                      RuleCase{"createIfNeededMissing", IFileSystemEntity::kCreateIfNeeded, false, 0, ""},
                      RuleCase{"createIfNeededPresent", IFileSystemEntity::kCreateIfNeeded, true, 0, "old"},
                      RuleCase{"createOnlyMissing", IFileSystemEntity::kCreateOnly, false, 0, ""},
                      RuleCase{"createOnlyPresent", IFileSystemEntity::kCreateOnly, true, EEXIST, "old"},
                      RuleCase{"replaceMissing", IFileSystemEntity::kReplaceExisting, false, 0, ""},
                      RuleCase{"replacePresent", IFileSystemEntity::kReplaceExisting, true, 0, "old"}),
    [](const auto& info) { return std::string(info.param.name); });

class IFileEveryRuleTest : public ::testing::TestWithParam<ECreateFlags> {
protected:
  ITempDir fDir;
};

TEST_P(IFileEveryRuleTest, DirectoryIsRefusedAsADirectory) {
  ASSERT_EQ(::mkdir(fDir.path("folder").c_str(), 0755), 0);
  expectRefused(fDir.path("folder"), GetParam(), EISDIR, "is a directory");
}

TEST_P(IFileEveryRuleTest, MissingFolderIsNamed) {
  expectRefused(fDir.path("none/file"), GetParam(), ENOENT, "the folder '" + fDir.path("none") + "' does not exist");
  EXPECT_FALSE(pathExists(fDir.path("none")));
}

TEST_P(IFileEveryRuleTest, FileUsedAsFolderIsRefused) {
  writeWholeFile(fDir.path("plain"), "x");
  expectRefused(fDir.path("plain/file"), GetParam(), ENOTDIR, "not a folder");
}

INSTANTIATE_TEST_SUITE_P(Rules, IFileEveryRuleTest,
                         ::testing::Values(IFileSystemEntity::kMustExist, IFileSystemEntity::kCreateIfNeeded,
                                           IFileSystemEntity::kCreateOnly, IFileSystemEntity::kReplaceExisting));

TEST(IFileTest, ExistingUnreadableFileIsStillFound) {
  ITempDir dir;
  const std::string path = dir.path("locked");
  writeWholeFile(path, "x");
  ASSERT_EQ(::chmod(path.c_str(), 0), 0);
  for (auto rule : {IFileSystemEntity::kMustExist, IFileSystemEntity::kCreateIfNeeded})
    EXPECT_NO_THROW(IFile(path, rule)) << rule;
  ASSERT_EQ(::chmod(path.c_str(), 0600), 0);
  EXPECT_EQ(readWholeFile(path), "x");
}

TEST(IFileTest, UnknownRuleIsRefused) {
  ITempDir dir;
  EXPECT_THROW(IFile(dir.path("x"), static_cast<ECreateFlags>(4)), IInvalidParameter);
  EXPECT_FALSE(pathExists(dir.path("x")));
}

// --- path names -----------------------------------------------------------------

TEST(IFileTest, EmptyPathAndEmbeddedNulAreInvalid) {
  for (auto rule : {IFileSystemEntity::kMustExist, IFileSystemEntity::kCreateIfNeeded}) {
    try {
      IFile file("", rule);
      ADD_FAILURE() << "an empty path was accepted";
    } catch (const IInvalidParameter& e) {
      EXPECT_NE(std::string(e.what()).find("empty path"), std::string::npos) << e.what();
    }
    ITempDir dir;
    const std::string withNul = dir.path("a") + std::string(1, '\0') + "b";
    try {
      IFile file(withNul, rule);
      ADD_FAILURE() << "a path with NUL was accepted";
    } catch (const IInvalidParameter& e) {
      EXPECT_NE(std::string(e.what()).find("NUL"), std::string::npos) << e.what();
      EXPECT_NE(std::string(e.what()).find(dir.path("a") + "\\0b"), std::string::npos) << e.what();
    }
    EXPECT_FALSE(pathExists(dir.path("a")));
  }
}

TEST(IFileTest, RelativePathIsResolvedAgainstWorkingDirectoryWhenMade) {
  ITempDir dir;
  ASSERT_EQ(::mkdir(dir.path("sub").c_str(), 0755), 0);
  IFile file;
  {
    IWorkingDirectory here(dir.path());
    file = IFile("./sub//new.txt", IFileSystemEntity::kCreateIfNeeded);
  }
  EXPECT_EQ(file.path(), IText(dir.path("sub/new.txt")));
  EXPECT_TRUE(pathExists(dir.path("sub/new.txt")));
  EXPECT_EQ(file.path(), IFile(dir.path("sub/new.txt")).path()); // still found from elsewhere
}

TEST(ICompoundNameParserTest, FullPathIsNormalisedWhereTheTextSaysExactly) {
  const ICompoundNameParser parser;
  const std::pair<const char*, const char*> cases[] = {
      {"/", "/"},           {"/a/b", "/a/b"},       {"//a///b", "/a/b"},   {"/a/./b/.", "/a/b/"},
      {"/a/b/", "/a/b/"},   {"/a/../b", "/a/../b"}, {"/./", "/"},          {"/a/.", "/a/"},
      {"/.a/b./..c", "/.a/b./..c"}};
  for (const auto& [in, out] : cases)
    EXPECT_EQ(parser.fullPath(in), IText(out)) << in;

  ITempDir dir;
  IWorkingDirectory here(dir.path());
  EXPECT_EQ(parser.fullPath("x"), IText(dir.path("x")));
  // Leading ".." steps out of the working directory, which holds no link; a
  // later one stays.
  const std::string parent = dir.path().substr(0, dir.path().rfind('/'));
  const std::pair<std::string, std::string> relative[] = {
      {"../x", parent + "/x"},
      {"./../" + dir.path().substr(parent.size() + 1) + "/x", dir.path("x")},
      {"..", parent + "/"},
      {"../..//x/", parent.substr(0, parent.rfind('/')) + "/x/"},
      {"sub/../x", dir.path("sub/../x")},
      {"../../../../../../../../../../../../x", "/x"}};
  for (const auto& [in, out] : relative)
    EXPECT_EQ(parser.fullPath(IText(in)), IText(out)) << in;
}

// --- value semantics and the record seam --------------------------------------

// A record that makes no streams; enough to name something.
class IFakeFileRecord : public IFSFileRecord {
public:
  IText path() const override { return "/fake"; }
  IFSFileStream* createStream(int, int) const override { return nullptr; }
};

class IFakeFolderRecord : public IFSRecord {
public:
  IText path() const override { return "/fake-folder"; }
};

// An entity naming a record that is not a file.
class IFakeFolder : public IFileSystemEntity {
public:
  IFakeFolder() : IFileSystemEntity(std::make_shared<IFakeFolderRecord>()) {}
};

TEST(IFileTest, DefaultFileNamesNothing) {
  const IFile file;
  EXPECT_FALSE(file.isValid());
  const std::function<void()> uses[] = {[&] { file.getRecord(); }, [&] { file.assertValid(); },
                                        [&] { file.path(); },
                                        [&] { static_cast<const IFileSystemEntity&>(file).getRecord(); }};
  for (const auto& use : uses) {
    try {
      use();
      ADD_FAILURE() << "an empty file object was used";
    } catch (const IInvalidRequest& e) {
      EXPECT_NE(std::string(e.what()).find("names no file"), std::string::npos) << e.what();
    }
  }
  EXPECT_FALSE(IFile(std::shared_ptr<IFSFileRecord>()).isValid());
}

TEST(IFileTest, CopiesShareTheRecordAndKeepItAlive) {
  auto record = std::make_shared<IFakeFileRecord>();
  IFile copy;
  {
    const IFile file(record);
    EXPECT_EQ(file.getRecord(), record.get());
    EXPECT_EQ(record.use_count(), 2);
    copy = file;
    const IFile another(file);
    EXPECT_EQ(another.getRecord(), record.get());
    EXPECT_EQ(record.use_count(), 4);
  }
  EXPECT_EQ(copy.getRecord(), record.get());
  record.reset(); // the copy alone keeps it alive now
  EXPECT_EQ(copy.path(), IText("/fake"));
  copy = IFile();
  EXPECT_FALSE(copy.isValid());
}

TEST(IFileTest, AssigningAnEntityNeedsAFileRecord) {
  auto record = std::make_shared<IFakeFileRecord>();
  const IFile named(record);
  IFile file;
  file = static_cast<const IFileSystemEntity&>(named);
  EXPECT_EQ(file.getRecord(), record.get());

  try {
    file = IFakeFolder();
    ADD_FAILURE() << "a folder record was taken as a file";
  } catch (const IInvalidParameter& e) {
    EXPECT_NE(std::string(e.what()).find("'/fake-folder' is not a file"), std::string::npos) << e.what();
  }
  EXPECT_EQ(file.getRecord(), record.get()); // unchanged by the refusal

  file = IDirectory(); // names nothing, so nothing to refuse
  EXPECT_FALSE(file.isValid());
}

} // namespace
