// CMainFrame: the main window of the desktop program: menus, accelerators, toolbar, status bar, the
// band "Calculation:" with the progress bar, the results view as the client area, the dockable
// results table, and the document commands (New, Open, Save, Save As, Export Graph, Export Values,
// recent files, printing, Exit). It takes the results of its runs into its document, finds the
// field map of an opened document's results for the map and harmonics views, and supplies the
// calculation commands with the dialogs, the progress bar and the file chooser of the report.
#pragma once

#include <QMainWindow>
#include <QMessageBox>
#include <QSize>
#include <QStringList>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/calculation_controller.h"
#include "app/qt_services.h"
#include "app/zuba_doc.h"
#include "graph/view.h"

class QAction;
class QLabel;
class QMenu;
class QPrinter;
class QProgressBar;
class QToolBar;

namespace zuba {

class CInputDataDlg;
class CIsochroniseController;
class CComparisonCommands;
class CModeDlg;
class CResultsTable;

// What File > Export Graph... asks: the file and the size of the client area the graph is laid
// out in.
struct GraphExportChoice {
  QString path;
  QSize size;
};

class CMainFrame : public QMainWindow, public ControllerServices {
  Q_OBJECT

 public:
  explicit CMainFrame(QWidget* parent = nullptr);
  ~CMainFrame() override;

  CZUBADoc& Document() { return *document_; }
  CZUBAView& View() { return *view_; }
  CCalculationController& Controller() { return *controller_; }
  CComparisonCommands& Comparison() { return *comparison_; }
  CIsochroniseController& Isochronisation() { return *isochronise_; }
  QProgressBar& ProgressBar() { return *progressBar_; }
  QtProgressSink& ProgressSinkQt() { return *progress_; }
  CModeDlg& ModeDialog() { return *modeDlg_; }
  CInputDataDlg& InputDataDialog() { return *inputDlg_; }
  QToolBar& ToolBar() { return *toolBar_; }
  QToolBar& CalculationBand() { return *calculationBand_; }
  CResultsTable& ResultsTable() { return *resultsTable_; }

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
  // File > Export Graph...: the graph shown, as the view draws it, into a PNG, SVG or PDF file.
  // File > Export Values...: the values file of the results shown. Both say on the status bar
  // what they wrote and in a message why they could not.
  bool OnExportGraph();
  bool OnExportValues();
  // Shows a graph (the View menu's choice).
  void ShowGraph(GraphKind kind);

  // Enables and checks the commands from the current state.
  void UpdateCommandUi();
  // Asks whether to save a modified document: false when the user cancels (or saving failed).
  bool SaveModified();

  QStringList RecentFiles() const { return recentFiles_; }

  // The action of the View menu that shows the graph of a kind.
  QAction* GraphAction(GraphKind kind) const;

  // Replaceable choosers and questions (tests answer them; the defaults show the standard dialogs).
  std::function<QString()> chooseOpenPath;
  std::function<QString(const QString& suggested)> chooseSavePath;
  std::function<QString()> chooseReportPath;
  std::function<QMessageBox::StandardButton(const QString& question)> askSaveChanges;
  std::function<std::optional<GraphExportChoice>(const QString& suggested, QSize size)>
      chooseGraphExport;
  std::function<QString(const QString& suggested)> chooseValuesPath;
  // The question before an implausible run: its warnings, one a line; true to run anyway.
  std::function<bool(const QStringList& warnings)> confirmRunWarnings;

  // ControllerServices.
  bool RunModeDialog(std::string& modeLabel, std::string& machineFile) override;
  bool RunInputDataDialog(RunParameters& parameters, MapReadingOptions& mapReading,
                          double& gainPerTurnMeV) override;
  bool ConfirmRunWarnings(const std::vector<std::string>& warnings) override;
  void SetLastRunNote(const std::string& note) override;
  ProgressSink& Progress() override;
  std::string AskReportPath() override;
  void ShowStatusNote(const std::string& text) override;
  void TakeRunResults(ResultTables results, const SharedRun& run) override;
  const ResultTables& ShownResults() const override;
  bool ResultsShown() const override;

 protected:
  void closeEvent(QCloseEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;
  QMenu* createPopupMenu() override { return nullptr; }

 private:
  // The parts of the window, made by the constructor in this order.
  void CreateDocumentAndView();
  void CreateResultsTable();
  void CreateActions();
  void CreateFileActions();
  void CreateRecentFileActions();
  void CreateEditActions();
  void CreateViewActions();
  void CreateCalculateActions();
  // Calculate > Precise Closed Orbits and Calculate > Precise Closure Tolerance..., as the
  // settings remember them.
  void CreatePreciseClosureAction();
  // Calculate > Precise Closure Tolerance...: asks the tolerance of the next runs; a text the
  // command line would refuse is refused with its line in a message box, the tolerance unchanged.
  void OnPreciseTolerance();
  // The menu text of that command names the tolerance of the next runs.
  void ShowPreciseTolerance();
  void CreateGraphActions();
  void CreateHelpActions();
  void CreateMenus();
  void CreateToolBar();
  void CreateStatusBar();
  void CreateCalculationBand();
  // The standard dialogs behind the replaceable choosers and questions.
  void SetDefaultDialogs();
  // The signals between the document, the view, the controllers, the table and the progress bar.
  void ConnectWindowParts();
  // The folder of the document file (empty for a document never saved), where the field map of
  // its results is looked for first.
  std::string DocumentFolder() const;
  void UpdateTitle();
  // Stops a running calculation before the document goes (New, Open, close).
  void CloseDocumentRun();
  // Calculate > Isochronise... on the run of the results shown.
  void OnIsochronise();
  void AddRecentFile(const QString& path);
  void LoadRecentFiles();
  void UpdateRecentFileActions();
  QPrinter& Printer();
  // The progress bar's text "energy k of n (E MeV)" at position k of a run over energies_.
  void UpdateProgressText(int position);
  // After results came from a run: a note when the F0 graph cannot resolve their spread.
  void NoteFlatFrequency();
  // The file name the exports suggest: the document's name with another ending.
  QString SuggestedExportPath(const QString& suffix) const;

  static constexpr int kRecentFileCount = 4;

  CZUBADoc* document_ = nullptr;
  CZUBAView* view_ = nullptr;
  CCalculationController* controller_ = nullptr;
  CComparisonCommands* comparison_ = nullptr;  // File > Compare With..., the map difference
  CIsochroniseController* isochronise_ = nullptr;
  CModeDlg* modeDlg_ = nullptr;
  CInputDataDlg* inputDlg_ = nullptr;
  QProgressBar* progressBar_ = nullptr;
  std::unique_ptr<QtProgressSink> progress_;
  std::unique_ptr<QPrinter> printer_;
  QToolBar* toolBar_ = nullptr;
  QToolBar* calculationBand_ = nullptr;
  QLabel* readyLabel_ = nullptr;
  QStringList recentFiles_;
  CResultsTable* resultsTable_ = nullptr;
  std::vector<double> energiesMeV_;  // of the run going on, for the progress text
  QString lastRunNote_;              // in the title after a run that failed or stopped

 public:
  // The actions, named as the commands.
  QAction* newAct = nullptr;
  QAction* openAct = nullptr;
  QAction* saveAct = nullptr;
  QAction* saveAsAct = nullptr;
  QAction* exportGraphAct = nullptr;
  QAction* exportValuesAct = nullptr;
  QAction* printAct = nullptr;
  QAction* printPreviewAct = nullptr;
  QAction* printSetupAct = nullptr;
  QAction* recentPlaceholderAct = nullptr;
  QAction* recentFileActs[kRecentFileCount] = {};
  QAction* exitAct = nullptr;
  QAction* undoAct = nullptr;
  QAction* cutAct = nullptr;
  QAction* copyAct = nullptr;
  QAction* pasteAct = nullptr;
  QAction* toolbarAct = nullptr;
  QAction* statusBarAct = nullptr;
  QAction* resultsTableAct = nullptr;
  QAction* equilibriumOrbitsAct = nullptr;
  QAction* reportSaveAsAct = nullptr;
  // Calculate > Isochronise...: the mean-field correction or trim-coil currents of the run shown.
  QAction* isochroniseAct = nullptr;
  // Calculate > Precise Closed Orbits (checkable, remembered in the settings) and the six graphs
  // of the View menu (one checked at a time; the rotation frequency at start).
  QAction* preciseClosureAct = nullptr;
  // Calculate > Precise Closure Tolerance... (remembered in the settings).
  QAction* preciseToleranceAct = nullptr;
  QAction* frequencyGraphAct = nullptr;
  QAction* isochronismGraphAct = nullptr;
  QAction* tuneGraphAct = nullptr;
  QAction* mapGraphAct = nullptr;
  QAction* orbitGraphAct = nullptr;
  QAction* harmonicsGraphAct = nullptr;
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
