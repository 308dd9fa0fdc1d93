// The main window (see main_frame.h).
#include "app/main_frame.h"

#include <QAction>
#include <QActionGroup>
#include <QCloseEvent>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QPageSetupDialog>
#include <QPrintDialog>
#include <QPrintPreviewDialog>
#include <QPrinter>
#include <QProgressBar>
#include <QPushButton>
#include <QSettings>
#include <QStatusBar>
#include <QToolBar>
#include <QUrl>
#include <algorithm>
#include <cmath>

#include "app/about_dlg.h"
#include "app/comparison_commands.h"
#include "app/export_graph_dlg.h"
#include "app/input_data_dlg.h"
#include "app/isochronise_controller.h"
#include "app/mode_dlg.h"
#include "app/results_table.h"
#include "calc/run/run_map.h"
#include "calc/run/values_table.h"
#include "numerics/constants.h"
#include "numerics/units.h"
#include "platform/files.h"
#include "platform/numbers.h"
#include "results/document.h"

// The icons are compiled into this static library; registering them here keeps the linker from
// dropping them.
static void InitZubaResources() {
  Q_INIT_RESOURCE(zuba);
}

namespace zuba {
namespace {

constexpr int kRecentFileCount = 4;
const char* const kRecentFileGroup = "Recent File List";
// The settings key of Calculate > Precise Closed Orbits.
const char* const kPreciseClosureKey = "Calculate/PreciseClosure";

QString LocalFileName(const QString& path) {
  return QFileInfo(path).absoluteFilePath();
}

// F0 varies by less than this part of its mean: the rotation-frequency graph shows one flat line.
constexpr double kFlatFrequency = 1e-4;

}  // namespace

CMainFrame::CMainFrame(QWidget* parent) : QMainWindow(parent) {
  InitZubaResources();
  setObjectName(QStringLiteral("mainFrame"));
  setWindowIcon(QIcon(QStringLiteral(":/icons/zuba.svg")));
  setAcceptDrops(true);

  document_ = new CZUBADoc(this);
  view_ = new CZUBAView(this);
  controller_ = new CCalculationController(*this, *view_, this);
  isochronise_ = new CIsochroniseController(*this, *this, this);
  document_->AddView(view_);
  setCentralWidget(view_);
  QtMessageService::SetViewWindow(view_);
  // The map and harmonics views draw the field map of the results, found again beside the
  // document or in the current folder.
  view_->SetMapSource([this](const ResultTables& results) {
    const QString path = document_->PathName();
    const std::string folder =
        path.isEmpty() ? std::string()
                       : QFile::encodeName(QFileInfo(path).absolutePath()).toStdString();
    RunMap map = LoadRunMap(results, folder);
    return ViewMap{std::move(map.grid), std::move(map.note)};
  });

  resultsTable_ = new CResultsTable(this);
  addDockWidget(Qt::BottomDockWidgetArea, resultsTable_);
  resultsTable_->hide();
  comparison_ = new CComparisonCommands(
      *view_, *resultsTable_,
      [this] {
        const QString path = document_->PathName();
        return path.isEmpty() ? std::string()
                              : QFile::encodeName(QFileInfo(path).absolutePath()).toStdString();
      },
      this);

  modeDlg_ = new CModeDlg(this);
  inputDlg_ = new CInputDataDlg(this);

  CreateActions();
  CreateMenus();
  CreateToolBar();
  CreateStatusBar();
  CreateCalculationBand();
  progress_ = std::make_unique<QtProgressSink>(progressBar_);

  chooseOpenPath = [this] {
    return QFileDialog::getOpenFileName(this, QStringLiteral("Open"), QString(),
                                        QStringLiteral("ZUBA Files (*.zub);;All Files (*)"));
  };
  chooseSavePath = [this](const QString& suggested) {
    QFileDialog dialog(this, QStringLiteral("Save As"), suggested,
                       QStringLiteral("ZUBA Files (*.zub)"));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setDefaultSuffix(QStringLiteral("zub"));
    return dialog.exec() == QDialog::Accepted ? dialog.selectedFiles().value(0) : QString();
  };
  chooseReportPath = [] {
    QFileDialog dialog(nullptr, QStringLiteral("Open file name for saving txt file"), QString(),
                       QStringLiteral("Particle rotation frequency files: (*.txt)"));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setDefaultSuffix(QStringLiteral("txt"));
    return dialog.exec() == QDialog::Accepted ? dialog.selectedFiles().value(0) : QString();
  };
  askSaveChanges = [this](const QString& question) {
    return QMessageBox::warning(this, QStringLiteral("ZUBA"), question,
                                QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel,
                                QMessageBox::Yes);
  };
  chooseGraphExport = [this](const QString& suggested,
                             QSize size) -> std::optional<GraphExportChoice> {
    CExportGraphDlg dialog(suggested, size, this);
    if (dialog.exec() != QDialog::Accepted) return std::nullopt;
    return GraphExportChoice{dialog.Path(), dialog.GraphSize()};
  };
  chooseValuesPath = [this](const QString& suggested) {
    QFileDialog dialog(this, QStringLiteral("Export Values"), suggested,
                       QStringLiteral("Values files (*.tsv);;All Files (*)"));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setDefaultSuffix(QStringLiteral("tsv"));
    return dialog.exec() == QDialog::Accepted ? dialog.selectedFiles().value(0) : QString();
  };

  confirmRunWarnings = [this](const QStringList& warnings) {
    QMessageBox box(
        QMessageBox::Warning, QStringLiteral("ZUBA"),
        QStringLiteral("This run looks implausible:\n\n") + warnings.join(QStringLiteral("\n\n")),
        QMessageBox::NoButton, this);
    QPushButton* run = box.addButton(QStringLiteral("Run anyway"), QMessageBox::AcceptRole);
    box.addButton(QMessageBox::Cancel);
    box.setDefaultButton(QMessageBox::Cancel);
    box.exec();
    return box.clickedButton() == run;
  };

  connect(document_, &CZUBADoc::titleChanged, this, &CMainFrame::UpdateTitle);
  connect(document_, &CZUBADoc::modifiedChanged, this, &QWidget::setWindowModified);
  connect(controller_, &CCalculationController::calculationRunning, this,
          &CMainFrame::UpdateCommandUi);
  connect(isochronise_, &CIsochroniseController::searchRunning, this, &CMainFrame::UpdateCommandUi);

  // The table follows the view's results and marks its chosen energy in the view.
  connect(
      view_, &CZUBAView::resultsRefreshed, this, [this] { comparison_->RefreshTable(); },
      Qt::QueuedConnection);
  connect(resultsTable_, &CResultsTable::energySelected, view_, &CZUBAView::SetSelectedEnergy);
  connect(resultsTable_, &QDockWidget::visibilityChanged, this, &CMainFrame::UpdateCommandUi);
  // The progress text names the energy a run has reached.
  connect(controller_, &CCalculationController::calculationRunning, this, [this](bool running) {
    energiesMeV_.clear();
    if (running)
      for (double ek : controller_->Run()->Ek) energiesMeV_.push_back(JoulesToMeV(ek));
    UpdateProgressText(progressBar_->value());
  });
  connect(progressBar_, &QProgressBar::valueChanged, this, &CMainFrame::UpdateProgressText);

  LoadRecentFiles();
  resize(900, 660);
  document_->OnNewDocument();
  document_->UpdateAllViews();
  comparison_->RefreshTable();
  UpdateTitle();
  UpdateCommandUi();
}

CMainFrame::~CMainFrame() {
  // The docked table announces that it is hidden while the window goes: nothing here hears it.
  disconnect(resultsTable_, nullptr, this, nullptr);
  // The run and the search use this window's services: they are stopped and joined before the
  // services go.
  controller_->StopAndWaitForWorker();
  isochronise_->StopAndWait();
  QtMessageService::SetViewWindow(nullptr);
  delete isochronise_;
  delete controller_;
  delete view_;
  delete document_;
}

void CMainFrame::CreateActions() {
  auto make = [this](const char* name, const QString& text, const QString& prompt,
                     const QString& tip, auto slot) {
    auto* action = new QAction(text, this);
    action->setObjectName(QString::fromLatin1(name));
    action->setStatusTip(prompt);
    action->setToolTip(tip);
    connect(action, &QAction::triggered, this, slot);
    return action;
  };
  auto icon = [](const char* theme, const char* file) {
    return QIcon::fromTheme(QString::fromLatin1(theme),
                            QIcon(QStringLiteral(":/icons/") + QString::fromLatin1(file)));
  };

  newAct = make("ID_FILE_NEW", tr("&New"), tr("Create a new document"), tr("New"),
                &CMainFrame::OnFileNew);
  newAct->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_N));
  newAct->setIcon(icon("document-new", "new.svg"));
  openAct = make("ID_FILE_OPEN", tr("&Open..."), tr("Open an existing document"), tr("Open"),
                 &CMainFrame::OnFileOpen);
  openAct->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_O));
  openAct->setIcon(icon("document-open", "open.svg"));
  saveAct = make("ID_FILE_SAVE", tr("&Save"), tr("Save the active document"), tr("Save"),
                 [this] { OnFileSave(); });
  saveAct->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_S));
  saveAct->setIcon(icon("document-save", "save.svg"));
  saveAsAct =
      make("ID_FILE_SAVE_AS", tr("Save &As..."), tr("Save the active document with a new name"),
           tr("Save As"), [this] { OnFileSaveAs(); });
  exportGraphAct = make("ID_FILE_EXPORT_GRAPH", tr("Export &Graph..."),
                        tr("Write the graph shown into a PNG, SVG or PDF file"), tr("Export Graph"),
                        [this] { OnExportGraph(); });
  exportValuesAct = make("ID_FILE_EXPORT_VALUES", tr("Export Va&lues..."),
                         tr("Write the values of every energy into a tab-separated file"),
                         tr("Export Values"), [this] { OnExportValues(); });
  printAct = make("ID_FILE_PRINT", tr("&Print..."), tr("Print the active document"), tr("Print"),
                  &CMainFrame::OnFilePrint);
  printAct->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_P));
  printAct->setIcon(icon("document-print", "print.svg"));
  printPreviewAct = make("ID_FILE_PRINT_PREVIEW", tr("Print Pre&view"), tr("Display full pages"),
                         tr("Print Preview"), &CMainFrame::OnFilePrintPreview);
  printSetupAct = make("ID_FILE_PRINT_SETUP", tr("P&rint Setup..."),
                       tr("Change the printer and printing options"), tr("Print Setup"),
                       &CMainFrame::OnFilePrintSetup);
  recentPlaceholderAct = new QAction(tr("Recent File"), this);
  recentPlaceholderAct->setObjectName(QStringLiteral("ID_FILE_MRU_FILE1"));
  recentPlaceholderAct->setEnabled(false);
  for (int i = 0; i < kRecentFileCount; ++i) {
    recentFileActs[i] = new QAction(this);
    recentFileActs[i]->setStatusTip(tr("Open this document"));
    recentFileActs[i]->setVisible(false);
    connect(recentFileActs[i], &QAction::triggered, this, [this, i] {
      if (i < recentFiles_.size()) OpenDocumentFile(recentFiles_[i]);
    });
  }
  exitAct = make("ID_APP_EXIT", tr("E&xit"), tr("Quit the application; prompts to save documents"),
                 tr("Exit"), &QWidget::close);

  // The Edit commands have no handler here: always disabled.
  auto editAction = [&](const char* name, const QString& text, const QString& prompt,
                        const QString& tip, const QList<QKeySequence>& keys, const char* theme,
                        const char* file) {
    auto* action = new QAction(text, this);
    action->setObjectName(QString::fromLatin1(name));
    action->setStatusTip(prompt);
    action->setToolTip(tip);
    action->setShortcuts(keys);
    action->setIcon(icon(theme, file));
    action->setEnabled(false);
    return action;
  };
  undoAct =
      editAction("ID_EDIT_UNDO", tr("&Undo"), tr("Undo the last action"), tr("Undo"),
                 {QKeySequence(Qt::CTRL | Qt::Key_Z), QKeySequence(Qt::ALT | Qt::Key_Backspace)},
                 "edit-undo", "undo.svg");
  cutAct = editAction(
      "ID_EDIT_CUT", tr("Cu&t"), tr("Cut the selection and put it on the Clipboard"), tr("Cut"),
      {QKeySequence(Qt::CTRL | Qt::Key_X), QKeySequence(Qt::SHIFT | Qt::Key_Delete)}, "edit-cut",
      "cut.svg");
  copyAct = editAction(
      "ID_EDIT_COPY", tr("&Copy"), tr("Copy the selection and put it on the Clipboard"), tr("Copy"),
      {QKeySequence(Qt::CTRL | Qt::Key_C), QKeySequence(Qt::CTRL | Qt::Key_Insert)}, "edit-copy",
      "copy.svg");
  pasteAct =
      editAction("ID_EDIT_PASTE", tr("&Paste"), tr("Insert Clipboard contents"), tr("Paste"),
                 {QKeySequence(Qt::CTRL | Qt::Key_V), QKeySequence(Qt::SHIFT | Qt::Key_Insert)},
                 "edit-paste", "paste.svg");

  toolbarAct = make("ID_VIEW_TOOLBAR", tr("&Toolbar"), tr("Show or hide the toolbar"),
                    tr("Toggle ToolBar"), [this](bool on) { toolBar_->setVisible(on); });
  toolbarAct->setCheckable(true);
  statusBarAct = make("ID_VIEW_STATUS_BAR", tr("&Status Bar"), tr("Show or hide the status bar"),
                      tr("Toggle Status Bar"), [this](bool on) { statusBar()->setVisible(on); });
  statusBarAct->setCheckable(true);
  resultsTableAct = make("ID_VIEW_RESULTS_TABLE", tr("Results T&able"),
                         tr("Show or hide the table of the values of every energy"),
                         tr("Results Table"), [this](bool on) { resultsTable_->setVisible(on); });
  resultsTableAct->setCheckable(true);

  equilibriumOrbitsAct = make("ID_CALCULATE_EQUILIBRIUMORBITS", tr("&Equilibrium Orbits..."),
                              QStringLiteral("Finding of numerical solution of equtions of motion"),
                              QStringLiteral("Equilibrium Orbits"), [this] {
                                controller_->OnCalculateEquilibriumOrbits();
                                UpdateCommandUi();
                              });
  reportSaveAsAct = make("ID_CALCULATE_SAVEAS", tr("&Save As..."),
                         QStringLiteral("Save the results of calculations"),
                         QStringLiteral("Save As"), [this] { controller_->SaveResultsReport(); });
  isochroniseAct =
      make("ID_CALCULATE_ISOCHRONISE", tr("&Isochronise..."),
           tr("Find the mean-field correction or the trim-coil currents that make the run of the "
              "results shown isochronous"),
           tr("Isochronise"), &CMainFrame::OnIsochronise);

  // The closure of the next run: remembered from the last session, off for a first start.
  preciseClosureAct =
      make("ID_CALCULATE_PRECISE", tr("&Precise Closed Orbits"),
           tr("Close radius and radial velocity of every orbit by Newton iteration and find the "
              "betatron tunes"),
           tr("Precise Closed Orbits"), [this](bool on) {
             controller_->SetClosureMode(on ? ClosureMode::Precise : ClosureMode::Standard);
             QSettings().setValue(QString::fromLatin1(kPreciseClosureKey), on);
           });
  preciseClosureAct->setCheckable(true);
  {
    const bool on = QSettings().value(QString::fromLatin1(kPreciseClosureKey), false).toBool();
    preciseClosureAct->setChecked(on);
    controller_->SetClosureMode(on ? ClosureMode::Precise : ClosureMode::Standard);
  }
  // A machine file that names its closure sets the menu as the user would.
  connect(controller_, &CCalculationController::closureChosen, this, [this](ClosureMode mode) {
    const bool on = mode == ClosureMode::Precise;
    preciseClosureAct->setChecked(on);
    QSettings().setValue(QString::fromLatin1(kPreciseClosureKey), on);
  });

  // The graph the view draws.
  auto graphAction = [&](const char* name, const QString& text, const QString& prompt,
                         GraphKind kind) {
    QAction* action = make(name, text, prompt, text, [this, kind] { ShowGraph(kind); });
    action->setCheckable(true);
    return action;
  };
  frequencyGraphAct = graphAction(
      "ID_VIEW_FREQUENCY", tr("&Rotation Frequency"),
      tr("Show the particle rotation frequency against the mean radius"), GraphKind::Frequency);
  isochronismGraphAct =
      graphAction("ID_VIEW_ISOCHRONISM", tr("&Isochronism Error"),
                  tr("Show the relative frequency error F0*H/Frf - 1 against the mean radius"),
                  GraphKind::Isochronism);
  tuneGraphAct = graphAction("ID_VIEW_TUNES", tr("T&une Diagram"),
                             tr("Show the vertical against the radial tune (precise closure)"),
                             GraphKind::Tunes);
  mapGraphAct = graphAction("ID_VIEW_MAP", tr("Field &Map and Orbits"),
                            tr("Show the field map of the run with the closed orbits over it"),
                            GraphKind::Map);
  orbitGraphAct =
      graphAction("ID_VIEW_ORBITS", tr("&Orbit Radius"),
                  tr("Show the radius of closed orbits against the azimuth"), GraphKind::Orbits);
  harmonicsGraphAct = graphAction("ID_VIEW_HARMONICS", tr("Field &Harmonics"),
                                  tr("Show the mean field, the field index and the first and N-th "
                                     "harmonics against the radius"),
                                  GraphKind::Harmonics);
  auto* graphs = new QActionGroup(this);
  for (GraphKind kind : kGraphKinds) graphs->addAction(GraphAction(kind));
  frequencyGraphAct->setChecked(true);

  aboutAct = make("ID_APP_ABOUT", tr("&About ZUBA..."),
                  tr("Display program information, version number and copyright"), tr("About"),
                  &CMainFrame::OnAppAbout);
  aboutAct->setIcon(icon("help-about", "about.svg"));

  // Reachable by their keys only; there are no panes to switch between.
  nextPaneAct = make("ID_NEXT_PANE", tr("Next Pane"), tr("Switch to the next window pane"),
                     tr("Next Pane"), [] {});
  nextPaneAct->setShortcut(QKeySequence(Qt::Key_F6));
  prevPaneAct = make("ID_PREV_PANE", tr("Previous Pane"),
                     tr("Switch back to the previous window pane"), tr("Previous Pane"), [] {});
  prevPaneAct->setShortcut(QKeySequence(Qt::SHIFT | Qt::Key_F6));
  addAction(nextPaneAct);
  addAction(prevPaneAct);
}

void CMainFrame::CreateMenus() {
  fileMenu = menuBar()->addMenu(tr("&File"));
  fileMenu->addAction(newAct);
  fileMenu->addAction(openAct);
  fileMenu->addAction(saveAct);
  fileMenu->addAction(saveAsAct);
  fileMenu->addAction(exportGraphAct);
  fileMenu->addAction(exportValuesAct);
  fileMenu->addAction(comparison_->compareAct);
  fileMenu->addAction(comparison_->compareNoneAct);
  fileMenu->addSeparator();
  fileMenu->addAction(printAct);
  fileMenu->addAction(printPreviewAct);
  fileMenu->addAction(printSetupAct);
  fileMenu->addSeparator();
  fileMenu->addAction(recentPlaceholderAct);
  for (QAction* action : recentFileActs) fileMenu->addAction(action);
  fileMenu->addSeparator();
  fileMenu->addAction(exitAct);

  editMenu = menuBar()->addMenu(tr("&Edit"));
  editMenu->addAction(undoAct);
  editMenu->addSeparator();
  editMenu->addAction(cutAct);
  editMenu->addAction(copyAct);
  editMenu->addAction(pasteAct);

  viewMenu = menuBar()->addMenu(tr("&View"));
  viewMenu->addAction(toolbarAct);
  viewMenu->addAction(statusBarAct);
  viewMenu->addAction(resultsTableAct);
  viewMenu->addSeparator();
  for (GraphKind kind : kGraphKinds) {
    viewMenu->addAction(GraphAction(kind));
    if (kind == GraphKind::Map) viewMenu->addAction(comparison_->differenceAct);
  }

  calculateMenu = menuBar()->addMenu(tr("&Calculate"));
  calculateMenu->addAction(equilibriumOrbitsAct);
  calculateMenu->addAction(preciseClosureAct);
  calculateMenu->addAction(isochroniseAct);
  calculateMenu->addSeparator();
  calculateMenu->addAction(reportSaveAsAct);

  helpMenu = menuBar()->addMenu(tr("&Help"));
  helpMenu->addAction(aboutAct);

  for (QMenu* menu : {fileMenu, editMenu, viewMenu, calculateMenu, helpMenu}) {
    connect(menu, &QMenu::aboutToShow, this, &CMainFrame::UpdateCommandUi);
  }
}

void CMainFrame::CreateToolBar() {
  toolBar_ = addToolBar(tr("Standard"));
  toolBar_->setObjectName(QStringLiteral("toolBar"));
  toolBar_->setIconSize(QSize(16, 16));
  toolBar_->addAction(newAct);
  toolBar_->addAction(openAct);
  toolBar_->addAction(saveAct);
  toolBar_->addSeparator();
  toolBar_->addAction(cutAct);
  toolBar_->addAction(copyAct);
  toolBar_->addAction(pasteAct);
  toolBar_->addSeparator();
  toolBar_->addAction(printAct);
  toolBar_->addAction(aboutAct);
  toolBar_->setFloatable(true);
  toolBar_->setMovable(true);
}

void CMainFrame::CreateStatusBar() {
  readyLabel_ = new QLabel(tr("Ready"));
  statusBar()->addWidget(readyLabel_, 1);
  // The lock-key indicators; the toolkit does not tell the lock states, so they stay dimmed.
  for (const char* text : {"CAP", "NUM", "SCRL"}) {
    auto* indicator = new QLabel(QString::fromLatin1(text));
    indicator->setObjectName(QStringLiteral("indicator") + QString::fromLatin1(text));
    indicator->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    indicator->setAlignment(Qt::AlignCenter);
    indicator->setMinimumWidth(indicator->fontMetrics().horizontalAdvance(QStringLiteral("SCRL")) +
                               12);
    indicator->setEnabled(false);
    statusBar()->addPermanentWidget(indicator);
  }
}

void CMainFrame::CreateCalculationBand() {
  // A band of its own above the status bar: View > Toolbar and View > Status Bar leave it alone.
  calculationBand_ = new QToolBar(tr("Calculation"), this);
  calculationBand_->setObjectName(QStringLiteral("calculationBand"));
  calculationBand_->setAllowedAreas(Qt::BottomToolBarArea);
  calculationBand_->setFloatable(false);
  calculationBand_->setMovable(true);  // shows the gripper; the band stays at the bottom
  calculationBand_->addWidget(new QLabel(QStringLiteral("Calculation:") + QLatin1Char(' ')));
  progressBar_ = new QProgressBar;
  progressBar_->setObjectName(QStringLiteral("progressBar"));
  progressBar_->setRange(0, 100);
  progressBar_->setValue(0);
  progressBar_->setTextVisible(false);  // until a run reaches its first energy
  progressBar_->setMinimumSize(250, 20);
  progressBar_->setMaximumHeight(20);
  progressBar_->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
  calculationBand_->addWidget(progressBar_);
  addToolBar(Qt::BottomToolBarArea, calculationBand_);
}

void CMainFrame::UpdateTitle() {
  // [*] shows the document's modified state; after a run that failed or stopped the title says
  // that the results are those of the run before.
  QString title = document_->GetTitle() + QStringLiteral("[*] - ZUBA 2020");
  if (!lastRunNote_.isEmpty()) title += QStringLiteral(" (") + lastRunNote_ + QStringLiteral(")");
  setWindowTitle(title);
  setWindowModified(document_->IsModified());
}

void CMainFrame::SetLastRunNote(const std::string& note) {
  lastRunNote_ = QString::fromStdString(note);
  UpdateTitle();
}

bool CMainFrame::ConfirmRunWarnings(const std::vector<std::string>& warnings) {
  QStringList lines;
  for (const std::string& warning : warnings) lines << QString::fromStdString(warning);
  return confirmRunWarnings(lines);
}

void CMainFrame::UpdateCommandUi() {
  for (QAction* action : {undoAct, cutAct, copyAct, pasteAct}) action->setEnabled(false);
  // One computation at a time: a run and an isochronisation share the cores.
  const bool busy = controller_->IsCalculationRunning() || isochronise_->IsRunning();
  equilibriumOrbitsAct->setEnabled(!busy);
  reportSaveAsAct->setEnabled(controller_->CanSaveResultsReport());
  const bool results = document_->ResultsAvailable();
  isochroniseAct->setEnabled(results && !busy);
  exportGraphAct->setEnabled(results);
  exportValuesAct->setEnabled(results);
  comparison_->UpdateCommands(results);
  toolbarAct->setChecked(!toolBar_->isHidden());
  statusBarAct->setChecked(!statusBar()->isHidden());
  resultsTableAct->setChecked(!resultsTable_->isHidden());
  if (QAction* shown = GraphAction(view_->GetGraphKind())) shown->setChecked(true);
}

QAction* CMainFrame::GraphAction(GraphKind kind) const {
  switch (kind) {
    case GraphKind::Isochronism:
      return isochronismGraphAct;
    case GraphKind::Tunes:
      return tuneGraphAct;
    case GraphKind::Map:
      return mapGraphAct;
    case GraphKind::Orbits:
      return orbitGraphAct;
    case GraphKind::Harmonics:
      return harmonicsGraphAct;
    case GraphKind::Frequency:
      break;
  }
  return frequencyGraphAct;
}

void CMainFrame::ShowGraph(GraphKind kind) {
  view_->SetGraphKind(kind);
  GraphAction(kind)->setChecked(true);
}

void CMainFrame::UpdateProgressText(int position) {
  const int n = static_cast<int>(energiesMeV_.size());
  if (position <= 0 || n == 0 || position > n) {
    progressBar_->setTextVisible(false);
    return;
  }
  progressBar_->setFormat(QStringLiteral("energy %1 of %2 (%3 MeV)")
                              .arg(position)
                              .arg(n)
                              .arg(energiesMeV_[static_cast<size_t>(position - 1)], 0, 'g', 6));
  progressBar_->setTextVisible(true);
}

void CMainFrame::NoteFlatFrequency() {
  const ResultTables& r = view_->ViewResults();
  double low = INFINITY, high = -INFINITY, sum = 0;
  int64_t count = 0;
  for (double f : r.F0.values()) {
    if (!std::isfinite(f) || f == kNoValue) continue;
    low = std::min(low, f);
    high = std::max(high, f);
    sum += f;
    ++count;
  }
  if (count < 2 || !(sum > 0)) return;
  if ((high - low) < kFlatFrequency * (sum / count))
    statusBar()->showMessage(
        tr("F0 varies by less than 1e-4 of its mean, too little for the rotation-frequency graph: "
           "View > Isochronism Error resolves it"),
        60000);
}

QString CMainFrame::SuggestedExportPath(const QString& suffix) const {
  const QString path = document_->PathName();
  if (path.isEmpty()) return document_->GetTitle() + suffix;
  const QFileInfo info(path);
  return info.absolutePath() + QLatin1Char('/') + info.completeBaseName() + suffix;
}

bool CMainFrame::OnExportGraph() {
  if (!document_->ResultsAvailable()) return false;
  const GraphKind kind = view_->GetGraphKind();
  const QString suggested = SuggestedExportPath(
      QLatin1Char('-') + QString::fromLatin1(GraphKindName(kind).data()) + QStringLiteral(".png"));
  const std::optional<GraphExportChoice> choice = chooseGraphExport(suggested, view_->size());
  if (!choice || choice->path.isEmpty()) return false;
  const GraphExtras extras = view_->Extras();
  const std::string path = QFile::encodeName(choice->path).toStdString();
  const PlotWriting written = WriteGraphFile(view_->ViewResults(), kind, extras, path,
                                             choice->size.width(), choice->size.height());
  for (const Message& note : written.notes) ShowMessage(note);
  if (!written.outcome) {
    // A quiet failure: the graph had nothing to draw, and its note said why.
    if (!written.outcome.failure().quiet)
      ShowMessage("Unable to export the graph: " + written.outcome.message().text, "Error",
                  Icon::Error, Owner::View);
    return false;
  }
  statusBar()->showMessage(tr("Graph written to %1").arg(QDir::toNativeSeparators(choice->path)),
                           10000);
  return true;
}

bool CMainFrame::OnExportValues() {
  if (!document_->ResultsAvailable()) return false;
  const QString chosen = chooseValuesPath(SuggestedExportPath(QStringLiteral(".tsv")));
  if (chosen.isEmpty()) return false;
  const std::string path = QFile::encodeName(chosen).toStdString();
  if (const Outcome written = WriteFileAtomically(path, ValuesFileOf(view_->ViewResults()));
      !written) {
    ShowMessage("Unable to export the values to " + QDir::toNativeSeparators(chosen).toStdString() +
                    ": " + written.message().text,
                "Error", Icon::Error, Owner::View);
    return false;
  }
  statusBar()->showMessage(tr("Values written to %1").arg(QDir::toNativeSeparators(chosen)), 10000);
  return true;
}

bool CMainFrame::SaveModified() {
  if (!document_->IsModified()) return true;
  const QMessageBox::StandardButton answer =
      askSaveChanges(QStringLiteral("Save changes to %1?").arg(document_->GetTitle()));
  if (answer == QMessageBox::Cancel) return false;
  if (answer == QMessageBox::Yes) return OnFileSave();
  return true;
}

void CMainFrame::CloseDocumentRun() {
  if (controller_->IsCalculationRunning()) {
    statusBar()->showMessage(tr("Stopping the calculation..."));
    controller_->StopAndWaitForWorker();
    statusBar()->clearMessage();
  }
}

void CMainFrame::OnIsochronise() {
  if (controller_->IsCalculationRunning() || isochronise_->IsRunning()) return;
  if (!document_->ResultsAvailable()) return;
  const ResultTables& results = view_->ViewResults();
  const QString path = document_->PathName();
  const std::string folder = path.isEmpty()
                                 ? std::string()
                                 : QFile::encodeName(QFileInfo(path).absolutePath()).toStdString();
  isochronise_->Start(results.run, results.mapReading, folder, results.mapFile);
  UpdateCommandUi();
}

void CMainFrame::OnFileNew() {
  if (!SaveModified()) return;
  CloseDocumentRun();
  document_->OnNewDocument();
  document_->UpdateAllViews();
  SetLastRunNote({});
  UpdateCommandUi();
}

void CMainFrame::OnFileOpen() {
  // The file first; OpenDocumentFile then asks about a modified document.
  const QString path = chooseOpenPath();
  if (path.isEmpty()) return;
  OpenDocumentFile(path);
}

bool CMainFrame::OpenDocumentFile(const QString& path) {
  if (!SaveModified()) return false;
  Result<DocumentLoad> loaded = LoadDocumentFile(QFile::encodeName(path).toStdString());
  if (!loaded.ok()) {
    const std::string text = "Unable to open the document " +
                             QDir::toNativeSeparators(path).toStdString() + ": " +
                             loaded.message().text;
    ShowMessage(text, "Error", Icon::Error, Owner::View);
    return false;
  }
  CloseDocumentRun();
  document_->TakeLoaded(std::move(*loaded), path);
  document_->UpdateAllViews();
  SetLastRunNote({});
  AddRecentFile(LocalFileName(path));
  UpdateCommandUi();
  return true;
}

bool CMainFrame::OnFileSave() {
  if (document_->PathName().isEmpty()) return OnFileSaveAs();
  if (const Outcome saved = document_->OnSaveDocument(document_->PathName()); !saved) {
    ShowMessage("Unable to save the document " +
                    QDir::toNativeSeparators(document_->PathName()).toStdString() + ": " +
                    saved.message().text,
                "Error", Icon::Error, Owner::View);
    return false;
  }
  AddRecentFile(document_->PathName());
  return true;
}

bool CMainFrame::OnFileSaveAs() {
  const QString suggested =
      document_->PathName().isEmpty() ? document_->GetTitle() : document_->PathName();
  const QString path = chooseSavePath(suggested);
  if (path.isEmpty()) return false;
  if (const Outcome saved = document_->OnSaveDocument(path); !saved) {
    ShowMessage("Unable to save the document " + QDir::toNativeSeparators(path).toStdString() +
                    ": " + saved.message().text,
                "Error", Icon::Error, Owner::View);
    return false;
  }
  AddRecentFile(document_->PathName());
  return true;
}

QPrinter& CMainFrame::Printer() {
  if (!printer_) printer_ = std::make_unique<QPrinter>(QPrinter::HighResolution);
  return *printer_;
}

void CMainFrame::OnFilePrint() {
  QPrintDialog dialog(&Printer(), this);
  if (dialog.exec() != QDialog::Accepted) return;
  view_->Print(Printer());
}

void CMainFrame::OnFilePrintPreview() {
  QPrintPreviewDialog preview(&Printer(), this);
  connect(&preview, &QPrintPreviewDialog::paintRequested, this,
          [this](QPrinter* printer) { view_->Print(*printer); });
  preview.exec();
}

void CMainFrame::OnFilePrintSetup() {
  QPageSetupDialog dialog(&Printer(), this);
  dialog.exec();
}

void CMainFrame::OnAppAbout() {
  CAboutDlg about(this);
  about.exec();
}

void CMainFrame::LoadRecentFiles() {
  QSettings settings;
  settings.beginGroup(QString::fromLatin1(kRecentFileGroup));
  recentFiles_.clear();
  for (int i = 1; i <= kRecentFileCount; ++i) {
    const QString path = settings.value(QStringLiteral("File%1").arg(i)).toString();
    if (!path.isEmpty()) recentFiles_.append(path);
  }
  settings.endGroup();
  UpdateRecentFileActions();
}

void CMainFrame::AddRecentFile(const QString& path) {
  recentFiles_.removeAll(path);
  recentFiles_.prepend(path);
  while (recentFiles_.size() > kRecentFileCount) recentFiles_.removeLast();
  QSettings settings;
  settings.beginGroup(QString::fromLatin1(kRecentFileGroup));
  for (int i = 0; i < kRecentFileCount; ++i) {
    const QString key = QStringLiteral("File%1").arg(i + 1);
    if (i < recentFiles_.size()) {
      settings.setValue(key, recentFiles_[i]);
    } else {
      settings.remove(key);
    }
  }
  settings.endGroup();
  UpdateRecentFileActions();
}

void CMainFrame::UpdateRecentFileActions() {
  recentPlaceholderAct->setVisible(recentFiles_.isEmpty());
  for (int i = 0; i < kRecentFileCount; ++i) {
    const bool used = i < recentFiles_.size();
    recentFileActs[i]->setVisible(used);
    if (used) {
      recentFileActs[i]->setText(
          QStringLiteral("&%1 %2").arg(i + 1).arg(QDir::toNativeSeparators(recentFiles_[i])));
    }
  }
}

bool CMainFrame::RunModeDialog(std::string& modeLabel, std::string& machineFile) {
  if (modeDlg_->DoModal() != QDialog::Accepted) return false;
  modeLabel = modeDlg_->ModeText();
  machineFile = modeDlg_->MachineFile();
  return true;
}

bool CMainFrame::RunInputDataDialog(RunParameters& parameters, MapReadingOptions& mapReading,
                                    double& gainPerTurnMeV) {
  inputDlg_->data = parameters;
  inputDlg_->mapReading = mapReading;
  inputDlg_->gainPerTurn = gainPerTurnMeV;
  const int result = inputDlg_->DoModal();
  parameters = inputDlg_->data;
  mapReading = inputDlg_->mapReading;
  gainPerTurnMeV = inputDlg_->gainPerTurn;
  return result == QDialog::Accepted;
}

ProgressSink& CMainFrame::Progress() {
  return *progress_;
}

void CMainFrame::TakeRunResults(ResultTables results, const SharedRun& run) {
  // The map the run read, for the map and harmonics views: no file is read again.
  auto grid = std::make_shared<FieldGrid>();
  grid->radii = run->radii;
  grid->azimuths = run->azimuths;
  grid->field = run->field;
  grid->thetaStart = run->thetaStart;
  grid->thetaEnd = run->thetaEnd;
  grid->path = run->run.Path;
  document_->TakeRunResults(std::move(results), ViewMap{std::move(grid), std::string()});
  // Results of a later run replace those the title says are of the previous run.
  SetLastRunNote({});
  UpdateCommandUi();
  NoteFlatFrequency();
}

const ResultTables& CMainFrame::ShownResults() const {
  return view_->ViewResults();
}

bool CMainFrame::ResultsShown() const {
  return document_->ResultsAvailable();
}

std::string CMainFrame::AskReportPath() {
  return QFile::encodeName(chooseReportPath()).toStdString();
}

void CMainFrame::ShowStatusNote(const std::string& text) {
  statusBar()->showMessage(QString::fromStdString(text), 10000);
}

void CMainFrame::closeEvent(QCloseEvent* event) {
  if (!SaveModified()) {
    event->ignore();
    return;
  }
  CloseDocumentRun();
  if (isochronise_->IsRunning()) {
    statusBar()->showMessage(tr("Stopping the isochronisation..."));
    isochronise_->StopAndWait();
    statusBar()->clearMessage();
  }
  event->accept();
}

void CMainFrame::dragEnterEvent(QDragEnterEvent* event) {
  if (event->mimeData()->hasUrls()) {
    for (const QUrl& url : event->mimeData()->urls()) {
      if (url.isLocalFile()) {
        event->acceptProposedAction();
        return;
      }
    }
  }
}

void CMainFrame::dropEvent(QDropEvent* event) {
  for (const QUrl& url : event->mimeData()->urls()) {
    if (!url.isLocalFile()) continue;
    event->acceptProposedAction();
    activateWindow();
    OpenDocumentFile(url.toLocalFile());
    return;
  }
}

}  // namespace zuba
