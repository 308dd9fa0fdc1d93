// CZUBAView: the results view of the desktop program. It shows the graph of the particle rotation
// frequency F0 against the mean orbit radius Rmn, prints it, takes finished results over from the
// calculation, and hosts the calculation command, the report command and the double-click stop
// request. It reaches the dialogs, the progress bar and the file chooser of the report through
// ViewServices, and its document through ViewDocument; the application implements both.
#pragma once

#include <QSize>
#include <QWidget>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "calc/driver.h"
#include "graph/closure_plot.h"
#include "platform/message.h"
#include "platform/progress.h"
#include "results/result_tables.h"
#include "results/run_parameters.h"

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

// What the view's commands need of the application around it.
class ViewServices {
 public:
  virtual ~ViewServices() = default;
  // Runs the Mode dialog modally; true with the chosen label after OK.
  virtual bool RunModeDialog(std::string& modeLabel) = 0;
  // Runs the Input Data dialog modally on parameters; true after Enter, with parameters updated.
  virtual bool RunInputDataDialog(RunParameters& parameters) = 0;
  // The progress bar as the worker drives it (synchronous requests from any thread).
  virtual ProgressSink& Progress() = 0;
  // While detached, the worker's progress requests and messages return at once without waiting
  // for the user-interface thread: set while the view stops a worker and waits for it.
  virtual void SetWorkerDetached(bool detached) = 0;
  // The save-file chooser of the report; an empty text when no file name was chosen.
  virtual std::string AskReportPath() = 0;
  // A short note on the status bar (a run refused by a silent parameter check).
  virtual void ShowStatusNote(const std::string& text) = 0;
};

class CZUBAView : public QWidget {
  Q_OBJECT

 public:
  explicit CZUBAView(ViewServices& services, QWidget* parent = nullptr);
  // Stops a running worker and waits for it: the worker reads the view's calculation record.
  ~CZUBAView() override;

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

  // Calculate > Equilibrium Orbits...: dialogs, checks, field map, then the worker thread.
  void OnCalculateEquilibriumOrbits();
  // Calculate > Save As...: the text report of the view's results.
  void SaveResultsReport();
  // Enabling of the report command: exactly while results are available.
  static bool CanSaveResultsReport();

  bool IsCalculationRunning() const { return worker_.joinable(); }
  // Asks a running worker to stop and waits for it, processing the user-interface thread's events
  // meanwhile (so that a pending progress request or message box cannot dead-lock the wait). The
  // worker's progress requests and messages return at once while it winds down.
  void StopAndWaitForWorker();

  // How the next run closes its orbits (Calculate > Precise Closed Orbits); the default search
  // unless set.
  void SetClosureMode(ClosureMode mode) { closure_ = mode; }
  ClosureMode GetClosureMode() const { return closure_; }
  // The graph that the view, its printing and its preview draw (View menu); the rotation frequency
  // unless set. Repaints.
  void SetGraphKind(GraphKind kind);
  GraphKind GetGraphKind() const { return graphKind_; }

  const ResultTables& ViewResults() const { return results_; }
  const CalculationRecord& Record() const { return record_; }
  const RunParameters& InputData() const { return inputData_; }

 signals:
  // A worker was started (true) or has ended and been joined (false).
  void calculationRunning(bool running);
  // Emitted after a paint has copied LatestResults into the document.
  void resultsTransferred();

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;

 private:
  // Copies LatestResults into the document when a completed run waits for its transfer.
  void TransferPendingResults();
  void OnWorkerFinished(uint64_t run);
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

  ViewServices& services_;
  ViewDocument* document_ = nullptr;
  ResultTables results_;      // the view's instance; the graph and the report read only this one
  RunParameters inputData_;   // the Input Data dialog's record
  CalculationRecord record_;  // what the worker is given; written only while no worker runs
  std::thread worker_;
  std::atomic<bool> workerDone_{false};
  uint64_t runId_ = 0;  // counts the workers started

  uint64_t resultsGeneration_ = 0;          // counts the refreshes of results_
  uint64_t messagesShownFor_ = UINT64_MAX;  // the generation whose graph messages were shown
  PaintMessages paintMessages_;

  ClosureMode closure_ = ClosureMode::Described;  // closure of the next run
  GraphKind graphKind_ = GraphKind::Frequency;    // graph drawn
};

}  // namespace zuba
