#include "platform/files.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

namespace zuba {
namespace {

namespace fs = std::filesystem;

class FilesTest : public testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("zuba-files-" + std::to_string(::getpid()));
    fs::create_directories(dir_);
  }
  void TearDown() override {
    fs::permissions(dir_, fs::perms::owner_all);
    fs::remove_all(dir_);
  }
  fs::path dir_;
};

TEST_F(FilesTest, ReadsWholeFileIncludingNulBytes) {
  std::string content("a\0b\r\n", 5);
  std::ofstream(dir_ / "f", std::ios::binary) << content;
  FileBytes f = ReadWholeFile((dir_ / "f").string());
  EXPECT_EQ(f.status, ReadStatus::Ok);
  EXPECT_EQ(f.bytes, content);
}

TEST_F(FilesTest, MissingFileAndDirectoryCannotBeOpened) {
  EXPECT_EQ(ReadWholeFile((dir_ / "missing").string()).status, ReadStatus::CannotOpen);
  EXPECT_EQ(ReadWholeFile(dir_.string()).status, ReadStatus::CannotOpen);
}

TEST_F(FilesTest, AtomicWriteReplacesContentAndLeavesNoTemporary) {
  std::string path = (dir_ / "out").string();
  ASSERT_TRUE(WriteFileAtomically(path, "first").ok());
  ASSERT_TRUE(WriteFileAtomically(path, "second").ok());
  EXPECT_EQ(ReadWholeFile(path).bytes, "second");
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 1);
}

TEST_F(FilesTest, FailedAtomicWriteKeepsEarlierFile) {
  if (::geteuid() == 0) GTEST_SKIP() << "root ignores directory permissions";
  std::string path = (dir_ / "out").string();
  ASSERT_TRUE(WriteFileAtomically(path, "kept").ok());
  fs::permissions(dir_, fs::perms::owner_read | fs::perms::owner_exec);
  Outcome r = WriteFileAtomically(path, "lost");
  EXPECT_FALSE(r.ok());
  EXPECT_FALSE(r.message().text.empty());
  fs::permissions(dir_, fs::perms::owner_all);
  EXPECT_EQ(ReadWholeFile(path).bytes, "kept");
}

}  // namespace
}  // namespace zuba

namespace zuba {
namespace {

TEST(WriteFileAtomically, FailureOverADirectoryLeavesItAndNoTemporary) {
  namespace fs = std::filesystem;
  fs::path dir = fs::temp_directory_path() / ("zuba-files-dir-" + std::to_string(::getpid()));
  fs::create_directories(dir / "target");
  Outcome r = WriteFileAtomically((dir / "target").string(), "bytes");
  EXPECT_FALSE(r.ok());
  EXPECT_TRUE(fs::is_directory(dir / "target"));
  EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 1);
  fs::remove_all(dir);
}

}  // namespace
}  // namespace zuba
