// The platform services of the desktop program: message boxes and the progress bar, reachable from
// the user-interface thread and from the calculation worker alike.
#pragma once

#include <QPointer>
#include <QProgressBar>
#include <QWidget>
#include <atomic>
#include <cstdint>

#include "platform/message.h"
#include "platform/progress.h"

namespace zuba {

// Shows every message in a message box with one OK button.
// On the user-interface thread the box is modal and owned by the window the message names (the
// results view, the open dialog, or none). A message of another thread (the worker) is carried to
// the user-interface thread as a box without owner that leaves the rest of the program usable;
// the calling thread waits until the box is closed.
class QtMessageService : public MessageService {
 public:
  void show(const Message& message) override;

  // The window of Owner::View.
  static void SetViewWindow(QWidget* view);
  // While detached, messages of other threads are written to stderr instead of waiting for a box,
  // and the boxes of such messages that are open are closed (their threads go on).
  static void SetWorkerDetached(bool detached);
  // Boxes of other threads' messages that are open now.
  static int OpenWorkerBoxes();
};

// The progress bar of the main window as the calculation drives it: four requests with the
// semantics of a progress control (the default step is 10; advancing past the upper end starts
// over at the lower end). A request from another thread is carried out on the user-interface
// thread and returns when done.
class QtProgressSink : public ProgressSink {
 public:
  explicit QtProgressSink(QProgressBar* bar);

  void setRange(int32_t low, int32_t high) override;
  void setStep(int32_t step) override;
  void setPos(int32_t position) override;
  void stepIt() override;

  // While detached, requests of other threads return at once and change nothing.
  void SetDetached(bool detached) { detached_.store(detached); }
  int32_t StepCount() const { return steps_.load(); }  // stepIt requests carried out

 private:
  template <class F>
  void Run(F&& apply);

  QPointer<QProgressBar> bar_;
  std::atomic<bool> detached_{false};
  int32_t step_ = 10;  // user-interface thread only
  std::atomic<int32_t> steps_{0};
};

}  // namespace zuba
