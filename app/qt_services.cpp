// Message boxes and the progress bar of the desktop program (see qt_services.h).
#include "app/qt_services.h"

#include <QApplication>
#include <QMessageBox>
#include <QThread>
#include <algorithm>
#include <utility>
#include <vector>

namespace zuba {
namespace {

QPointer<QWidget>& ViewWindow() {
  static QPointer<QWidget> view;
  return view;
}

bool OnGuiThread() {
  return QCoreApplication::instance() != nullptr &&
         QThread::currentThread() == QCoreApplication::instance()->thread();
}

QMessageBox::Icon BoxIcon(Icon icon) {
  switch (icon) {
    case Icon::Warning:
      return QMessageBox::Warning;
    case Icon::Information:
      return QMessageBox::Information;
    case Icon::Error:
      break;
  }
  return QMessageBox::Critical;
}

QWidget* OwnerWindow(Owner owner) {
  switch (owner) {
    case Owner::View:
      return ViewWindow().data();
    case Owner::Dialog:
      return QApplication::activeModalWidget();
    case Owner::None:
      break;
  }
  return nullptr;
}

}  // namespace

void QtMessageService::SetViewWindow(QWidget* view) {
  ViewWindow() = view;
}

void QtMessageService::show(const Message& message) {
  if (!OnGuiThread()) {
    // No thread but the user-interface thread shows messages; one that does all the same is
    // written to stderr rather than waiting for a box.
    ConsoleMessageService().show(message);
    return;
  }
  QMessageBox box(BoxIcon(message.icon), QString::fromStdString(message.caption),
                  QString::fromStdString(message.text), QMessageBox::Ok,
                  OwnerWindow(message.owner));
  box.exec();
}

QtProgressSink::QtProgressSink(QProgressBar* bar) : bar_(bar) {
  connect(this, &QtProgressSink::requested, this, &QtProgressSink::Drain, Qt::QueuedConnection);
}

void QtProgressSink::Queue(Request request) {
  bool first = false;
  {
    std::lock_guard lock(mutex_);
    first = queue_.empty();
    queue_.push_back(request);
  }
  if (OnGuiThread()) {
    Drain();
    return;
  }
  // One signal for the requests that gather until the user-interface thread takes them.
  if (first) emit requested();
}

void QtProgressSink::Drain() {
  std::vector<Request> requests;
  {
    std::lock_guard lock(mutex_);
    requests.swap(queue_);
  }
  for (const Request& request : requests) Apply(request);
}

void QtProgressSink::Apply(const Request& r) {
  if (!bar_) return;
  switch (r.kind) {
    case Kind::Range:
      bar_->setRange(r.a, r.b);
      break;
    case Kind::Step:
      step_ = r.a;
      break;
    case Kind::Pos:
      bar_->setValue(std::clamp(r.a, bar_->minimum(), bar_->maximum()));
      break;
    case Kind::StepIt: {
      int64_t position = static_cast<int64_t>(bar_->value()) + step_;
      if (position > bar_->maximum()) position = bar_->minimum();
      bar_->setValue(static_cast<int>(position));
      steps_.fetch_add(1);
      break;
    }
  }
}

void QtProgressSink::setRange(int32_t low, int32_t high) {
  Queue({Kind::Range, low, high});
}

void QtProgressSink::setStep(int32_t step) {
  Queue({Kind::Step, step, 0});
}

void QtProgressSink::setPos(int32_t position) {
  Queue({Kind::Pos, position, 0});
}

void QtProgressSink::stepIt() {
  Queue({Kind::StepIt, 0, 0});
}

}  // namespace zuba
