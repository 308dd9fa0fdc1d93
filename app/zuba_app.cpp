// The application object (see zuba_app.h).
#include "app/zuba_app.h"

#include <QIcon>
#include <QImage>
#include <QLineEdit>
#include <QPixmap>
#include <QRadioButton>
#include <QSettings>
#include <QThread>
#include <cstdio>

#include "app/comparison_commands.h"
#include "app/input_data_dlg.h"
#include "app/isochronise_controller.h"
#include "app/mode_dlg.h"
#include "app/results_table.h"
#include "calc/run/run_quantities.h"

namespace zuba {

CZUBAApp::CZUBAApp(int& argc, char** argv) : QApplication(argc, argv) {
  setOrganizationName(QStringLiteral("Local AppWizard-Generated Applications"));
  setApplicationName(QStringLiteral("ZUBA"));
  setApplicationVersion(QStringLiteral("1.0.0.1"));
  setWindowIcon(QIcon(QStringLiteral(":/icons/zuba.svg")));
  setDesktopFileName(QStringLiteral("zuba"));
}

CZUBAApp::~CZUBAApp() {
  ExitInstance(0);
}

bool CZUBAApp::InitInstance(const QString& documentPath, bool show, bool consoleMessages) {
  previousService_ =
      SetMessageService(consoleMessages ? static_cast<MessageService*>(&console_) : &messageBoxes_);
  serviceInstalled_ = true;

  frame_ = std::make_unique<CMainFrame>();
  if (!documentPath.isEmpty() && !frame_->OpenDocumentFile(documentPath)) return false;
  if (show) frame_->show();
  return true;
}

int CZUBAApp::ExitInstance(int exitCode) {
  frame_.reset();
  if (serviceInstalled_) {
    SetMessageService(previousService_);
    serviceInstalled_ = false;
  }
  return exitCode;
}

bool CZUBAApp::UseScratchSettings() {
  scratchSettings_ = std::make_unique<QTemporaryDir>();
  if (!scratchSettings_->isValid()) return false;
  for (QSettings::Format format : {QSettings::NativeFormat, QSettings::IniFormat})
    for (QSettings::Scope scope : {QSettings::UserScope, QSettings::SystemScope})
      QSettings::setPath(format, scope, scratchSettings_->path());
  return true;
}

int CZUBAApp::Screenshot(const QString& outPath, const QString& dialog, const QString& view,
                         int energy, const QString& compare, const QString& difference) {
  QWidget* target = frame_.get();
  // A picture shows the presets alone: the user's machine files are not read.
  frame_->ModeDialog().machineFolder.clear();
  // The comparisons first: the difference shows the map view, which --view may change.
  if (!compare.isEmpty() && !frame_->Comparison().CompareWith(compare)) return 1;
  if (!difference.isEmpty() && !frame_->Comparison().DifferenceTo(difference)) return 1;
  if (view == QStringLiteral("table")) {
    frame_->resultsTableAct->trigger();
  } else if (!view.isEmpty()) {
    const std::optional<GraphKind> kind = ParseGraphKind(view.toStdString());
    if (!kind) {
      std::fprintf(stderr,
                   "zuba: --view takes frequency, isochronism, tunes, map, orbits, harmonics or "
                   "table, not %s\n",
                   qPrintable(view));
      return 1;
    }
    frame_->ShowGraph(*kind);
  }
  if (energy > 0) {
    processEvents();  // the table takes the document's results first
    frame_->ResultsTable().SelectEnergy(energy - 1);
  }
  if (dialog == QStringLiteral("mode")) {
    frame_->ModeDialog().OnInitDialog();
    target = &frame_->ModeDialog();
  } else if (dialog == QStringLiteral("input")) {
    CInputDataDlg& input = frame_->InputDataDialog();
    ApplyPreset(kModeTvk310, input.data);
    input.OnInitDialog();
    target = &input;
  } else if (dialog == QStringLiteral("isochronise")) {
    // The trim-coil request with the example coil table, every field in use.
    CIsochroniseDlg& request = frame_->Isochronisation().RequestDialog();
    request.coilsButton->setChecked(true);
    request.coilEdit->setText(QStringLiteral("examples/trim-coils.tsv"));
    request.coilEdit->setCursorPosition(0);
    target = &request;
  } else if (!dialog.isEmpty()) {
    std::fprintf(stderr, "zuba: --dialog takes mode, input or isochronise, not %s\n",
                 qPrintable(dialog));
    return 1;
  }
  target->show();
  // Let the window lay itself out and paint (deferred messages included) before grabbing it.
  for (int i = 0; i < 5; ++i) {
    processEvents();
    QThread::msleep(20);
  }
  const QPixmap picture = target->grab();
  if (picture.isNull() || !picture.save(outPath, "PNG")) {
    std::fprintf(stderr, "zuba: cannot write %s\n", qPrintable(outPath));
    return 1;
  }
  target->hide();
  return 0;
}

}  // namespace zuba
