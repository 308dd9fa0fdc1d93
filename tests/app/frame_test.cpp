// The main window: title, menus, accelerators, toolbar, status bar and calculation band; command
// enabling; the document commands (New, Open, Save, Save As, recent files, close), dropped files;
// and the program started with a document on its command line.
#include <gtest/gtest.h>

#include <QCloseEvent>
#include <QDir>
#include <QDropEvent>
#include <QFile>
#include <QImage>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QSettings>
#include <QStatusBar>
#include <QTest>
#include <QToolBar>
#include <QUrl>

#include "app/about_dlg.h"
#include "app/main_frame.h"
#include "app_test_support.h"
#include "results/document.h"

namespace zuba {
namespace {

using test::MakeResults;

struct FrameFixture : ::testing::Test {
  FrameFixture() {
    QSettings().clear();  // no recent files of an earlier test
    frame = std::make_unique<CMainFrame>();
    frame->askSaveChanges = [this](const QString& question) {
      questions.push_back(question.toStdString());
      return answer;
    };
  }
  ~FrameFixture() override {
    frame->askSaveChanges = [](const QString&) { return QMessageBox::No; };
    frame.reset();
  }
  // Writes a document file holding results and returns its path.
  QString WriteDocument(const char* name, const ResultTables& results, int32_t available = 1) {
    const QString path = dir.filePath(QString::fromLatin1(name));
    const Outcome saved = SaveDocumentFile(path.toStdString(), results, available);
    EXPECT_TRUE(saved.ok()) << saved.message().text;
    return path;
  }

  MessageCapture messages;
  QTemporaryDir dir;
  std::unique_ptr<CMainFrame> frame;
  std::vector<std::string> questions;
  QMessageBox::StandardButton answer = QMessageBox::No;
};

// "text" for an item, "-" for a separator; hidden items left out.
std::vector<std::string> Items(QMenu* menu) {
  std::vector<std::string> items;
  for (QAction* action : menu->actions()) {
    if (!action->isVisible()) continue;
    std::string item = action->isSeparator() ? "-" : action->text().toStdString();
    if (!action->isSeparator() && !action->shortcut().isEmpty())
      item += "\t" + action->shortcut().toString(QKeySequence::PortableText).toStdString();
    items.push_back(item);
  }
  return items;
}

using MainFrame = FrameFixture;

TEST_F(MainFrame, TitleMenusAndAccelerators) {
  EXPECT_EQ(frame->windowTitle(), "Untitled[*] - ZUBA 2020");

  std::vector<std::string> titles;
  for (QAction* action : frame->menuBar()->actions())
    titles.push_back(action->text().toStdString());
  EXPECT_EQ(titles, (std::vector<std::string>{"&File", "&Edit", "&View", "&Calculate", "&Help"}));

  EXPECT_EQ(
      Items(frame->fileMenu),
      (std::vector<std::string>{"&New\tCtrl+N", "&Open...\tCtrl+O", "&Save\tCtrl+S", "Save &As...",
                                "Export &Graph...", "Export Va&lues...", "Co&mpare With...",
                                "Compare &With None", "-", "&Print...\tCtrl+P", "Print Pre&view",
                                "P&rint Setup...", "-", "Recent File", "-", "E&xit"}));
  EXPECT_FALSE(frame->recentPlaceholderAct->isEnabled());
  EXPECT_EQ(Items(frame->editMenu), (std::vector<std::string>{"&Undo\tCtrl+Z", "-", "Cu&t\tCtrl+X",
                                                              "&Copy\tCtrl+C", "&Paste\tCtrl+V"}));
  EXPECT_EQ(Items(frame->viewMenu),
            (std::vector<std::string>{"&Toolbar", "&Status Bar", "Results T&able", "-",
                                      "&Rotation Frequency", "&Isochronism Error", "T&une Diagram",
                                      "Field &Map and Orbits", "&Difference to Map...",
                                      "&Orbit Radius", "Field &Harmonics"}));
  EXPECT_EQ(Items(frame->calculateMenu),
            (std::vector<std::string>{"&Equilibrium Orbits...", "&Precise Closed Orbits",
                                      "Precise Closure &Tolerance (1e-10)...", "&Isochronise...",
                                      "-", "&Save As..."}));
  EXPECT_EQ(Items(frame->helpMenu), (std::vector<std::string>{"&About ZUBA..."}));

  // The further accelerators of the Edit commands, and the pane keys reachable by key only.
  EXPECT_TRUE(frame->undoAct->shortcuts().contains(QKeySequence(Qt::ALT | Qt::Key_Backspace)));
  EXPECT_TRUE(frame->cutAct->shortcuts().contains(QKeySequence(Qt::SHIFT | Qt::Key_Delete)));
  EXPECT_TRUE(frame->copyAct->shortcuts().contains(QKeySequence(Qt::CTRL | Qt::Key_Insert)));
  EXPECT_TRUE(frame->pasteAct->shortcuts().contains(QKeySequence(Qt::SHIFT | Qt::Key_Insert)));
  EXPECT_EQ(frame->nextPaneAct->shortcut(), QKeySequence(Qt::Key_F6));
  EXPECT_EQ(frame->prevPaneAct->shortcut(), QKeySequence(Qt::SHIFT | Qt::Key_F6));
  for (QMenu* menu :
       {frame->fileMenu, frame->editMenu, frame->viewMenu, frame->calculateMenu, frame->helpMenu}) {
    EXPECT_FALSE(menu->actions().contains(frame->nextPaneAct));
    EXPECT_FALSE(menu->actions().contains(frame->prevPaneAct));
  }

  // Prompts and tool tips of the calculation commands.
  EXPECT_EQ(frame->equilibriumOrbitsAct->statusTip(),
            "Finding of numerical solution of equtions of motion");
  EXPECT_EQ(frame->equilibriumOrbitsAct->toolTip(), "Equilibrium Orbits");
  EXPECT_EQ(frame->reportSaveAsAct->statusTip(), "Save the results of calculations");
  EXPECT_EQ(frame->reportSaveAsAct->toolTip(), "Save As");
}

TEST_F(MainFrame, ToolbarStatusBarAndCalculationBand) {
  std::vector<std::string> buttons;
  for (QAction* action : frame->ToolBar().actions())
    buttons.push_back(action->isSeparator() ? "-" : action->toolTip().toStdString());
  EXPECT_EQ(buttons, (std::vector<std::string>{"New", "Open", "Save", "-", "Cut", "Copy", "Paste",
                                               "-", "Print", "About"}));
  for (QAction* action : frame->ToolBar().actions()) {
    if (!action->isSeparator()) {
      EXPECT_FALSE(action->icon().isNull()) << action->toolTip().toStdString();
    }
  }

  std::vector<std::string> statusTexts;
  for (QLabel* label : frame->statusBar()->findChildren<QLabel*>())
    statusTexts.push_back(label->text().toStdString());
  EXPECT_EQ(statusTexts, (std::vector<std::string>{"Ready", "CAP", "NUM", "SCRL"}));

  EXPECT_EQ(frame->toolBarArea(&frame->CalculationBand()), Qt::BottomToolBarArea);
  const QList<QLabel*> bandLabels = frame->CalculationBand().findChildren<QLabel*>();
  ASSERT_FALSE(bandLabels.isEmpty());
  EXPECT_EQ(bandLabels.front()->text().trimmed(), "Calculation:");
  EXPECT_EQ(frame->ProgressBar().minimum(), 0);
  EXPECT_EQ(frame->ProgressBar().maximum(), 100);
  EXPECT_EQ(frame->ProgressBar().value(), 0);

  // View > Toolbar and View > Status Bar hide their bars only.
  frame->show();
  frame->toolbarAct->trigger();
  frame->statusBarAct->trigger();
  EXPECT_FALSE(frame->ToolBar().isVisible());
  EXPECT_FALSE(frame->statusBar()->isVisible());
  EXPECT_TRUE(frame->CalculationBand().isVisible());
  EXPECT_TRUE(frame->ProgressBar().isVisible());
  frame->UpdateCommandUi();
  EXPECT_FALSE(frame->toolbarAct->isChecked());
  EXPECT_FALSE(frame->statusBarAct->isChecked());
  frame->toolbarAct->trigger();
  EXPECT_TRUE(frame->ToolBar().isVisible());
}

TEST_F(MainFrame, EditIsAlwaysDisabledAndReportSaveAsFollowsResultsAvailable) {
  frame->UpdateCommandUi();
  EXPECT_FALSE(frame->reportSaveAsAct->isEnabled());
  EXPECT_TRUE(frame->equilibriumOrbitsAct->isEnabled());

  ASSERT_TRUE(frame->OpenDocumentFile(WriteDocument("a.zub", MakeResults(4))));
  EXPECT_TRUE(frame->reportSaveAsAct->isEnabled());
  for (QAction* action : {frame->undoAct, frame->cutAct, frame->copyAct, frame->pasteAct})
    EXPECT_FALSE(action->isEnabled());

  // A document saved without results: the command goes off with it.
  ASSERT_TRUE(frame->OpenDocumentFile(WriteDocument("b.zub", MakeResults(4), 0)));
  EXPECT_FALSE(frame->reportSaveAsAct->isEnabled());
  ASSERT_TRUE(frame->OpenDocumentFile(dir.filePath("a.zub")));
  frame->OnFileNew();
  EXPECT_FALSE(frame->reportSaveAsAct->isEnabled());
  for (QAction* action : {frame->undoAct, frame->cutAct, frame->copyAct, frame->pasteAct})
    EXPECT_FALSE(action->isEnabled());
}

TEST_F(MainFrame, SaveAndOpenRoundTripWithTitleAndRecentFiles) {
  const ResultTables results = MakeResults(5);
  frame->Document().DocumentResults() = results;
  frame->Document().SetResultsAvailable(true);
  frame->Document().SetModifiedFlag();
  EXPECT_TRUE(frame->isWindowModified());  // the title's [*] shows it

  const QString path = dir.filePath("run.zub");
  frame->chooseSavePath = [&](const QString& suggested) {
    EXPECT_EQ(suggested, "Untitled");
    return path;
  };
  ASSERT_TRUE(frame->OnFileSave());  // no name yet: Save As
  EXPECT_FALSE(frame->Document().IsModified());
  EXPECT_FALSE(frame->isWindowModified());
  EXPECT_EQ(frame->windowTitle(), "run.zub[*] - ZUBA 2020");
  EXPECT_EQ(frame->RecentFiles(), QStringList{path});

  frame->OnFileNew();
  EXPECT_EQ(frame->windowTitle(), "Untitled[*] - ZUBA 2020");
  EXPECT_EQ(frame->Document().DocumentResults().Ek.size(), 0);
  EXPECT_TRUE(questions.empty());  // nothing to save

  frame->chooseOpenPath = [&] { return path; };
  frame->OnFileOpen();
  EXPECT_EQ(frame->Document().DocumentResults(), results);
  EXPECT_EQ(frame->View().ViewResults(), results);
  EXPECT_TRUE(frame->Document().ResultsAvailable());
  EXPECT_EQ(frame->windowTitle(), "run.zub[*] - ZUBA 2020");

  // The recent-file list keeps four entries, the newest first, and lives in the settings.
  for (const char* name : {"b.zub", "c.zub", "d.zub", "e.zub"}) {
    ASSERT_TRUE(frame->OpenDocumentFile(WriteDocument(name, results)));
  }
  EXPECT_EQ(frame->RecentFiles(), (QStringList{dir.filePath("e.zub"), dir.filePath("d.zub"),
                                               dir.filePath("c.zub"), dir.filePath("b.zub")}));
  CMainFrame second;
  EXPECT_EQ(second.RecentFiles(), frame->RecentFiles());
  EXPECT_FALSE(second.recentPlaceholderAct->isVisible());
  EXPECT_EQ(second.recentFileActs[0]->text(),
            "&1 " + QDir::toNativeSeparators(dir.filePath("e.zub")));
}

TEST_F(MainFrame, ModifiedDocumentAsksBeforeNewOpenAndClose) {
  frame->Document().DocumentResults() = MakeResults(3);
  frame->Document().SetResultsAvailable(true);
  frame->Document().SetModifiedFlag();

  answer = QMessageBox::Cancel;
  frame->OnFileNew();
  EXPECT_EQ(questions, std::vector<std::string>{"Save changes to Untitled?"});
  EXPECT_EQ(frame->Document().DocumentResults().Ek.size(), 3);  // cancelled: nothing changed

  const QString other = WriteDocument("other.zub", MakeResults(7));
  EXPECT_FALSE(frame->OpenDocumentFile(other));
  EXPECT_EQ(frame->Document().DocumentResults().Ek.size(), 3);

  QCloseEvent close;
  QCoreApplication::sendEvent(frame.get(), &close);
  EXPECT_FALSE(close.isAccepted());

  // Yes saves first (through Save As for a new document), then goes on.
  answer = QMessageBox::Yes;
  const QString saved = dir.filePath("kept.zub");
  frame->chooseSavePath = [&](const QString&) { return saved; };
  frame->OnFileNew();
  EXPECT_EQ(frame->Document().DocumentResults().Ek.size(), 0);
  const Result<DocumentLoad> kept = LoadDocumentFile(saved.toStdString());
  ASSERT_TRUE(kept.ok());
  EXPECT_EQ(kept->results.Ek.size(), 3);

  // No discards; File > Open asks once, after the file has been chosen.
  frame->Document().DocumentResults() = MakeResults(2);
  frame->Document().SetModifiedFlag();
  answer = QMessageBox::No;
  questions.clear();
  frame->chooseOpenPath = [&] {
    EXPECT_TRUE(questions.empty());
    return other;
  };
  frame->OnFileOpen();
  EXPECT_EQ(questions.size(), 1u);
  EXPECT_EQ(frame->Document().DocumentResults().Ek.size(), 7);
  frame->Document().SetModifiedFlag();
  QCloseEvent close2;
  QCoreApplication::sendEvent(frame.get(), &close2);
  EXPECT_TRUE(close2.isAccepted());
}

TEST_F(MainFrame, FailedOpenIsReportedAndLeavesTheDocument) {
  ASSERT_TRUE(frame->OpenDocumentFile(WriteDocument("good.zub", MakeResults(6))));
  const QString bad = dir.filePath("bad.zub");
  {
    QFile file(bad);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("not a document");
  }
  messages.clear();
  EXPECT_FALSE(frame->OpenDocumentFile(bad));
  ASSERT_EQ(messages.messages().size(), 1u);
  EXPECT_EQ(messages.messages()[0].caption, "Error");
  EXPECT_NE(messages.texts()[0].find(bad.toStdString()), std::string::npos) << messages.texts()[0];
  EXPECT_EQ(frame->Document().DocumentResults().Ek.size(), 6);
  EXPECT_EQ(frame->windowTitle(), "good.zub[*] - ZUBA 2020");
  EXPECT_TRUE(frame->Document().ResultsAvailable());

  messages.clear();
  EXPECT_FALSE(frame->OpenDocumentFile(dir.filePath("missing.zub")));
  EXPECT_EQ(messages.messages().size(), 1u);
  EXPECT_EQ(frame->Document().DocumentResults().Ek.size(), 6);
}

TEST_F(MainFrame, FailedSaveIsReportedAndKeepsTheDocumentModified) {
  frame->Document().DocumentResults() = MakeResults(2);
  frame->Document().SetModifiedFlag();
  frame->chooseSavePath = [&](const QString&) { return dir.filePath("no/such/folder/x.zub"); };
  EXPECT_FALSE(frame->OnFileSaveAs());
  EXPECT_EQ(messages.messages().size(), 1u);
  EXPECT_TRUE(frame->Document().IsModified());
  EXPECT_TRUE(frame->isWindowModified());
  EXPECT_EQ(frame->windowTitle(), "Untitled[*] - ZUBA 2020");
}

TEST_F(MainFrame, DroppedFileIsOpened) {
  const ResultTables results = MakeResults(8);
  const QString path = WriteDocument("dropped.zub", results);
  QMimeData data;
  data.setUrls({QUrl::fromLocalFile(path)});
  QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QCoreApplication::sendEvent(frame.get(), &enter);
  EXPECT_TRUE(enter.isAccepted());
  QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QCoreApplication::sendEvent(frame.get(), &drop);
  EXPECT_EQ(frame->Document().DocumentResults(), results);
  EXPECT_EQ(frame->windowTitle(), "dropped.zub[*] - ZUBA 2020");

  QMimeData text;
  text.setText("no file");
  QDragEnterEvent refused(QPoint(10, 10), Qt::CopyAction, &text, Qt::LeftButton, Qt::NoModifier);
  refused.setAccepted(false);
  QCoreApplication::sendEvent(frame.get(), &refused);
  EXPECT_FALSE(refused.isAccepted());
}

TEST_F(MainFrame, AboutBox) {
  CAboutDlg about(frame.get());
  EXPECT_EQ(about.windowTitle(), "About ZUBA 2020");
  std::vector<std::string> texts;
  bool icon = false;
  for (QLabel* label : about.findChildren<QLabel*>()) {
    if (!label->text().isEmpty()) texts.push_back(label->text().toStdString());
    icon |= !label->pixmap().isNull();
  }
  EXPECT_EQ(texts, std::vector<std::string>{"ZUBA 2020, Version 1.0"});
  EXPECT_TRUE(icon);
  EXPECT_EQ(about.OkButton()->text(), "OK");
}

// The program itself, started with a document on its command line, renders its window.
TEST(CommandLine, OpensTheDocumentNamedOnIt) {
  QTemporaryDir dir;
  const QString doc = dir.filePath("cli.zub");
  ASSERT_TRUE(SaveDocumentFile(doc.toStdString(), MakeResults(12), 1).ok());
  const QString empty = dir.filePath("empty.png");
  const QString graph = dir.filePath("graph.png");

  auto run = [](const QStringList& arguments) {
    QProcess process;
    process.start(QStringLiteral(ZUBA_GUI_PATH), arguments);
    EXPECT_TRUE(process.waitForFinished(60000));
    return process.exitCode();
  };
  ASSERT_EQ(run({"--screenshot", empty}), 0);
  ASSERT_EQ(run({"--screenshot", graph, doc}), 0);

  // Blue curve pixels appear only with the document's results.
  auto bluePixels = [](const QString& path) {
    const QImage image(path);
    EXPECT_FALSE(image.isNull());
    int count = 0;
    for (int y = 0; y < image.height(); ++y)
      for (int x = 0; x < image.width(); ++x) count += image.pixel(x, y) == qRgb(0, 0, 255);
    return count;
  };
  EXPECT_EQ(bluePixels(empty), 0);
  EXPECT_GT(bluePixels(graph), 100);

  // A document that cannot be opened ends the start-up.
  EXPECT_NE(run({"--screenshot", dir.filePath("x.png"), dir.filePath("missing.zub")}), 0);
  EXPECT_FALSE(QFile::exists(dir.filePath("x.png")));
}

}  // namespace
}  // namespace zuba
