// Helpers of the desktop program's tests: answering modal dialogs from inside their event loop,
// result records, temporary files, a shown main window, waiting for a condition.
#pragma once

#include <QPointer>
#include <QTemporaryDir>
#include <QTimer>
#include <QWidget>
#include <deque>
#include <functional>
#include <memory>
#include <string>

#include "results/result_tables.h"

namespace zuba {
class CMainFrame;
}

namespace zuba::test {

// Answers the modal dialogs that open, one handler per opening, in order: the handler gets the
// dialog while its modal loop runs (to fill it in and press a button).
class ModalAnswerer : public QObject {
 public:
  ModalAnswerer();
  void Then(std::function<void(QWidget*)> answer);
  // True when every handler has run.
  bool Done() const { return answers_.empty(); }
  int Answered() const { return answered_; }

 private:
  void Check();
  QTimer timer_;
  std::deque<std::function<void(QWidget*)>> answers_;
  QPointer<QWidget> last_;
  int answered_ = 0;
};

// A record of a run over n energies: Ek 0.6, 1.2, ... MeV, Rmn rising, F0 about 26 MHz, one
// orbit sample per energy, and a run description from the "TVK-310: p" preset.
ResultTables MakeResults(int n, double f0Offset = 0);

// Writes the small map of the run tests to path: radii 0.05 .. 0.4 m every 5 cm, azimuths every
// 10 degrees, flutter without the isochronous correction of the mean field. True when written.
bool WriteSmallMap(const std::string& path);

// A main window of width x height that answers "save changes?" with No, shown and exposed.
std::unique_ptr<CMainFrame> ShownMainFrame(int width, int height);

// Processes events until predicate holds or timeoutMs passed; returns predicate().
bool WaitFor(const std::function<bool()>& predicate, int timeoutMs = 10000);

}  // namespace zuba::test
