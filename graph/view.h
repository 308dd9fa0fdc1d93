// CZUBAView: the results view of the desktop program. It shows the graph of the particle rotation
// frequency F0 against the mean orbit radius Rmn (or the isochronism error, or the tune diagram),
// prints it, and takes finished results over from the hand-over of the runs it shows. It reaches
// its document through ViewDocument. The commands that start and stop runs live with the
// application (app/), which listens to stopRequested().
#pragma once

#include <QSize>
#include <QWidget>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

#include "graph/closure_plot.h"
#include "platform/message.h"
#include "results/hand_over.h"
#include "results/result_tables.h"

class QPainter;
class QPrinter;

namespace zuba {

// What the view needs of its document.
class ViewDocument {
 public:
  virtual ~ViewDocument() = default;
  // The document's instance of the results.
  virtual ResultTables& DocumentResults() = 0;
  virtual void SetModifiedFlag() = 0;
  // Notifies every view of the document (OnUpdate).
  virtual void UpdateAllViews() = 0;
  // The document's title: its file name, or the default name of a new document.
  virtual QString GetTitle() const = 0;
};

class CZUBAView : public QWidget {
  Q_OBJECT

 public:
  // handOver: where the runs shown in this view hand their results over.
  explicit CZUBAView(ResultsHandOver& handOver, QWidget* parent = nullptr);

  void SetDocument(ViewDocument* document) { document_ = document; }
  ViewDocument* GetDocument() const { return document_; }

  // After a new or opened document is attached: the base refresh (OnUpdate), then the document's
  // results into the view's, and a repaint.
  void OnInitialUpdate();
  // Any update notification: the document's results into the view's; clears a pending transfer
  // without a repaint (it runs inside the paint that transfers), repaints otherwise.
  void OnUpdate();
  // The one drawing routine of screen, printer and preview: performs a pending transfer, then
  // draws the graph laid out in a client area of clientSize logical pixels. Returns what
  // DrawResultsGraph returned (false when nothing was drawn).
  bool OnDraw(QPainter& painter, QSize clientSize);
  // Copies LatestResults into the document when a completed run waits for its transfer.
  void TransferPendingResults();

  // The page of a print job or of the preview: the header "File:  <title>" in 12 pt Times New
  // Roman, and under it the graph as laid out for the current client size, scaled so that its
  // larger dimension spans 8 inches. pageSize is the printable area in device pixels, dpiX and dpiY
  // the device's pixels per inch.
  void PrintPage(QPainter& painter, QSize pageSize, int dpiX, int dpiY);
  // Prints one page on printer (a print job or a PDF file); false when the printer cannot be
  // painted on.
  bool Print(QPrinter& printer);
  // The header of a printed page.
  QString PrintHeader() const;

  // The graph that the view, its printing and its preview draw (View menu); the rotation frequency
  // unless set. Repaints.
  void SetGraphKind(GraphKind kind);
  GraphKind GetGraphKind() const { return graphKind_; }

  const ResultTables& ViewResults() const { return results_; }
  ResultsHandOver& HandOver() { return handOver_; }

 signals:
  // Emitted after a paint has copied LatestResults into the document.
  void resultsTransferred();
  // A double click with the left button: the user asks a running calculation to stop.
  void stopRequested();

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;

 private:
  // Draws through DrawCollectingMessages; a table failure of a damaged record ends the drawing.
  void DrawGuarded(QPainter& painter, QSize clientSize);
  // Draws with the messages of the graph ("No real values in X array!") collected instead of
  // shown, and shows them afterwards, once per results record and outside of any paint.
  bool DrawCollectingMessages(QPainter& painter, QSize clientSize);

  // Collects the messages raised on the user-interface thread while it is installed; messages of
  // other threads (the worker) go on to the service that was installed before.
  class PaintMessages : public MessageService {
   public:
    void show(const Message& message) override;
    std::thread::id guiThread;
    std::atomic<MessageService*> next{nullptr};
    std::mutex mutex;
    std::vector<Message> collected;
  };

  ResultsHandOver& handOver_;
  ViewDocument* document_ = nullptr;
  ResultTables results_;  // the view's instance; the graph and the report read only this one

  uint64_t resultsGeneration_ = 0;          // counts the refreshes of results_
  uint64_t messagesShownFor_ = UINT64_MAX;  // the generation whose graph messages were shown
  PaintMessages paintMessages_;

  GraphKind graphKind_ = GraphKind::Frequency;  // graph drawn
};

}  // namespace zuba
