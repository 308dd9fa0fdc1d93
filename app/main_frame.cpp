// The main window (see main_frame.h).
#include "app/main_frame.h"

#include <QAction>
#include <QCloseEvent>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
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

const char* const kRecentFileGroup = "Recent File List";

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

  CreateDocumentAndView();
  CreateResultsTable();
  modeDlg_ = new CModeDlg(this);
  inputDlg_ = new CInputDataDlg(this);

  CreateActions();
  CreateMenus();
  CreateToolBar();
  CreateStatusBar();
  CreateCalculationBand();
  progress_ = std::make_unique<QtProgressSink>(progressBar_);
  SetDefaultDialogs();
  ConnectWindowParts();

  LoadRecentFiles();
  resize(900, 660);
  document_->OnNewDocument();
  document_->UpdateAllViews();
  comparison_->RefreshTable();
  UpdateTitle();
  UpdateCommandUi();
}

std::string CMainFrame::DocumentFolder() const {
  const QString path = document_->PathName();
  return path.isEmpty() ? std::string()
                        : QFile::encodeName(QFileInfo(path).absolutePath()).toStdString();
}

void CMainFrame::CreateDocumentAndView() {
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
    RunMap map = LoadRunMap(results, DocumentFolder());
    return ViewMap{std::move(map.grid), std::move(map.note)};
  });
}

void CMainFrame::CreateResultsTable() {
  resultsTable_ = new CResultsTable(this);
  addDockWidget(Qt::BottomDockWidgetArea, resultsTable_);
  resultsTable_->hide();
  comparison_ = new CComparisonCommands(
      *view_, *resultsTable_, [this] { return DocumentFolder(); }, this);
}

void CMainFrame::SetDefaultDialogs() {
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
}

void CMainFrame::ConnectWindowParts() {
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
  isochronise_->Start(results.run, results.mapReading, DocumentFolder(), results.mapFile,
                      controller_->PreciseTolerance());
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
  inputDlg_->closure = controller_->GetClosureMode();
  inputDlg_->tolerance = controller_->PreciseTolerance();
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
