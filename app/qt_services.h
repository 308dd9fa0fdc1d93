// The platform services of the desktop program: message boxes, and the progress bar that a run
// drives from its own thread without ever waiting for the user-interface thread.
#pragma once

#include <QPointer>
#include <QProgressBar>
#include <QWidget>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/message.h"
#include "platform/progress.h"

namespace zuba {

// Shows every message in a modal message box with one OK button, owned by the window the message
// names (the results view, the open dialog, or none). Only the user-interface thread shows
// messages: a run hands its messages over with its results.
class QtMessageService : public MessageService {
 public:
  void show(const Message& message) override;

  // The window of Owner::View.
  static void SetViewWindow(QWidget* view);
};

// The progress bar of the main window as a run drives it: four requests with the semantics of a
// progress control (the default step is 10; advancing past the upper end starts over at the lower
// end). A request from another thread is queued and returns at once (it only takes a lock for the
// queue); the user-interface thread carries the queued requests out in their order when it is
// told, by a signal without arguments, that there are some.
class QtProgressSink : public QObject, public ProgressSink {
  Q_OBJECT

 public:
  explicit QtProgressSink(QProgressBar* bar);

  void setRange(int32_t low, int32_t high) override;
  void setStep(int32_t step) override;
  void setPos(int32_t position) override;
  void stepIt() override;

  // Carries out the queued requests now (user-interface thread).
  void Drain();
  int32_t StepCount() const { return steps_.load(); }  // stepIt requests carried out

 signals:
  void requested();

 private:
  enum class Kind { Range, Step, Pos, StepIt };
  struct Request {
    Kind kind;
    int32_t a = 0, b = 0;
  };
  void Queue(Request request);
  void Apply(const Request& request);

  QPointer<QProgressBar> bar_;
  int32_t step_ = 10;  // user-interface thread only
  std::atomic<int32_t> steps_{0};
  std::mutex mutex_;            // guards queue_
  std::vector<Request> queue_;  // requests not yet carried out, in their order
};

}  // namespace zuba
