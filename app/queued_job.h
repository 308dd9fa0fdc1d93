// A long job on a runner whose result reaches the user-interface thread by value in one queued
// call: the calculation and the isochronise search of the desktop program start through it.
//
// The job writes its result where the relay keeps it and then only signals, without arguments: the
// slot on the user-interface thread first joins the runner, so that everything the job wrote
// happens before it is read (the thread's end is the synchronisation, not the event queue).
#pragma once

#include <QObject>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <utility>

#include "platform/runner.h"

namespace zuba {

// Lives on the user-interface thread; its signal is emitted from a runner's thread.
class JobRelay : public QObject {
  Q_OBJECT

 public:
  using QObject::QObject;

 signals:
  void jobReturned();
  // A job's progress note is waiting (the job keeps it behind a lock of its own).
  void progressed();
};

// Runs job(stop) on the runner's thread; what it returns is handed to done on the thread of the
// relay (the user-interface thread) in one queued call, after the runner's thread has been joined.
// The job never waits for that thread. The relay must outlive the runner's thread (its owner stops
// and joins the runner first); a call still queued when the relay goes is dropped with it. False
// when the runner is still busy with an earlier job.
template <class T>
bool StartQueued(Runner& runner, JobRelay& relay, std::function<T(const StopToken&)> job,
                 std::function<void(T)> done) {
  if (runner.Busy()) return false;
  auto result = std::make_shared<std::optional<T>>();
  // Connected before the job starts, so that its signal cannot come first; undone when no job
  // starts. A call that arrives after its job was joined elsewhere (a stop) and a later job
  // started leaves the later job running.
  const uint64_t started = runner.Started() + 1;
  const QMetaObject::Connection connection = QObject::connect(
      &relay, &JobRelay::jobReturned, &relay,
      [&runner, started, result, done = std::move(done)] {
        if (runner.Started() == started) runner.Join();
        done(std::move(**result));
      },
      static_cast<Qt::ConnectionType>(Qt::QueuedConnection | Qt::SingleShotConnection));
  try {
    if (runner.Start([&relay, result, job = std::move(job)](const StopToken& stop) {
          result->emplace(job(stop));
          emit relay.jobReturned();
        }))
      return true;
  } catch (...) {
    QObject::disconnect(connection);
    throw;
  }
  QObject::disconnect(connection);
  return false;
}

}  // namespace zuba
