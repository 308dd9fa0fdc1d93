// CZUBAView: results view, hand-over of finished results, printing and the calculation commands
// (see view.h).
#include "graph/view.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QFileInfo>
#include <QFont>
#include <QFontMetricsF>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QPrinter>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <new>
#include <string>
#include <system_error>

#include "calc/run_quantities.h"
#include "graph/results_plot.h"
#include "results/report.h"
#include "results/text.h"

namespace zuba {

CZUBAView::CZUBAView(ViewServices& services, QWidget* parent)
    : QWidget(parent), services_(services) {
  // A white client area, erased before every paint.
  setAttribute(Qt::WA_OpaquePaintEvent);
  setAutoFillBackground(false);
  setMinimumSize(1, 1);
  paintMessages_.guiThread = std::this_thread::get_id();

  results_.reset();
  record_ = CalculationRecord{};
  ResultsAvailable.store(0, std::memory_order_release);
  TransferPending.store(0, std::memory_order_release);
  StopRequested.store(0);
}

CZUBAView::~CZUBAView() {
  StopAndWaitForWorker();
}

void CZUBAView::OnInitialUpdate() {
  // The base view's initial update is a refresh.
  OnUpdate();
  if (document_ == nullptr) return;
  results_ = document_->DocumentResults();
  ++resultsGeneration_;
  update();
}

void CZUBAView::OnUpdate() {
  if (document_ == nullptr) return;
  results_ = document_->DocumentResults();
  ++resultsGeneration_;
  int32_t pending = 1;
  if (TransferPending.compare_exchange_strong(pending, 0, std::memory_order_acq_rel)) {
    // Inside the paint that transfers: that paint draws the new results.
    return;
  }
  update();
}

void CZUBAView::TransferPendingResults() {
  if (document_ == nullptr) return;
  if (ResultsAvailable.load(std::memory_order_acquire) == 0) return;
  if (TransferPending.load(std::memory_order_acquire) != 1) return;
  document_->DocumentResults() = LatestResults;
  document_->SetModifiedFlag();
  document_->UpdateAllViews();  // refreshes results_ and clears TransferPending
  emit resultsTransferred();
}

bool CZUBAView::OnDraw(QPainter& painter, QSize clientSize) {
  if (document_ == nullptr) return false;
  if (ResultsAvailable.load(std::memory_order_acquire) == 0) return false;
  TransferPendingResults();
  return DrawGraph(painter, results_, graphKind_, clientSize);
}

void CZUBAView::SetGraphKind(GraphKind kind) {
  if (kind == graphKind_) return;
  graphKind_ = kind;
  ++resultsGeneration_;  // the messages of the new graph are shown once again
  update();
}

void CZUBAView::PaintMessages::show(const Message& message) {
  if (std::this_thread::get_id() == guiThread) {
    std::lock_guard lock(mutex);
    collected.push_back(message);
    return;
  }
  // The first paint installs this collector a moment before it learns the service to pass on to.
  MessageService* service = next.load(std::memory_order_acquire);
  for (int i = 0; service == nullptr && i < 1000; ++i) {
    std::this_thread::sleep_for(std::chrono::microseconds(100));
    service = next.load(std::memory_order_acquire);
  }
  if (service != nullptr) {
    service->show(message);
  } else {
    ConsoleMessageService().show(message);
  }
}

bool CZUBAView::DrawCollectingMessages(QPainter& painter, QSize clientSize) {
  {
    std::lock_guard lock(paintMessages_.mutex);
    paintMessages_.collected.clear();
  }
  MessageService* previous = SetMessageService(&paintMessages_);
  paintMessages_.next.store(previous, std::memory_order_release);
  bool drawn = false;
  try {
    drawn = OnDraw(painter, clientSize);
  } catch (...) {
    SetMessageService(previous);
    throw;
  }
  SetMessageService(previous);

  std::vector<Message> messages;
  {
    std::lock_guard lock(paintMessages_.mutex);
    messages.swap(paintMessages_.collected);
  }
  // A message box raised inside a paint would bring the next paint, and with it the next box:
  // the graph's messages are shown once per results record, after the paint.
  if (!messages.empty() && messagesShownFor_ != resultsGeneration_) {
    messagesShownFor_ = resultsGeneration_;
    QTimer::singleShot(0, this, [messages] {
      for (const Message& m : messages) ShowMessage(m.text, m.caption, m.icon, m.owner);
    });
  }
  return drawn;
}

void CZUBAView::DrawGuarded(QPainter& painter, QSize clientSize) {
  try {
    DrawCollectingMessages(painter, clientSize);
  } catch (const std::invalid_argument& e) {
    // A document whose F0 table is shorter than Rmn (only a damaged file holds one): the drawing
    // ends without a graph, and the failure is reported once, after the paint.
    const std::string text = std::string("The results cannot be drawn: ") + e.what() + "!";
    if (messagesShownFor_ != resultsGeneration_) {
      messagesShownFor_ = resultsGeneration_;
      QTimer::singleShot(0, this, [text] { ShowMessage(text, "Error", Icon::Error, Owner::View); });
    }
  }
}

void CZUBAView::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.fillRect(rect(), Qt::white);
  DrawGuarded(painter, size());
}

void CZUBAView::mouseDoubleClickEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton) StopRequested.store(1);
  QWidget::mouseDoubleClickEvent(event);
}

QString CZUBAView::PrintHeader() const {
  return QStringLiteral("File:  ") + (document_ != nullptr ? document_->GetTitle() : QString());
}

void CZUBAView::PrintPage(QPainter& painter, QSize pageSize, int dpiX, int dpiY) {
  // Logical units are the screen pixels of the client area: the larger of its dimensions maps
  // onto 8 inches of paper, the same scale on both axes.
  const QSize client = size();
  const int windowX = std::max(1, client.width() / 8);
  const int windowY = std::max(1, client.height() / 8);
  const double scale = std::min(static_cast<double>(dpiX) / windowX,
                                static_cast<double>(dpiY) / windowY);  // device px per unit
  const double left = 0.0, top = 0.0;
  const double right = pageSize.width() / scale;

  painter.save();
  painter.scale(scale, scale);

  // 12 pt Times New Roman on this device, in logical units.
  QFont font(QStringLiteral("Times New Roman"));
  font.setPixelSize(std::max(1, qRound(12.0 * dpiY / 72.0 / scale)));
  painter.setFont(font);
  painter.setPen(Qt::black);
  painter.setBackgroundMode(Qt::TransparentMode);
  const double T = QFontMetricsF(font, painter.device()).height();

  // The header, centred, its top 2T below the top of the page.
  const QString header = PrintHeader();
  painter.drawText(QRectF(left, top + 2 * T, right - left, 2 * T), Qt::AlignHCenter | Qt::AlignTop,
                   header);

  // The graph's origin directly under the header line.
  painter.translate(left, top + 3 * T);
  DrawGuarded(painter, client);
  painter.restore();
}

bool CZUBAView::Print(QPrinter& printer) {
  QPainter painter;
  if (!painter.begin(&printer)) return false;
  const QRect page = printer.pageLayout().paintRectPixels(printer.resolution());
  PrintPage(painter, page.size(), printer.resolution(), printer.resolution());
  painter.end();
  return true;
}

bool CZUBAView::CanSaveResultsReport() {
  return ResultsAvailable.load(std::memory_order_acquire) != 0;
}

void CZUBAView::SaveResultsReport() {
  const int64_t n = results_.Ek.size();
  if (results_.Rmn.size() != n || results_.Bmn.size() != n || results_.Rev.size() != n ||
      results_.F0.size() != n || results_.dReo.size() != n) {
    return;
  }
  const std::string path = services_.AskReportPath();
  if (path.empty()) {
    ShowMessage("Unable to open file name for saving!", "Error", Icon::Error, Owner::View);
    return;
  }
  SaveResultsReportFile(results_, path);  // shows its own message when the file cannot be written
}

void CZUBAView::OnCalculateEquilibriumOrbits() {
  // One run at a time: the running worker reads the record that this command would refill.
  if (IsCalculationRunning()) return;
  StopRequested.store(0);
  if (document_ == nullptr) return;

  std::string label;
  if (!services_.RunModeDialog(label)) return;
  if (!ApplyPreset(label, inputData_)) return;
  if (!services_.RunInputDataDialog(inputData_)) return;

  PrepareResult prepared;
  try {
    prepared = PrepareCalculation(inputData_, record_);
  } catch (const std::bad_alloc&) {
    // A map too large for the memory: the command ends like any other refusal.
    ShowMessage("Not enough memory for the field map!", "Error", Icon::Error, Owner::View);
    return;
  }
  if (!prepared.ready) {
    if (!prepared.shown && !prepared.refusal.empty()) services_.ShowStatusNote(prepared.refusal);
    return;
  }

  // Results of an earlier run that no paint has taken over yet go to the document now, so that the
  // new worker's hand-over never meets a reader of LatestResults.
  TransferPendingResults();

  WorkerOptions options;
  options.threads = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
  options.closure = closure_;
  options.requestRepaint = [this] {
    QMetaObject::invokeMethod(
        this, [this] { update(); }, Qt::QueuedConnection);
  };
  workerDone_.store(false);
  const uint64_t run = ++runId_;
  try {
    worker_ = std::thread([this, options, run] {
      try {
        CalculationWorker(record_, services_.Progress(), StopRequested, options);
      } catch (const std::exception& e) {
        // A failure outside the energy loop (memory for the average-field tables): the run ends
        // without results, as any failed run.
        ShowMessage(std::string("The calculation failed: ") + e.what(), "Error", Icon::Error,
                    Owner::None);
      }
      QMetaObject::invokeMethod(
          this, [this, run] { OnWorkerFinished(run); }, Qt::QueuedConnection);
      workerDone_.store(true, std::memory_order_release);
    });
  } catch (const std::system_error& e) {
    errno = e.code().value();
    ReportSystemError("CreateThread");
    return;
  }
  emit calculationRunning(true);
}

void CZUBAView::OnWorkerFinished(uint64_t run) {
  // Already joined by StopAndWaitForWorker (perhaps a later run is going on by now).
  if (run != runId_ || !worker_.joinable()) return;
  worker_.join();
  emit calculationRunning(false);
}

void CZUBAView::StopAndWaitForWorker() {
  if (!worker_.joinable()) return;
  StopRequested.store(1);
  services_.SetWorkerDetached(true);
  if (!workerDone_.load(std::memory_order_acquire)) {
    // Wait with the event loop running: a progress request or a message of the worker that is
    // already on its way to this thread is carried out (as a no-op) instead of blocking both.
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
      if (workerDone_.load(std::memory_order_acquire)) loop.quit();
    });
    poll.start(10);
    loop.exec(QEventLoop::ExcludeUserInputEvents);
  }
  // The worker's end may have been handled (and the thread joined) inside the loop above.
  const bool joinedHere = worker_.joinable();
  if (joinedHere) worker_.join();
  services_.SetWorkerDetached(false);
  if (joinedHere) emit calculationRunning(false);
}

}  // namespace zuba
