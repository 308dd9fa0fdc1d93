// The main window's commands (see main_frame.h): its actions with their texts, prompts, tips,
// accelerators and icons, the menus, the toolbar, the status bar and the calculation band.
#include <QAction>
#include <QActionGroup>
#include <QInputDialog>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QProgressBar>
#include <QSettings>
#include <QStatusBar>
#include <QToolBar>

#include "app/comparison_commands.h"
#include "app/main_frame.h"
#include "app/results_table.h"
#include "calc/run/driver.h"
#include "platform/message.h"
#include "platform/numbers.h"

namespace zuba {
namespace {

// The settings keys of Calculate > Precise Closed Orbits and Precise Closure Tolerance....
const char* const kPreciseClosureKey = "Calculate/PreciseClosure";
const char* const kPreciseToleranceKey = "Calculate/PreciseTolerance";

// An action of the window: its object name (the command's name), menu text, status-bar prompt
// and tooltip, run by slot.
template <class Slot>
QAction* NewAction(CMainFrame* frame, const char* name, const QString& text, const QString& prompt,
                   const QString& tip, Slot slot) {
  auto* action = new QAction(text, frame);
  action->setObjectName(QString::fromLatin1(name));
  action->setStatusTip(prompt);
  action->setToolTip(tip);
  QObject::connect(action, &QAction::triggered, frame, slot);
  return action;
}

// The icon of the desktop's theme, else the program's own.
QIcon ThemedIcon(const char* theme, const char* file) {
  return QIcon::fromTheme(QString::fromLatin1(theme),
                          QIcon(QStringLiteral(":/icons/") + QString::fromLatin1(file)));
}

// An Edit command: it has no handler here and is always disabled.
QAction* NewEditAction(QObject* parent, const char* name, const QString& text,
                       const QString& prompt, const QString& tip, const QList<QKeySequence>& keys,
                       const char* theme, const char* file) {
  auto* action = new QAction(text, parent);
  action->setObjectName(QString::fromLatin1(name));
  action->setStatusTip(prompt);
  action->setToolTip(tip);
  action->setShortcuts(keys);
  action->setIcon(ThemedIcon(theme, file));
  action->setEnabled(false);
  return action;
}

}  // namespace

void CMainFrame::CreateActions() {
  CreateFileActions();
  CreateEditActions();
  CreateViewActions();
  CreateCalculateActions();
  CreatePreciseClosureAction();
  CreateGraphActions();
  CreateHelpActions();
}

void CMainFrame::CreateFileActions() {
  newAct = NewAction(this, "ID_FILE_NEW", tr("&New"), tr("Create a new document"), tr("New"),
                     &CMainFrame::OnFileNew);
  newAct->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_N));
  newAct->setIcon(ThemedIcon("document-new", "new.svg"));
  openAct = NewAction(this, "ID_FILE_OPEN", tr("&Open..."), tr("Open an existing document"),
                      tr("Open"), &CMainFrame::OnFileOpen);
  openAct->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_O));
  openAct->setIcon(ThemedIcon("document-open", "open.svg"));
  saveAct = NewAction(this, "ID_FILE_SAVE", tr("&Save"), tr("Save the active document"), tr("Save"),
                      [this] { OnFileSave(); });
  saveAct->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_S));
  saveAct->setIcon(ThemedIcon("document-save", "save.svg"));
  saveAsAct = NewAction(this, "ID_FILE_SAVE_AS", tr("Save &As..."),
                        tr("Save the active document with a new name"), tr("Save As"),
                        [this] { OnFileSaveAs(); });
  exportGraphAct = NewAction(this, "ID_FILE_EXPORT_GRAPH", tr("Export &Graph..."),
                             tr("Write the graph shown into a PNG, SVG or PDF file"),
                             tr("Export Graph"), [this] { OnExportGraph(); });
  exportValuesAct = NewAction(this, "ID_FILE_EXPORT_VALUES", tr("Export Va&lues..."),
                              tr("Write the values of every energy into a tab-separated file"),
                              tr("Export Values"), [this] { OnExportValues(); });
  printAct = NewAction(this, "ID_FILE_PRINT", tr("&Print..."), tr("Print the active document"),
                       tr("Print"), &CMainFrame::OnFilePrint);
  printAct->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_P));
  printAct->setIcon(ThemedIcon("document-print", "print.svg"));
  printPreviewAct =
      NewAction(this, "ID_FILE_PRINT_PREVIEW", tr("Print Pre&view"), tr("Display full pages"),
                tr("Print Preview"), &CMainFrame::OnFilePrintPreview);
  printSetupAct = NewAction(this, "ID_FILE_PRINT_SETUP", tr("P&rint Setup..."),
                            tr("Change the printer and printing options"), tr("Print Setup"),
                            &CMainFrame::OnFilePrintSetup);
  CreateRecentFileActions();
  exitAct =
      NewAction(this, "ID_APP_EXIT", tr("E&xit"),
                tr("Quit the application; prompts to save documents"), tr("Exit"), &QWidget::close);
}

void CMainFrame::CreateRecentFileActions() {
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
}

void CMainFrame::CreateEditActions() {
  undoAct =
      NewEditAction(this, "ID_EDIT_UNDO", tr("&Undo"), tr("Undo the last action"), tr("Undo"),
                    {QKeySequence(Qt::CTRL | Qt::Key_Z), QKeySequence(Qt::ALT | Qt::Key_Backspace)},
                    "edit-undo", "undo.svg");
  cutAct = NewEditAction(
      this, "ID_EDIT_CUT", tr("Cu&t"), tr("Cut the selection and put it on the Clipboard"),
      tr("Cut"), {QKeySequence(Qt::CTRL | Qt::Key_X), QKeySequence(Qt::SHIFT | Qt::Key_Delete)},
      "edit-cut", "cut.svg");
  copyAct = NewEditAction(
      this, "ID_EDIT_COPY", tr("&Copy"), tr("Copy the selection and put it on the Clipboard"),
      tr("Copy"), {QKeySequence(Qt::CTRL | Qt::Key_C), QKeySequence(Qt::CTRL | Qt::Key_Insert)},
      "edit-copy", "copy.svg");
  pasteAct = NewEditAction(
      this, "ID_EDIT_PASTE", tr("&Paste"), tr("Insert Clipboard contents"), tr("Paste"),
      {QKeySequence(Qt::CTRL | Qt::Key_V), QKeySequence(Qt::SHIFT | Qt::Key_Insert)}, "edit-paste",
      "paste.svg");
}

void CMainFrame::CreateViewActions() {
  toolbarAct = NewAction(this, "ID_VIEW_TOOLBAR", tr("&Toolbar"), tr("Show or hide the toolbar"),
                         tr("Toggle ToolBar"), [this](bool on) { toolBar_->setVisible(on); });
  toolbarAct->setCheckable(true);
  statusBarAct =
      NewAction(this, "ID_VIEW_STATUS_BAR", tr("&Status Bar"), tr("Show or hide the status bar"),
                tr("Toggle Status Bar"), [this](bool on) { statusBar()->setVisible(on); });
  statusBarAct->setCheckable(true);
  resultsTableAct =
      NewAction(this, "ID_VIEW_RESULTS_TABLE", tr("Results T&able"),
                tr("Show or hide the table of the values of every energy"), tr("Results Table"),
                [this](bool on) { resultsTable_->setVisible(on); });
  resultsTableAct->setCheckable(true);
}

void CMainFrame::CreateCalculateActions() {
  equilibriumOrbitsAct =
      NewAction(this, "ID_CALCULATE_EQUILIBRIUMORBITS", tr("&Equilibrium Orbits..."),
                QStringLiteral("Finding of numerical solution of equtions of motion"),
                QStringLiteral("Equilibrium Orbits"), [this] {
                  controller_->OnCalculateEquilibriumOrbits();
                  UpdateCommandUi();
                });
  reportSaveAsAct =
      NewAction(this, "ID_CALCULATE_SAVEAS", tr("&Save As..."),
                QStringLiteral("Save the results of calculations"), QStringLiteral("Save As"),
                [this] { controller_->SaveResultsReport(); });
  isochroniseAct = NewAction(
      this, "ID_CALCULATE_ISOCHRONISE", tr("&Isochronise..."),
      tr("Find the mean-field correction or the trim-coil currents that make the run of the "
         "results shown isochronous"),
      tr("Isochronise"), &CMainFrame::OnIsochronise);
}

void CMainFrame::CreatePreciseClosureAction() {
  // The closure of the next run: remembered from the last session, off for a first start.
  preciseClosureAct =
      NewAction(this, "ID_CALCULATE_PRECISE", tr("&Precise Closed Orbits"),
                tr("Close radius and radial velocity of every orbit by Newton iteration and find "
                   "the betatron tunes"),
                tr("Precise Closed Orbits"), [this](bool on) {
                  controller_->SetClosureMode(on ? ClosureMode::Precise : ClosureMode::Standard);
                  QSettings().setValue(QString::fromLatin1(kPreciseClosureKey), on);
                });
  preciseClosureAct->setCheckable(true);
  const bool on = QSettings().value(QString::fromLatin1(kPreciseClosureKey), false).toBool();
  preciseClosureAct->setChecked(on);
  controller_->SetClosureMode(on ? ClosureMode::Precise : ClosureMode::Standard);
  // A machine file that names its closure sets the menu as the user would.
  connect(controller_, &CCalculationController::closureChosen, this, [this](ClosureMode mode) {
    const bool precise = mode == ClosureMode::Precise;
    preciseClosureAct->setChecked(precise);
    QSettings().setValue(QString::fromLatin1(kPreciseClosureKey), precise);
  });

  preciseToleranceAct =
      NewAction(this, "ID_CALCULATE_PRECISE_TOLERANCE", {},
                tr("Set the error bound of each integration step of the precise closure"),
                tr("Precise Closure Tolerance"), &CMainFrame::OnPreciseTolerance);
  // The tolerance the settings remember (the default when they hold none the program accepts),
  // and one a machine file names.
  const QString remembered =
      QSettings().value(QString::fromLatin1(kPreciseToleranceKey)).toString();
  if (const Result<double> tolerance = ReadPreciseTolerance(remembered.toStdString()); tolerance)
    controller_->SetPreciseTolerance(*tolerance);
  ShowPreciseTolerance();
  connect(controller_, &CCalculationController::toleranceChosen, this, [this](double tolerance) {
    QSettings().setValue(QString::fromLatin1(kPreciseToleranceKey),
                         QString::fromStdString(FormatNumber(tolerance)));
    ShowPreciseTolerance();
  });
}

void CMainFrame::ShowPreciseTolerance() {
  preciseToleranceAct->setText(tr("Precise Closure &Tolerance (%1)...")
                                   .arg(QString::fromStdString(FormatNumber(
                                       controller_->PreciseTolerance(), Significant(6)))));
}

void CMainFrame::OnPreciseTolerance() {
  QInputDialog dialog(this);
  dialog.setObjectName(QStringLiteral("preciseToleranceDialog"));
  dialog.setWindowTitle(tr("Precise Closure Tolerance"));
  dialog.setLabelText(QString::fromStdString(
      "Error bound of each integration step of the precise closure, relative to the orbit's "
      "radius and speed, from " +
      FormatNumber(kMinPreciseTolerance) + " to " + FormatNumber(kMaxPreciseTolerance) +
      " (default " + FormatNumber(kDefaultPreciseTolerance) + "):"));
  dialog.setTextValue(QString::fromStdString(FormatNumber(controller_->PreciseTolerance())));
  if (dialog.exec() != QDialog::Accepted) return;
  const Result<double> tolerance = ReadPreciseTolerance(dialog.textValue().toStdString());
  if (!tolerance) {
    ShowMessage(tolerance.message());
    return;
  }
  controller_->SetPreciseTolerance(*tolerance);
  QSettings().setValue(QString::fromLatin1(kPreciseToleranceKey),
                       QString::fromStdString(FormatNumber(*tolerance)));
  ShowPreciseTolerance();
}

void CMainFrame::CreateGraphActions() {
  // The graph the view draws.
  auto graphAction = [this](const char* name, const QString& text, const QString& prompt,
                            GraphKind kind) {
    QAction* action = NewAction(this, name, text, prompt, text, [this, kind] { ShowGraph(kind); });
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
}

void CMainFrame::CreateHelpActions() {
  aboutAct = NewAction(this, "ID_APP_ABOUT", tr("&About ZUBA..."),
                       tr("Display program information, version number and copyright"), tr("About"),
                       &CMainFrame::OnAppAbout);
  aboutAct->setIcon(ThemedIcon("help-about", "about.svg"));

  // Reachable by their keys only; there are no panes to switch between.
  nextPaneAct = NewAction(this, "ID_NEXT_PANE", tr("Next Pane"),
                          tr("Switch to the next window pane"), tr("Next Pane"), [] {});
  nextPaneAct->setShortcut(QKeySequence(Qt::Key_F6));
  prevPaneAct =
      NewAction(this, "ID_PREV_PANE", tr("Previous Pane"),
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
  calculateMenu->addAction(preciseToleranceAct);
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

}  // namespace zuba
