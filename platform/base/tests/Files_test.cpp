#include "platform/base/Files.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <ctime>

namespace platform {
namespace {

namespace fs = std::filesystem;

class FilesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string templ = (fs::temp_directory_path() / "tvs-files-XXXXXX").string();
    ASSERT_NE(::mkdtemp(templ.data()), nullptr);
    dir_ = templ;
    ::setenv("TVS_HOME", (dir_ / "home").c_str(), 1);
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }
  fs::path dir_;
};

TEST_F(FilesTest, SandboxHomeFollowsTheEnvironment) {
  EXPECT_EQ(SandboxHome::root(), dir_ / "home");
  EXPECT_EQ(SandboxHome::applicationSupport(), dir_ / "home/Library/Application Support");
  EXPECT_EQ(SandboxHome::caches(), dir_ / "home/Library/Caches");
  EXPECT_EQ(SandboxHome::preferences(), dir_ / "home/Library/Preferences");
  EXPECT_EQ(SandboxHome::tmp(), dir_ / "home/tmp");
  ::unsetenv("TVS_HOME");
  ::setenv("XDG_DATA_HOME", "/xdg", 1);
  EXPECT_EQ(SandboxHome::root(), fs::path("/xdg/tavo-vastrow-soundboard"));
  ::unsetenv("XDG_DATA_HOME");
  ::setenv("HOME", "/home/someone", 1);
  EXPECT_EQ(SandboxHome::root(), fs::path("/home/someone/.local/share/tavo-vastrow-soundboard"));
}

TEST_F(FilesTest, CreateDirectoryWithAndWithoutIntermediates) {
  fs::path deep = dir_ / "a/b/c";
  ErrorPtr error;
  EXPECT_FALSE(files::createDirectory(deep, false, &error));
  ASSERT_TRUE(error);
  EXPECT_EQ(error->code(), kFileNoSuchFileError);
  EXPECT_TRUE(files::createDirectory(deep, true));
  EXPECT_TRUE(files::createDirectory(deep, true));  // already there
  bool isDir = false;
  EXPECT_TRUE(files::exists(deep, &isDir));
  EXPECT_TRUE(isDir);
  ASSERT_TRUE(files::writeAtomically(dir_ / "file", std::string_view("x")));
  error.reset();
  EXPECT_FALSE(files::createDirectory(dir_ / "file", true, &error));
  ASSERT_TRUE(error);
  EXPECT_EQ(error->code(), kFileWriteFileExistsError);
}

TEST_F(FilesTest, AtomicWriteReplacesWholeAndLeavesNoTemporaries) {
  fs::path target = dir_ / "data.bin";
  ASSERT_TRUE(files::writeAtomically(target, std::string_view("first version")));
  ASSERT_TRUE(files::writeAtomically(target, Bytes{1, 0, 2}));
  EXPECT_EQ(*files::readFile(target), (Bytes{1, 0, 2}));
  auto entries = files::contentsOfDirectory(dir_);
  ASSERT_TRUE(entries);
  ASSERT_EQ(entries->size(), 1u);
  EXPECT_EQ((*entries)[0].name, "data.bin");

  ASSERT_TRUE(files::writeAtomically(dir_ / "secret", std::string_view("k"), nullptr, 0600));
  struct stat st {};
  ASSERT_EQ(::stat((dir_ / "secret").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);

  ErrorPtr error;
  EXPECT_FALSE(files::writeAtomically(dir_ / "missing/dir/f", std::string_view("x"), &error));
  ASSERT_TRUE(error);
  EXPECT_EQ(error->domain(), kFileErrorDomain);
}

TEST_F(FilesTest, ReadErrorsAreToldApart) {
  ErrorPtr error;
  EXPECT_FALSE(files::readFile(dir_ / "nothing", &error));
  ASSERT_TRUE(error);
  EXPECT_EQ(error->code(), kFileReadNoSuchFileError);

  // What is not a regular file is refused at once, and told apart from a missing or an empty
  // file: a pipe or a device would hold the reader until another process opened its other end.
  ASSERT_EQ(::mkfifo((dir_ / "pipe").c_str(), 0600), 0);
  fs::create_symlink(dir_ / "pipe", dir_ / "link-to-pipe");
  const struct {
    fs::path path;
    const char* told;
  } notFiles[] = {{dir_, "Is a folder, not a file"},
                  {dir_ / "pipe", "Is a pipe, not a file"},
                  {dir_ / "link-to-pipe", "Is a pipe, not a file"},
                  {"/dev/null", "Is a device, not a file"}};
  for (const auto& [path, told] : notFiles) {
    SCOPED_TRACE(path);
    error.reset();
    EXPECT_FALSE(files::readTextFile(path, &error));
    ASSERT_TRUE(error);
    EXPECT_EQ(error->code(), kFileReadCorruptFileError);
    EXPECT_NE(error->localizedDescription().find(told), std::string::npos)
        << error->localizedDescription();
    error.reset();
    EXPECT_FALSE(files::readFile(path, &error));
    EXPECT_TRUE(error);
  }
  ASSERT_TRUE(files::writeAtomically(dir_ / "empty", std::string_view()));
  EXPECT_EQ(*files::readTextFile(dir_ / "empty"), "");
}

TEST_F(FilesTest, RemoveTellsMissingApart) {
  ASSERT_TRUE(files::createDirectory(dir_ / "tree/sub", true));
  ASSERT_TRUE(files::writeAtomically(dir_ / "tree/sub/f", std::string_view("x")));
  EXPECT_TRUE(files::removeItem(dir_ / "tree"));
  EXPECT_FALSE(files::exists(dir_ / "tree"));
  ErrorPtr error;
  EXPECT_FALSE(files::removeItem(dir_ / "tree", &error));
  ASSERT_TRUE(error);
  EXPECT_EQ(error->code(), kFileNoSuchFileError);
}

TEST_F(FilesTest, MoveRefusesToOverwrite) {
  ASSERT_TRUE(files::writeAtomically(dir_ / "a", std::string_view("A")));
  ASSERT_TRUE(files::writeAtomically(dir_ / "b", std::string_view("B")));
  ErrorPtr error;
  EXPECT_FALSE(files::moveItem(dir_ / "a", dir_ / "b", &error));
  ASSERT_TRUE(error);
  EXPECT_EQ(error->code(), kFileWriteFileExistsError);
  EXPECT_EQ(*files::readTextFile(dir_ / "b"), "B");
  EXPECT_TRUE(files::moveItem(dir_ / "a", dir_ / "c"));
  EXPECT_EQ(*files::readTextFile(dir_ / "c"), "A");
  EXPECT_FALSE(files::exists(dir_ / "a"));
  error.reset();
  EXPECT_FALSE(files::moveItem(dir_ / "a", dir_ / "d", &error));
  ASSERT_TRUE(error);
  EXPECT_EQ(error->code(), kFileNoSuchFileError);
}

TEST_F(FilesTest, ListingGivesSizesKindsAndDates) {
  const double before = static_cast<double>(::time(nullptr)) - 1;
  ASSERT_TRUE(files::writeAtomically(dir_ / "b.txt", std::string_view("12345")));
  ASSERT_TRUE(files::createDirectory(dir_ / "a-dir", false));
  struct timespec times[2] = {{1000, 0}, {1700000000, 500000000}};
  ASSERT_EQ(::utimensat(AT_FDCWD, (dir_ / "b.txt").c_str(), times, 0), 0);
  auto entries = files::contentsOfDirectory(dir_);
  ASSERT_TRUE(entries);
  ASSERT_EQ(entries->size(), 2u);
  EXPECT_EQ((*entries)[0].name, "a-dir");
  EXPECT_TRUE((*entries)[0].isDirectory);
  EXPECT_EQ((*entries)[1].name, "b.txt");
  EXPECT_FALSE((*entries)[1].isDirectory);
  EXPECT_EQ((*entries)[1].size, 5u);
  EXPECT_DOUBLE_EQ((*entries)[1].modificationDate, 1700000000.5);
  // Made just now, though its modification date was set into the past.
  EXPECT_GE((*entries)[1].creationDate, before);
  ErrorPtr error;
  EXPECT_FALSE(files::contentsOfDirectory(dir_ / "none", &error));
  ASSERT_TRUE(error);
  EXPECT_EQ(error->code(), kFileReadNoSuchFileError);
  EXPECT_EQ(files::attributes(dir_ / "b.txt")->size, 5u);
}

}  // namespace
}  // namespace platform
