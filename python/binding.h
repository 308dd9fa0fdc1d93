// What the parts of the Python module share: the exceptions that carry a failure to Python, NumPy
// arrays owned by Python, and the blocking call that runs a job on a thread of its own while the
// calling thread, without the GIL, waits, forwards progress and looks for Ctrl+C.
#pragma once

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <functional>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/outcome.h"
#include "platform/progress.h"
#include "platform/stop.h"

namespace zuba::python {

namespace py = pybind11;

// The Python exception a failure becomes: the class name under zuba.Error ("MapError",
// "ParameterError", "DocumentError", "CalculationError") and the message of the failure.
struct ErrorRaised {
  const char* kind;
  Message message;
};

[[noreturn]] inline void Raise(const char* kind, const Message& message) {
  throw ErrorRaised{kind, message};
}
// The failure's message with the file at fault in front of it, as the command line shows it.
[[noreturn]] inline void Raise(const char* kind, const Outcome& outcome) {
  Message message = outcome.message();
  message.text = TextNamingFile(outcome.failure());
  Raise(kind, message);
}
// The message of a failure that names a file or value beside the failure's own text.
[[noreturn]] inline void Raise(const char* kind, const std::string& prefix,
                               const Outcome& outcome) {
  Message message = outcome.message();
  message.text = prefix + ": " + message.text;
  Raise(kind, message);
}

// Registers the translation of ErrorRaised into the exception classes of the package zuba.
void RegisterErrors();

// A float64 array owned by Python with a copy of the values.
inline py::array_t<double> CopyArray(std::span<const double> values) {
  py::array_t<double> out(static_cast<py::ssize_t>(values.size()));
  std::copy(values.begin(), values.end(), out.mutable_data());
  return out;
}

// A float64 array of the values of argument `name` (any sequence NumPy converts), flattened, or a
// ValueError naming the argument.
std::vector<double> DoublesOf(const py::handle& values, const char* name);

// The progress of a job as the calling thread reads it: energies finished of the total.
class CountingProgress : public ProgressSink {
 public:
  void setRange(int32_t low, int32_t high) override {
    if (high > low) total_.store(high - low);
  }
  void setStep(int32_t) override {}
  void setPos(int32_t) override {}
  void stepIt() override { done_.fetch_add(1); }
  int32_t done() const { return done_.load(); }
  int32_t total() const { return total_.load(); }

 private:
  std::atomic<int32_t> done_{0}, total_{0};
};

// Runs work on a thread of the module's job threads and returns at once: an idle one, else a new
// one. The threads are kept for later jobs, one per job that runs at once, and end with the
// process: a thread started for every call cost a short standard run about 5 ms more than the
// same run on a thread that has run before (measured on the 2-core development machine).
void RunOnJobThread(std::function<void()> work);

// Runs job(stop) on a job thread and waits for it with the GIL released. At least every 100 ms,
// and when the job ends, the calling thread takes the GIL, calls tick() (progress callbacks; it
// may raise) and checks for a pending signal; Ctrl+C (or an exception of tick) asks the job to
// stop, waits for its end, and raises the Python exception — nothing the job made is returned.
template <class T>
T RunBlocking(const std::function<T(const StopToken&)>& job, const std::function<void()>& tick) {
  StopSource stop;
  std::mutex mutex;
  std::condition_variable ended;
  bool finished = false;
  std::optional<T> value;
  std::exception_ptr failure;
  RunOnJobThread([&, token = stop.Token()] {
    try {
      value.emplace(job(token));
    } catch (...) {
      failure = std::current_exception();
    }
    // The last touch of this call's variables: once `finished` is seen, the call may return.
    std::lock_guard lock(mutex);
    finished = true;
    ended.notify_all();
  });
  auto wait = [&](bool untilEnd) {
    py::gil_scoped_release release;
    std::unique_lock lock(mutex);
    if (untilEnd)
      ended.wait(lock, [&] { return finished; });
    else
      ended.wait_for(lock, std::chrono::milliseconds(100), [&] { return finished; });
    return finished;
  };
  bool done = false;
  while (!done) {
    done = wait(false);
    try {
      if (tick) tick();
      if (PyErr_CheckSignals() != 0) throw py::error_already_set();
    } catch (...) {
      stop.RequestStop();
      wait(true);
      throw;
    }
  }
  if (failure) std::rethrow_exception(failure);
  return std::move(*value);
}

// The hardware threads for None, else the count (1 .. 1024), or a ValueError naming `threads`.
int ThreadsOf(const py::object& threads);

void BindMaps(py::module_& m);
void BindRuns(py::module_& m);
void BindCorrections(py::module_& m);

}  // namespace zuba::python
