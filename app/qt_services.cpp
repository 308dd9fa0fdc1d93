// Message boxes and the progress bar for the calculation worker (see qt_services.h).
#include "app/qt_services.h"

#include <QApplication>
#include <QMessageBox>
#include <QThread>
#include <algorithm>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <vector>

namespace zuba {
namespace {

QPointer<QWidget>& ViewWindow() {
  static QPointer<QWidget> view;
  return view;
}

std::atomic<bool> workerDetached{false};

// Boxes of other threads' messages that are open (user-interface thread only).
std::vector<QPointer<QMessageBox>>& WorkerBoxes() {
  static std::vector<QPointer<QMessageBox>> boxes;
  return boxes;
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

// A message of another thread that waits for its box.
struct PendingBox {
  std::mutex mutex;
  std::condition_variable closed;
  bool done = false;
  void Finish() {
    {
      std::lock_guard lock(mutex);
      done = true;
    }
    closed.notify_all();
  }
  void Wait() {
    std::unique_lock lock(mutex);
    closed.wait(lock, [this] { return done; });
  }
};

}  // namespace

void QtMessageService::SetViewWindow(QWidget* view) {
  ViewWindow() = view;
}

void QtMessageService::SetWorkerDetached(bool detached) {
  workerDetached.store(detached);
  if (!detached) return;
  std::vector<QPointer<QMessageBox>> boxes;
  boxes.swap(WorkerBoxes());
  for (const QPointer<QMessageBox>& box : boxes) {
    if (box) box->done(QMessageBox::Ok);
  }
}

int QtMessageService::OpenWorkerBoxes() {
  int count = 0;
  for (const QPointer<QMessageBox>& box : WorkerBoxes()) count += box && box->isVisible() ? 1 : 0;
  return count;
}

void QtMessageService::show(const Message& message) {
  if (OnGuiThread()) {
    QMessageBox box(BoxIcon(message.icon), QString::fromStdString(message.caption),
                    QString::fromStdString(message.text), QMessageBox::Ok,
                    OwnerWindow(message.owner));
    box.exec();
    return;
  }
  if (workerDetached.load() || QCoreApplication::instance() == nullptr) {
    ConsoleMessageService().show(message);
    return;
  }
  auto pending = std::make_shared<PendingBox>();
  QMetaObject::invokeMethod(
      QCoreApplication::instance(),
      [pending, message] {
        if (workerDetached.load()) {
          ConsoleMessageService().show(message);
          pending->Finish();
          return;
        }
        auto* box = new QMessageBox(BoxIcon(message.icon), QString::fromStdString(message.caption),
                                    QString::fromStdString(message.text), QMessageBox::Ok);
        box->setAttribute(Qt::WA_DeleteOnClose);
        box->setWindowModality(Qt::NonModal);
        QObject::connect(box, &QDialog::finished, box, [pending] { pending->Finish(); });
        QObject::connect(box, &QObject::destroyed, [pending] { pending->Finish(); });
        std::erase_if(WorkerBoxes(), [](const QPointer<QMessageBox>& b) { return b.isNull(); });
        WorkerBoxes().emplace_back(box);
        box->show();
      },
      Qt::QueuedConnection);
  pending->Wait();
}

QtProgressSink::QtProgressSink(QProgressBar* bar) : bar_(bar) {}

template <class F>
void QtProgressSink::Run(F&& apply) {
  if (OnGuiThread()) {
    if (bar_) apply();
    return;
  }
  if (detached_.load() || !bar_) return;
  QMetaObject::invokeMethod(
      bar_.data(),
      [this, &apply] {
        if (!detached_.load() && bar_) apply();
      },
      Qt::BlockingQueuedConnection);
}

void QtProgressSink::setRange(int32_t low, int32_t high) {
  Run([&] { bar_->setRange(low, high); });
}

void QtProgressSink::setStep(int32_t step) {
  Run([&] { step_ = step; });
}

void QtProgressSink::setPos(int32_t position) {
  Run([&] { bar_->setValue(std::clamp(position, bar_->minimum(), bar_->maximum())); });
}

void QtProgressSink::stepIt() {
  Run([&] {
    int64_t position = static_cast<int64_t>(bar_->value()) + step_;
    if (position > bar_->maximum()) position = bar_->minimum();
    bar_->setValue(static_cast<int>(position));
    steps_.fetch_add(1);
  });
}

}  // namespace zuba
