// CZUBAView: results view, hand-over of finished results and printing (see view.h).
#include "graph/view.h"

#include <QFont>
#include <QFontMetricsF>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QPrinter>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <stdexcept>
#include <string>

#include "graph/results_plot.h"

namespace zuba {

CZUBAView::CZUBAView(ResultsHandOver& handOver, QWidget* parent)
    : QWidget(parent), handOver_(handOver) {
  // A white client area, erased before every paint.
  setAttribute(Qt::WA_OpaquePaintEvent);
  setAutoFillBackground(false);
  setMinimumSize(1, 1);
  paintMessages_.guiThread = std::this_thread::get_id();

  results_.reset();
}

void CZUBAView::OnInitialUpdate() {
  // The base view's initial update is a refresh.
  OnUpdate();
  if (document_ == nullptr) return;
  results_ = document_->DocumentResults();
  ResultsRefreshed();
  update();
}

void CZUBAView::ResultsRefreshed() {
  ++resultsGeneration_;
  ++record_;
  selected_ = -1;
  cache_.Clear();
  map_ = ViewMap{};
  mapFor_ = UINT64_MAX;
  difference_ = nullptr;  // the difference of another run's map
  differenceName_.clear();
  emit resultsRefreshed();
}

void CZUBAView::OnUpdate() {
  if (document_ == nullptr) return;
  results_ = document_->DocumentResults();
  ResultsRefreshed();
  int32_t pending = 1;
  if (handOver_.TransferPending.compare_exchange_strong(pending, 0, std::memory_order_acq_rel)) {
    // Inside the paint that transfers: that paint draws the new results.
    return;
  }
  update();
}

void CZUBAView::TransferPendingResults() {
  if (document_ == nullptr) return;
  if (handOver_.ResultsAvailable.load(std::memory_order_acquire) == 0) return;
  if (handOver_.TransferPending.load(std::memory_order_acquire) != 1) return;
  document_->DocumentResults() = handOver_.LatestResults;
  document_->SetModifiedFlag();
  document_->UpdateAllViews();  // refreshes results_ and clears TransferPending
  emit resultsTransferred();
}

bool CZUBAView::OnDraw(QPainter& painter, QSize clientSize) {
  if (document_ == nullptr) return false;
  if (handOver_.ResultsAvailable.load(std::memory_order_acquire) == 0) return false;
  TransferPendingResults();
  // A run whose every energy failed has no point to draw its energies' graphs with: the view says
  // so (instead of the scaling's message over a blank view).
  const bool ofEnergies = graphKind_ == GraphKind::Frequency ||
                          graphKind_ == GraphKind::Isochronism || graphKind_ == GraphKind::Tunes;
  if (ofEnergies && NoEnergyHasValues(results_)) {
    DrawNoEnergyHasValues(painter, clientSize, kScreenLogicalDpi);
    return true;
  }
  return DrawGraph(painter, results_, graphKind_, clientSize, Extras());
}

void CZUBAView::SetSelectedEnergy(int32_t energy) {
  if (energy < 0 || energy >= results_.Ek.size()) energy = -1;
  if (energy == selected_) return;
  selected_ = energy;
  update();
}

void CZUBAView::SetMapSource(ViewMapSource source) {
  mapSource_ = std::move(source);
  map_ = ViewMap{};
  mapFor_ = UINT64_MAX;
  cache_.Clear();
}

const ViewMap& CZUBAView::Map() {
  if (mapFor_ != record_) {
    map_ = mapSource_ ? mapSource_(results_) : ViewMap{nullptr, "No field map is at hand."};
    mapFor_ = record_;
  }
  return map_;
}

GraphExtras CZUBAView::Extras() {
  GraphExtras extras;
  extras.selected = selected_;
  extras.cache = &cache_;
  extras.compare = compare_.get();
  extras.compareName = compareName_;
  if (document_ != nullptr) extras.name = document_->GetTitle().toStdString();
  if (graphKind_ == GraphKind::Map && difference_) {
    extras.map = difference_;
    extras.difference = true;
    extras.differenceName = differenceName_;
  } else if (GraphNeedsMap(graphKind_)) {
    const ViewMap& map = Map();
    extras.map = map.grid;
    extras.mapNote = map.note;
  }
  return extras;
}

void CZUBAView::SetCompare(std::shared_ptr<const ResultTables> other, std::string name) {
  compare_ = std::move(other);
  compareName_ = compare_ ? std::move(name) : std::string();
  update();
}

void CZUBAView::SetMapDifference(std::shared_ptr<const FieldGrid> difference, std::string name) {
  difference_ = std::move(difference);
  differenceName_ = difference_ ? std::move(name) : std::string();
  update();
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
  if (event->button() == Qt::LeftButton) emit stopRequested();
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

}  // namespace zuba
