// The report and the document written where writing fails: a full device, a read-only file
// system, a folder that is not one, and a write failure injected part-way through. Each gives one
// clear message, leaves the earlier file byte for byte as it was and leaves no temporary file.
// Tests run as root in CI, where folder permissions do not stop a write: the full and read-only
// devices are tiny tmpfs mounts (skipped where mounting is not allowed), the injected failure is
// the file size limit, which stops root as well.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "platform/message.h"
#include "results/document.h"
#include "results/report.h"
#include "tests/shown.h"

namespace zuba {
namespace {

namespace fs = std::filesystem;

const Message kReportFailed{"Unable to open file for saving!", "Error", Icon::Error, Owner::View};

// A run of `steps` energies: its report takes about 80 bytes per step, its document 48.
ResultTables Steps(int steps) {
  ResultTables r;
  std::vector<double> ek, radius, field, f0, dreo;
  for (int i = 0; i < steps; ++i) {
    ek.push_back(1.602e-13 * (1 + 0.01 * i));  // J
    radius.push_back(0.1 + 1e-4 * i);          // m
    field.push_back(1.2 + 1e-6 * i);           // T
    f0.push_back(18.2e6 - 10.0 * i);           // Hz
    dreo.push_back(1e-6 * i);                  // m
  }
  r.Ek = RealTable(ek);
  r.Rmn = RealTable(radius);
  r.Bmn = RealTable(field);
  r.Rev = RealTable(radius);
  r.F0 = RealTable(f0);
  r.dReo = RealTable(dreo);
  r.OrbitPoints = IntTable(std::vector<int32_t>(static_cast<size_t>(steps), 0));
  r.run = {"m.sdf", "p", 1, 1.0 + steps, 1, 18.2, 1, 3, 0, 1, 1.007276466812, 0, 6.2832, 0.01};
  return r;
}

std::string ReadAll(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

std::vector<std::string> Entries(const fs::path& dir) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(dir)) names.push_back(entry.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}

class SaveFaults : public testing::Test {
 protected:
  void SetUp() override {
    dir_ =
        fs::temp_directory_path() / ("zuba-faults-" + std::to_string(::getpid()) + "-" +
                                     testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::create_directories(dir_);
  }
  void TearDown() override {
    for (const fs::path& mount : mounts_) ::umount2(mount.c_str(), MNT_DETACH);
    fs::remove_all(dir_);
  }

  // Mounts a tmpfs of `kilobytes` at a new folder, read-only when asked, holding the files given
  // (written before it becomes read-only). Empty when mounting is not allowed here.
  std::optional<fs::path> MountTmpfs(const std::string& name, int kilobytes,
                                     const std::vector<std::pair<std::string, std::string>>& files,
                                     bool readOnly = false) {
    const fs::path point = dir_ / name;
    fs::create_directories(point);
    const std::string options = "size=" + std::to_string(kilobytes) + "k";
    if (::mount("tmpfs", point.c_str(), "tmpfs", 0, options.c_str()) != 0) return std::nullopt;
    mounts_.push_back(point);
    for (const auto& [file, bytes] : files) {
      std::ofstream(point / file, std::ios::binary) << bytes;
    }
    if (readOnly &&
        ::mount("tmpfs", point.c_str(), "tmpfs", MS_REMOUNT | MS_RDONLY, options.c_str()) != 0) {
      return std::nullopt;
    }
    return point;
  }

  fs::path dir_;
  std::vector<fs::path> mounts_;
};

TEST_F(SaveFaults, AFullDeviceKeepsTheEarlierReportAndDocument) {
  const std::string earlierReport = *BuildReport(Steps(3), "r.txt");
  const std::string earlierDocument = StoreDocumentBytes(Steps(3), 1);
  std::optional<fs::path> device =
      MountTmpfs("full", 64, {{"r.txt", earlierReport}, {"d.zub", earlierDocument}});
  if (!device) GTEST_SKIP() << "mounting a tmpfs is not allowed here: " << std::strerror(errno);

  // 4000 steps: a report of some 300 kB and a document of some 200 kB, on 64 kB.
  const ResultTables big = Steps(4000);
  MessageCapture capture;
  EXPECT_EQ(test::SaveReportShown(big, (*device / "r.txt").string()),
            test::ReportWritten::CannotOpen);
  EXPECT_EQ(capture.messages(), std::vector<Message>{kReportFailed});
  Outcome save = SaveDocumentFile((*device / "d.zub").string(), big, 1);
  EXPECT_FALSE(save.ok());
  EXPECT_EQ(save.message().text, "Cannot save the document: No space left on device.");

  EXPECT_EQ(ReadAll(*device / "r.txt"), earlierReport);
  EXPECT_EQ(ReadAll(*device / "d.zub"), earlierDocument);
  EXPECT_EQ(Entries(*device), (std::vector<std::string>{"d.zub", "r.txt"}));
  // Space freed again, the same saves succeed.
  fs::remove(*device / "d.zub");
  capture.clear();
  EXPECT_EQ(test::SaveReportShown(Steps(100), (*device / "r.txt").string()),
            test::ReportWritten::Written);
  EXPECT_TRUE(capture.messages().empty());
}

TEST_F(SaveFaults, AReadOnlyFileSystemKeepsTheEarlierReportAndDocument) {
  std::optional<fs::path> device =
      MountTmpfs("ro", 64, {{"r.txt", "earlier report"}, {"d.zub", "earlier document"}}, true);
  if (!device) GTEST_SKIP() << "mounting a tmpfs is not allowed here: " << std::strerror(errno);

  MessageCapture capture;
  EXPECT_EQ(test::SaveReportShown(Steps(2), (*device / "r.txt").string()),
            test::ReportWritten::CannotOpen);
  EXPECT_EQ(capture.messages(), std::vector<Message>{kReportFailed});
  Outcome save = SaveDocumentFile((*device / "d.zub").string(), Steps(2), 1);
  EXPECT_FALSE(save.ok());
  EXPECT_EQ(save.message().text, "Cannot save the document: Read-only file system.");
  EXPECT_EQ(ReadAll(*device / "r.txt"), "earlier report");
  EXPECT_EQ(ReadAll(*device / "d.zub"), "earlier document");
  EXPECT_EQ(Entries(*device), (std::vector<std::string>{"d.zub", "r.txt"}));
}

// The file size limit makes write() fail with EFBIG part-way through the file, for root too.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) {
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    ::sigaction(SIGXFSZ, &ignore, &previousAction_);
    ::getrlimit(RLIMIT_FSIZE, &previousLimit_);
    rlimit limit = previousLimit_;
    limit.rlim_cur = bytes;
    ::setrlimit(RLIMIT_FSIZE, &limit);
  }
  ~FileSizeLimit() {
    ::setrlimit(RLIMIT_FSIZE, &previousLimit_);
    ::sigaction(SIGXFSZ, &previousAction_, nullptr);
  }

 private:
  struct sigaction previousAction_ {};
  rlimit previousLimit_{};
};

TEST_F(SaveFaults, AWriteFailingPartWayKeepsTheEarlierReportAndDocument) {
  const fs::path report = dir_ / "r.txt", document = dir_ / "d.zub";
  ASSERT_EQ(test::SaveReportShown(Steps(3), report.string()), test::ReportWritten::Written);
  ASSERT_TRUE(SaveDocumentFile(document.string(), Steps(3), 1).ok());
  const std::string earlierReport = ReadAll(report), earlierDocument = ReadAll(document);

  MessageCapture capture;
  test::ReportWritten reportWrite;
  Outcome documentSave;
  {
    FileSizeLimit limit(8192);
    reportWrite = test::SaveReportShown(Steps(1000), report.string());
    documentSave = SaveDocumentFile(document.string(), Steps(1000), 1);
  }
  EXPECT_EQ(reportWrite, test::ReportWritten::CannotOpen);
  EXPECT_EQ(capture.messages(), std::vector<Message>{kReportFailed});
  EXPECT_FALSE(documentSave.ok());
  EXPECT_EQ(documentSave.message().text, "Cannot save the document: File too large.");
  EXPECT_EQ(ReadAll(report), earlierReport);
  EXPECT_EQ(ReadAll(document), earlierDocument);
  EXPECT_EQ(Entries(dir_), (std::vector<std::string>{"d.zub", "r.txt"}));
}

TEST_F(SaveFaults, PlacesThatAreNotFoldersAreRefusedWithOneMessage) {
  std::ofstream(dir_ / "plain") << "a file where a folder should be";
  MessageCapture capture;
  EXPECT_EQ(test::SaveReportShown(Steps(2), (dir_ / "plain" / "r.txt").string()),
            test::ReportWritten::CannotOpen);
  EXPECT_EQ(capture.messages(), std::vector<Message>{kReportFailed});
  Outcome save = SaveDocumentFile((dir_ / "plain" / "d.zub").string(), Steps(2), 1);
  EXPECT_EQ(save.message().text, "Cannot save the document: Not a directory.");
  // /proc takes no new files, not even from root.
  capture.clear();
  EXPECT_EQ(test::SaveReportShown(Steps(2), "/proc/zuba-report.txt"),
            test::ReportWritten::CannotOpen);
  EXPECT_EQ(capture.messages(), std::vector<Message>{kReportFailed});
  EXPECT_FALSE(SaveDocumentFile("/proc/zuba-document.zub", Steps(2), 1).ok());
  EXPECT_EQ(ReadAll(dir_ / "plain"), "a file where a folder should be");
  EXPECT_EQ(Entries(dir_), std::vector<std::string>{"plain"});
}

}  // namespace
}  // namespace zuba
