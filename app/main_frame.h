// CMainFrame: the main window of the desktop program: menus, accelerators, toolbar, status bar, the
// band "Calculation:" with the progress bar, the results view as the client area, and the document
// commands (New, Open, Save, Save As, recent files, printing, Exit). It owns the hand-over of the
// runs it shows and supplies the calculation commands with the dialogs, the progress bar and the
// file chooser of the report.
#pragma once

#include <QMainWindow>
#include <QMessageBox>
#include <QStringList>
#include <functional>
#include <memory>
#include <string>

#include "app/calculation_controller.h"
#include "app/qt_services.h"
#include "app/zuba_doc.h"
#include "graph/view.h"
#include "results/hand_over.h"

class QAction;
class QLabel;
class QMenu;
class QPrinter;
class QProgressBar;
class QToolBar;

namespace zuba {

class CInputDataDlg;
class CModeDlg;

class CMainFrame : public QMainWindow, public ControllerServices {
  Q_OBJECT

 public:
  explicit CMainFrame(QWidget* parent = nullptr);
  ~CMainFrame() override;

  CZUBADoc& Document() { return *document_; }
  CZUBAView& View() { return *view_; }
  CCalculationController& Controller() { return *controller_; }
  ResultsHandOver& HandOver() { return handOver_; }
  QProgressBar& ProgressBar() { return *progressBar_; }
  QtProgressSink& ProgressSinkQt() { return *progress_; }
  CModeDlg& ModeDialog() { return *modeDlg_; }
  CInputDataDlg& InputDataDialog() { return *inputDlg_; }
  QToolBar& ToolBar() { return *toolBar_; }
  QToolBar& CalculationBand() { return *calculationBand_; }

  // The commands.
  void OnFileNew();
  void OnFileOpen();
  // Opens path as the document (asks to save a modified document first). A file that cannot be
  // read is reported and leaves the document as it was. Returns true when the file was opened.
  bool OpenDocumentFile(const QString& path);
  bool OnFileSave();
  bool OnFileSaveAs();
  void OnFilePrint();
  void OnFilePrintPreview();
  void OnFilePrintSetup();
  void OnAppAbout();

  // Enables and checks the commands from the current state.
  void UpdateCommandUi();
  // Asks whether to save a modified document: false when the user cancels (or saving failed).
  bool SaveModified();

  QStringList RecentFiles() const { return recentFiles_; }

  // Replaceable choosers and questions (tests answer them; the defaults show the standard dialogs).
  std::function<QString()> chooseOpenPath;
  std::function<QString(const QString& suggested)> chooseSavePath;
  std::function<QString()> chooseReportPath;
  std::function<QMessageBox::StandardButton(const QString& question)> askSaveChanges;

  // ControllerServices.
  bool RunModeDialog(std::string& modeLabel) override;
  bool RunInputDataDialog(RunParameters& parameters, MapReadingOptions& mapReading) override;
  ProgressSink& Progress() override;
  void SetWorkerDetached(bool detached) override;
  std::string AskReportPath() override;
  void ShowStatusNote(const std::string& text) override;

 protected:
  void closeEvent(QCloseEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;
  QMenu* createPopupMenu() override { return nullptr; }

 private:
  void CreateActions();
  void CreateMenus();
  void CreateToolBar();
  void CreateStatusBar();
  void CreateCalculationBand();
  void UpdateTitle();
  // Stops a running calculation before the document goes (New, Open, close).
  void CloseDocumentRun();
  void AddRecentFile(const QString& path);
  void LoadRecentFiles();
  void UpdateRecentFileActions();
  QPrinter& Printer();

  ResultsHandOver handOver_;  // of the runs this window shows
  CZUBADoc* document_ = nullptr;
  CZUBAView* view_ = nullptr;
  CCalculationController* controller_ = nullptr;
  CModeDlg* modeDlg_ = nullptr;
  CInputDataDlg* inputDlg_ = nullptr;
  QProgressBar* progressBar_ = nullptr;
  std::unique_ptr<QtProgressSink> progress_;
  std::unique_ptr<QPrinter> printer_;
  QToolBar* toolBar_ = nullptr;
  QToolBar* calculationBand_ = nullptr;
  QLabel* readyLabel_ = nullptr;
  QStringList recentFiles_;

 public:
  // The actions, named as the commands.
  QAction* newAct = nullptr;
  QAction* openAct = nullptr;
  QAction* saveAct = nullptr;
  QAction* saveAsAct = nullptr;
  QAction* printAct = nullptr;
  QAction* printPreviewAct = nullptr;
  QAction* printSetupAct = nullptr;
  QAction* recentPlaceholderAct = nullptr;
  QAction* recentFileActs[4] = {};
  QAction* exitAct = nullptr;
  QAction* undoAct = nullptr;
  QAction* cutAct = nullptr;
  QAction* copyAct = nullptr;
  QAction* pasteAct = nullptr;
  QAction* toolbarAct = nullptr;
  QAction* statusBarAct = nullptr;
  QAction* equilibriumOrbitsAct = nullptr;
  QAction* reportSaveAsAct = nullptr;
  // Calculate > Precise Closed Orbits (checkable, remembered in the settings) and the three graphs
  // of the View menu (one checked at a time; the rotation frequency at start).
  QAction* preciseClosureAct = nullptr;
  QAction* frequencyGraphAct = nullptr;
  QAction* isochronismGraphAct = nullptr;
  QAction* tuneGraphAct = nullptr;
  QAction* aboutAct = nullptr;
  QAction* nextPaneAct = nullptr;
  QAction* prevPaneAct = nullptr;
  QMenu* fileMenu = nullptr;
  QMenu* editMenu = nullptr;
  QMenu* viewMenu = nullptr;
  QMenu* calculateMenu = nullptr;
  QMenu* helpMenu = nullptr;
};

}  // namespace zuba
