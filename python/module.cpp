// The Python module zuba._zuba: the field map, runs and their results over the calculation
// library; the package zuba (python/zuba/__init__.py) gives it its Python face.
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "python/binding.h"

namespace zuba::python {

namespace {

// A job thread: waits for work, runs it, and offers itself again.
struct JobThread {
  std::mutex mutex;
  std::condition_variable ready;
  std::function<void()> work;
};

// The idle job threads. Made once and never destroyed, as the threads waiting on it are never
// ended: they end with the process.
struct JobThreads {
  std::mutex mutex;
  std::vector<JobThread*> idle;
};

JobThreads& Pool() {
  static auto* pool = new JobThreads;  // NOLINT(cppcoreguidelines-owning-memory): lives on
  return *pool;
}

[[noreturn]] void Serve(JobThread* self) {
  for (;;) {
    std::function<void()> work;
    {
      std::unique_lock lock(self->mutex);
      self->ready.wait(lock, [self] { return static_cast<bool>(self->work); });
      work = std::exchange(self->work, nullptr);
    }
    work();
    work = nullptr;  // what the job captured goes before the thread is offered again
    std::lock_guard lock(Pool().mutex);
    Pool().idle.push_back(self);
  }
}

}  // namespace

void RunOnJobThread(std::function<void()> work) {
  JobThread* thread = nullptr;
  {
    std::lock_guard lock(Pool().mutex);
    if (!Pool().idle.empty()) {
      thread = Pool().idle.back();
      Pool().idle.pop_back();
    }
  }
  if (thread == nullptr) {
    thread = new JobThread;  // NOLINT(cppcoreguidelines-owning-memory): lives with its thread
    std::thread(Serve, thread).detach();
  }
  std::lock_guard lock(thread->mutex);
  thread->work = std::move(work);
  thread->ready.notify_one();
}

void RegisterErrors() {
  // pybind11 takes a translator of this exact signature (a function pointer).
  // NOLINTNEXTLINE(performance-unnecessary-value-param)
  py::register_exception_translator([](std::exception_ptr raised) {
    try {
      if (raised) std::rethrow_exception(raised);
    } catch (const ErrorRaised& e) {
      const py::object type = py::module_::import("zuba").attr(e.kind);
      const py::object error = type(e.message.text, e.message.caption);
      PyErr_SetObject(type.ptr(), error.ptr());
    }
  });
}

}  // namespace zuba::python

PYBIND11_MODULE(_zuba, m) {
  namespace zp = zuba::python;
  m.doc() = "The calculation library of ZUBA (use the package zuba).";
  m.attr("__version__") = ZUBA_VERSION;
  zp::RegisterErrors();
  zp::BindMaps(m);
  zp::BindRuns(m);
  zp::BindCorrections(m);
}
