// The workbench of the desktop program through its main window: the results table (choosing a row,
// copying), the exports against what zuba-cli writes, the map view against the state of the map
// file, resizing, the note on a flat F0, and pictures that leave the user's settings alone.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QHeaderView>
#include <QImage>
#include <QLineEdit>
#include <QPainter>
#include <QProcess>
#include <QPushButton>
#include <QSpinBox>
#include <QStatusBar>
#include <QTableView>
#include <QTest>

#include "app/export_graph_dlg.h"
#include "app/main_frame.h"
#include "app/results_table.h"
#include "app_test_support.h"
#include "calc/run/prepared_run.h"
#include "calc/synth/synth_map.h"
#include "graph/colour_scale.h"
#include "platform/files.h"
#include "results/document.h"

namespace zuba {
namespace {

using test::MakeResults;
using test::WaitFor;

// Pixels of the image within `tolerance` of the colour in every channel.
int CountNear(const QImage& image, QRgb colour, int tolerance) {
  int count = 0;
  for (int y = 0; y < image.height(); ++y)
    for (int x = 0; x < image.width(); ++x) {
      const QRgb c = image.pixel(x, y);
      count += std::abs(qRed(c) - qRed(colour)) <= tolerance &&
               std::abs(qGreen(c) - qGreen(colour)) <= tolerance &&
               std::abs(qBlue(c) - qBlue(colour)) <= tolerance;
    }
  return count;
}

int RunProgram(const QString& program, const QStringList& arguments,
               const QProcessEnvironment& environment = QProcessEnvironment::systemEnvironment()) {
  QProcess process;
  process.setProcessEnvironment(environment);
  process.start(program, arguments);
  EXPECT_TRUE(process.waitForFinished(120000)) << program.toStdString();
  return process.exitCode();
}

struct WorkbenchFixture : ::testing::Test {
  WorkbenchFixture() { frame = test::ShownMainFrame(900, 660); }
  ~WorkbenchFixture() override { frame.reset(); }

  // A small map and a run of three energies on it by the command line: the document and the
  // values file it writes.
  void RunOnTheCommandLine() {
    mapPath = dir.filePath("small.sdf");
    ASSERT_TRUE(test::WriteSmallMap(mapPath.toStdString()));
    docPath = dir.filePath("run.zub");
    ASSERT_EQ(
        RunProgram(QStringLiteral(ZUBA_CLI_PATH),
                   {"run", "--map", mapPath, "--set", "EkEnd=1.8", "--set", "dEk=0.6", "--set",
                    "h=0.01", "--save", docPath, "--values", dir.filePath("cli.tsv"), "--quiet"}),
        0);
  }
  // The view as the window paints it.
  QImage Paint() {
    QImage image(frame->View().size(), QImage::Format_RGB32);
    frame->View().render(&image);
    return image;
  }
  bool TableHolds(int rows) {
    return WaitFor([&] { return frame->ResultsTable().Rows().RowCount() == size_t(rows); });
  }

  MessageCapture messages;
  QTemporaryDir dir;
  QString mapPath, docPath;
  std::unique_ptr<CMainFrame> frame;
};

using Workbench = WorkbenchFixture;

TEST_F(Workbench, TableFollowsTheDocumentMarksTheChosenEnergyAndCopiesRows) {
  const QString path = dir.filePath("six.zub");
  ASSERT_TRUE(SaveDocumentFile(path.toStdString(), MakeResults(6), 1).ok());
  ASSERT_TRUE(frame->OpenDocumentFile(path));
  ASSERT_TRUE(TableHolds(6));

  frame->resultsTableAct->trigger();
  ASSERT_TRUE(WaitFor([&] { return frame->ResultsTable().isVisible(); }));
  frame->UpdateCommandUi();
  EXPECT_TRUE(frame->resultsTableAct->isChecked());

  // Nothing chosen: the graph as drawn without a choice, all rows copied.
  const int redBefore = CountNear(Paint(), qRgb(230, 30, 30), 30);
  QTableView& table = frame->ResultsTable().Table();
  table.setFocus();
  QTest::keyClick(&table, Qt::Key_C, Qt::ControlModifier);
  EXPECT_EQ(QApplication::clipboard()->text().toStdString(),
            frame->ResultsTable().Rows().TabSeparated());
  EXPECT_EQ(QApplication::clipboard()->text().count(QLatin1Char('\n')), 7);  // header + 6 rows

  // A click on the fourth row marks energy 3 in the graph; Ctrl+C copies that row.
  const QRect cell = table.visualRect(table.model()->index(3, 1));
  QTest::mouseClick(table.viewport(), Qt::LeftButton, Qt::NoModifier, cell.center());
  EXPECT_EQ(frame->View().SelectedEnergy(), 3);
  EXPECT_GT(CountNear(Paint(), qRgb(230, 30, 30), 30), redBefore + 20);
  QTest::keyClick(&table, Qt::Key_C, Qt::ControlModifier);
  const std::vector<size_t> fourth = {3};
  EXPECT_EQ(QApplication::clipboard()->text().toStdString(),
            frame->ResultsTable().Rows().TabSeparated(fourth));

  // A new document empties the table and marks nothing.
  frame->OnFileNew();
  EXPECT_TRUE(TableHolds(0));
  EXPECT_EQ(frame->View().SelectedEnergy(), -1);
}

TEST_F(Workbench, ExportsWriteWhatTheCommandLineWrites) {
  RunOnTheCommandLine();
  ASSERT_TRUE(frame->OpenDocumentFile(docPath));
  frame->UpdateCommandUi();
  ASSERT_TRUE(frame->exportValuesAct->isEnabled());
  ASSERT_TRUE(frame->exportGraphAct->isEnabled());

  // File > Export Values...: the bytes of zuba-cli run --values.
  const QString values = dir.filePath("window.tsv");
  frame->chooseValuesPath = [&](const QString& suggested) {
    EXPECT_EQ(suggested, dir.filePath("run.tsv"));
    return values;
  };
  frame->exportValuesAct->trigger();
  EXPECT_EQ(ReadWholeFile(values.toStdString()).bytes,
            ReadWholeFile(dir.filePath("cli.tsv").toStdString()).bytes);

  // File > Export Graph... of every graph of a default run, in every format; the PNG is the
  // picture of zuba-cli plot of the same size.
  for (GraphKind kind : {GraphKind::Frequency, GraphKind::Isochronism, GraphKind::Map,
                         GraphKind::Orbits, GraphKind::Harmonics}) {
    const QString name = QString::fromLatin1(GraphKindName(kind).data());
    SCOPED_TRACE(name.toStdString());
    frame->GraphAction(kind)->trigger();
    for (const char* ext : {"png", "svg", "pdf"}) {
      const QString out = dir.filePath(name + QStringLiteral(".") + QString::fromLatin1(ext));
      frame->chooseGraphExport = [&](const QString& suggested, QSize size) {
        EXPECT_TRUE(suggested.endsWith(QStringLiteral("run-") + name + QStringLiteral(".png")));
        EXPECT_EQ(size, frame->View().size());
        return std::optional<GraphExportChoice>(GraphExportChoice{out, QSize(500, 400)});
      };
      frame->exportGraphAct->trigger();
      EXPECT_GT(QFile(out).size(), 1000) << out.toStdString();
    }
    EXPECT_EQ(QImage(dir.filePath(name + QStringLiteral(".png"))).size(), QSize(500, 400));
    const QString cli = dir.filePath(name + QStringLiteral("-cli.png"));
    ASSERT_EQ(RunProgram(QStringLiteral(ZUBA_CLI_PATH),
                         {"plot", docPath, "-o", cli, "--size", "500x400", "--kind", name}),
              0);
    EXPECT_EQ(ReadWholeFile(cli.toStdString()).bytes,
              ReadWholeFile(dir.filePath(name + QStringLiteral(".png")).toStdString()).bytes);
  }
  EXPECT_TRUE(messages.texts().empty()) << messages.texts()[0];

  // A file name of no picture format is refused with its reason.
  frame->chooseGraphExport = [&](const QString&, QSize) {
    return std::optional<GraphExportChoice>(
        GraphExportChoice{dir.filePath("g.bmp"), QSize(50, 40)});
  };
  EXPECT_FALSE(frame->OnExportGraph());
  ASSERT_EQ(messages.texts().size(), 1u);
  EXPECT_NE(messages.texts()[0].find(".png, .svg or .pdf"), std::string::npos);
}

TEST(ExportGraphDialog, TakesOnlyPictureFilesAndTheSizeAsGiven) {
  MessageCapture messages;
  CExportGraphDlg dialog(QStringLiteral("/tmp/run-map.png"), QSize(900, 600));
  EXPECT_EQ(dialog.Path(), "/tmp/run-map.png");
  EXPECT_EQ(dialog.GraphSize(), QSize(900, 600));
  dialog.show();
  dialog.pathEdit->setText(QStringLiteral("/tmp/run-map.bmp"));
  dialog.okButton->click();
  EXPECT_EQ(dialog.result(), QDialog::Rejected);  // still open
  ASSERT_EQ(messages.texts().size(), 1u);
  EXPECT_EQ(messages.texts()[0], "The file name must end in .png, .svg or .pdf.");
  dialog.pathEdit->setText(QStringLiteral(" /tmp/run-map.SVG "));
  dialog.widthSpin->setValue(1600);
  dialog.okButton->click();
  EXPECT_EQ(dialog.result(), QDialog::Accepted);
  EXPECT_EQ(dialog.Path(), "/tmp/run-map.SVG");
  EXPECT_EQ(dialog.GraphSize(), QSize(1600, 600));
}

TEST_F(Workbench, MapViewDrawsTheRunsMapUntilTheFileChangesAndFollowsTheWindowSize) {
  RunOnTheCommandLine();
  const QRgb hill = ViridisColour(1.0);
  ASSERT_TRUE(frame->OpenDocumentFile(docPath));
  frame->mapGraphAct->trigger();
  EXPECT_EQ(frame->View().GetGraphKind(), GraphKind::Map);
  const int small = CountNear(Paint(), hill, 12);
  EXPECT_GT(small, 200);
  EXPECT_EQ(frame->View().Map().note, "");
  frame->resize(1200, 900);
  ASSERT_TRUE(WaitFor([&] { return frame->View().width() > 1000; }));
  EXPECT_GT(CountNear(Paint(), hill, 12), small * 3 / 2);  // the colour map grew with the window

  // The map file changed since the run: the orbits alone and one line saying so.
  {
    QFile file(mapPath);
    ASSERT_TRUE(file.open(QIODevice::Append));
    file.write(" 0\n");
  }
  ASSERT_TRUE(frame->OpenDocumentFile(docPath));
  EXPECT_LT(CountNear(Paint(), hill, 12), 20);
  EXPECT_NE(frame->View().Map().note.find("has changed since the run"), std::string::npos);
  ASSERT_TRUE(QFile::remove(mapPath));
  ASSERT_TRUE(frame->OpenDocumentFile(docPath));
  Paint();
  EXPECT_NE(frame->View().Map().note.find("is gone"), std::string::npos);
  // The harmonics cannot be drawn without the map: one message, after the paint.
  frame->harmonicsGraphAct->trigger();
  Paint();
  ASSERT_TRUE(WaitFor([&] { return !messages.texts().empty(); }));
  EXPECT_NE(messages.texts().back().find("need the run's field map"), std::string::npos);
}

TEST_F(Workbench, FlatFrequencyPointsToTheIsochronismView) {
  ResultTables flat = MakeResults(5);
  flat.F0 = RealTable({26.26e6, 26.2601e6, 26.2602e6, 26.2601e6, 26.2603e6});  // 1.1e-5 apart
  ResultTables steep = MakeResults(5);  // F0 4000 Hz apart: 1.5e-4 of the mean
  for (const ResultTables* results : {&steep, &flat}) {
    frame->statusBar()->clearMessage();
    frame->TakeRunResults(*results, std::make_shared<const PreparedRun>());
    Paint();
    QTest::qWait(20);
    const bool noted =
        frame->statusBar()->currentMessage().contains(QStringLiteral("View > Isochronism Error"));
    EXPECT_EQ(noted, results == &flat);
  }
}

TEST(WorkbenchPictures, ScreenshotsOfEveryViewLeaveTheSettingsAlone) {
  QTemporaryDir dir;
  const QString doc = dir.filePath("doc.zub");
  ASSERT_TRUE(SaveDocumentFile(doc.toStdString(), MakeResults(8), 1).ok());
  // The user's settings: recent files and the closure choice.
  const QString config = dir.filePath("config");
  const QString settings =
      config + QStringLiteral("/Local AppWizard-Generated Applications/ZUBA.conf");
  ASSERT_TRUE(QDir().mkpath(QFileInfo(settings).absolutePath()));
  {
    QFile file(settings);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(
        "[Calculate]\nPreciseClosure=true\n\n[Recent%20File%20List]\nFile1=/elsewhere/a.zub\n");
  }
  const QByteArray before = [&] {
    QFile file(settings);
    file.open(QIODevice::ReadOnly);
    return file.readAll();
  }();
  QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
  environment.insert(QStringLiteral("XDG_CONFIG_HOME"), config);
  environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));

  for (const char* view : {"frequency", "isochronism", "map", "orbits", "table"}) {
    const QString out = dir.filePath(QString::fromLatin1(view) + QStringLiteral(".png"));
    EXPECT_EQ(
        RunProgram(QStringLiteral(ZUBA_GUI_PATH),
                   {"--screenshot", out, "--view", QString::fromLatin1(view), "--select", "3", doc},
                   environment),
        0)
        << view;
    EXPECT_FALSE(QImage(out).isNull()) << view;
  }
  EXPECT_NE(
      RunProgram(QStringLiteral(ZUBA_GUI_PATH),
                 {"--screenshot", dir.filePath("x.png"), "--view", "nothing", doc}, environment),
      0);
  QFile file(settings);
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  EXPECT_EQ(file.readAll(), before);
  EXPECT_EQ(QDir(QFileInfo(settings).absolutePath()).entryList(QDir::Files),
            QStringList{QStringLiteral("ZUBA.conf")});
}

}  // namespace
}  // namespace zuba
