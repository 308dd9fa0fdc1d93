// Plot files through WritePlotFile and through `zuba-cli plot`.
#include "graph/plot_file.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QImage>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/files.h"
#include "platform/message.h"
#include "results/document.h"

namespace zuba {
namespace {

namespace fs = std::filesystem;

ResultTables RealisticResults() {
  ResultTables r;
  for (int i = 0; i < 58; ++i) {
    const double R = 0.05 + 0.01 * i;  // m
    r.Rmn.push_back(R);
    r.F0.push_back(2.626e7 * (1 + 1e-4 * std::sin(9 * R)));  // Hz
  }
  return r;
}

class PlotFiles : public testing::Test {
 protected:
  void SetUp() override {
    dir_ =
        fs::temp_directory_path() / ("zuba_plot_" + std::to_string(::getpid()) + "_" +
                                     testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }
  std::string Path(const std::string& name) const { return (dir_ / name).string(); }
  std::string Read(const std::string& name) const { return ReadWholeFile(Path(name)).bytes; }

  fs::path dir_;
};

TEST_F(PlotFiles, WritesPngOfTheClientSizeWithTheBlueCurve) {
  const PlotWriting written = WritePlotFile(RealisticResults(), Path("g.png"), 640, 480);
  ASSERT_TRUE(written.outcome) << written.outcome.message().text;
  EXPECT_TRUE(written.notes.empty());
  QImage image;
  ASSERT_TRUE(image.load(QString::fromStdString(Path("g.png"))));
  EXPECT_EQ(image.size(), QSize(640, 480));
  int blue = 0;
  for (int y = 96; y < 384; ++y)
    for (int x = 128; x < 512; ++x) blue += image.pixel(x, y) == qRgb(0, 0, 255);
  EXPECT_GT(blue, 100);
  EXPECT_EQ(image.pixel(2, 2), qRgb(255, 255, 255));
}

TEST_F(PlotFiles, WritesSvgAndPdfAtTheSameLogicalSize) {
  ASSERT_TRUE(WritePlotFile(RealisticResults(), Path("g.svg"), 800, 600).outcome);
  const std::string svg = Read("g.svg");
  EXPECT_NE(svg.find("viewBox=\"0 0 800 600\""), std::string::npos);
  EXPECT_NE(svg.find("Rmean (m)"), std::string::npos);
  EXPECT_NE(svg.find("Value Range = (2.62"), std::string::npos);

  ASSERT_TRUE(WritePlotFile(RealisticResults(), Path("g.PDF"), 800, 600).outcome);
  const std::string pdf = Read("g.PDF");
  EXPECT_EQ(pdf.rfind("%PDF", 0), 0u);
  EXPECT_NE(pdf.find("/MediaBox [0 0 600"), std::string::npos);  // 800 px at 96/in = 600 pt
}

TEST_F(PlotFiles, RefusesUnknownExtensionsAndUnusableSizesWithAReason) {
  struct Case {
    std::string file;
    int width;
    std::string reason;  // a part of the failure's text
  };
  for (const Case& c : {Case{"g.gif", 800, ".png"}, Case{"g.png", 0, "the plot size"},
                        Case{"missing/dir/g.png", 80, "cannot write"}}) {
    const PlotWriting written = WritePlotFile(RealisticResults(), Path(c.file), c.width, 60);
    ASSERT_FALSE(written.outcome) << c.file;
    EXPECT_FALSE(written.outcome.failure().quiet);  // a failure the caller shows
    EXPECT_EQ(written.outcome.message().caption, "Error");
    EXPECT_NE(written.outcome.message().text.find(c.reason), std::string::npos)
        << written.outcome.message().text;
  }
  EXPECT_FALSE(fs::exists(Path("g.png")));
}

TEST_F(PlotFiles, WithoutRealValuesNotesWhyShowsNothingAndWritesNothing) {
  MessageCapture capture;
  ResultTables r = RealisticResults();
  for (int64_t i = 0; i < r.F0.size(); ++i) r.F0.set(i, 2147483647.0);
  const PlotWriting written = WritePlotFile(r, Path("g.png"), 800, 600);
  ASSERT_FALSE(written.outcome);
  EXPECT_TRUE(written.outcome.failure().quiet);  // the note says why
  EXPECT_EQ(written.notes, (std::vector<Message>{{"No real values in Y array!", "Message",
                                                  Icon::Information, Owner::None}}));
  EXPECT_TRUE(capture.texts().empty());  // the drawing shows nothing itself
  EXPECT_FALSE(fs::exists(Path("g.png")));
}

#ifdef ZUBA_CLI_PATH
struct CliRun {
  int exitCode;
  std::string stderrText;
};

CliRun RunCli(const std::string& args, const std::string& stderrPath) {
  const std::string command = std::string(ZUBA_CLI_PATH) + " " + args + " 2>" + stderrPath;
  const int status = std::system(command.c_str());
  std::ifstream in(stderrPath);
  std::stringstream text;
  text << in.rdbuf();
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, text.str()};
}

TEST_F(PlotFiles, CommandLineDrawsADocumentInTheRequestedSize) {
  ASSERT_TRUE(SaveDocumentFile(Path("doc.zub"), RealisticResults(), 1).ok());
  CliRun run = RunCli("plot " + Path("doc.zub") + " -o " + Path("g.png"), Path("err"));
  EXPECT_EQ(run.exitCode, 0) << run.stderrText;
  QImage image;
  ASSERT_TRUE(image.load(QString::fromStdString(Path("g.png"))));
  EXPECT_EQ(image.size(), QSize(800, 600));

  run =
      RunCli("plot " + Path("doc.zub") + " -o " + Path("g.svg") + " --size 1024x768", Path("err"));
  EXPECT_EQ(run.exitCode, 0) << run.stderrText;
  EXPECT_NE(Read("g.svg").find("viewBox=\"0 0 1024 768\""), std::string::npos);
}

TEST_F(PlotFiles, CommandLineRefusesDocumentsWithoutDrawableResults) {
  ASSERT_TRUE(SaveDocumentFile(Path("none.zub"), RealisticResults(), 0).ok());
  CliRun run = RunCli("plot " + Path("none.zub") + " -o " + Path("g.png"), Path("err"));
  EXPECT_EQ(run.exitCode, 2);
  EXPECT_NE(run.stderrText.find("Error: "), std::string::npos);
  EXPECT_NE(run.stderrText.find("no results"), std::string::npos);

  ResultTables r = RealisticResults();
  r.Rmn.assign(std::vector<double>(58, 2147483647.0));
  ASSERT_TRUE(SaveDocumentFile(Path("empty.zub"), r, 1).ok());
  run = RunCli("plot " + Path("empty.zub") + " -o " + Path("g.png"), Path("err"));
  EXPECT_EQ(run.exitCode, 2);
  EXPECT_NE(run.stderrText.find("Message: No real values in X array!\n"), std::string::npos);
  EXPECT_FALSE(fs::exists(Path("g.png")));

  run = RunCli("plot " + Path("nothere.zub") + " -o " + Path("g.png"), Path("err"));
  EXPECT_EQ(run.exitCode, 2);
}

TEST_F(PlotFiles, CommandLineUsageErrors) {
  ASSERT_TRUE(SaveDocumentFile(Path("doc.zub"), RealisticResults(), 1).ok());
  for (const std::string& args :
       {" -o " + Path("g.png") + " --size 800x", " -o " + Path("g.png") + " --size 0x600",
        " -o " + Path("g.bmp"), std::string()}) {
    const CliRun run = RunCli("plot " + Path("doc.zub") + args, Path("err"));
    EXPECT_EQ(run.exitCode, 1) << args;
    EXPECT_FALSE(run.stderrText.empty()) << args;
  }
}
#endif

}  // namespace
}  // namespace zuba
