// The fit runs on a worker thread so that the thread that called it, the
// one Python delivers signals to, stays free to run the signal handlers:
// it waits on the fit's completion in slices of 50 ms and between slices
// takes the GIL for PyErr_CheckSignals(). A handler that raises sets the
// fit's stop word to SIGINT, the same word the console program's handler
// sets, so the fit ends as it would there: the starts not begun are
// skipped and the best point so far is the result. Waiting for that end
// before raising keeps the library's state consistent; the exception then
// reaches the caller. Callbacks arrive on the library's threads and take
// the GIL for the call into Python.
#include "released_fit.h"

#include <atomic>
#include <condition_variable>
#include <csignal>
#include <exception>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>

namespace identify::python {

namespace py = pybind11;

namespace {

constexpr auto kSignalPoll = std::chrono::milliseconds(50);

// The iteration callback that calls `progress` under the GIL. An exception
// from it is kept in `error` and stops the fit.
std::function<CallbackReturn(const IterationEvent&)> progress_callback(
    const py::object& progress, std::optional<py::error_already_set>& error) {
  return [&progress, &error](const IterationEvent& e) {
    py::gil_scoped_acquire gil;
    if (error) return CallbackReturn::kStop;
    try {
      py::dict event;
      event["experiment"] = e.experiment;
      event["iteration"] = e.iteration;
      event["objective"] = e.objective;
      event["likelihood"] = e.likelihood;
      const py::object answer = progress(event);
      if (py::isinstance<py::bool_>(answer) && !answer.cast<bool>()) {
        return CallbackReturn::kStop;
      }
    } catch (py::error_already_set& raised) {
      error.emplace(std::move(raised));
      return CallbackReturn::kStop;
    }
    return CallbackReturn::kContinue;
  };
}

}  // namespace

ReleasedFit fit_without_gil(const Problem& problem, FitOptions options,
                            const py::object& progress) {
  std::atomic<int> stop{0};
  options.stop = &stop;
  std::optional<py::error_already_set> progress_error;
  Callbacks callbacks;
  if (!progress.is_none()) {
    callbacks.on_iteration = progress_callback(progress, progress_error);
  }
  std::mutex mutex;
  std::condition_variable finished;
  bool done = false;
  std::optional<Result> result;
  std::exception_ptr failure;
  std::optional<py::error_already_set> interrupt;
  {
    py::gil_scoped_release release;
    std::thread worker([&] {
      try {
        result.emplace(fit(problem, options, callbacks));
      } catch (...) {
        failure = std::current_exception();
      }
      const std::lock_guard<std::mutex> lock(mutex);
      done = true;
      finished.notify_one();
    });
    std::unique_lock<std::mutex> lock(mutex);
    while (!finished.wait_for(lock, kSignalPoll, [&] { return done; })) {
      if (interrupt) continue;
      lock.unlock();
      {
        py::gil_scoped_acquire gil;
        if (PyErr_CheckSignals() != 0) {
          interrupt.emplace();
          stop.store(SIGINT);
        }
      }
      lock.lock();
    }
    lock.unlock();
    worker.join();
  }
  if (failure) std::rethrow_exception(failure);
  if (progress_error) throw std::move(*progress_error);
  ReleasedFit out{std::move(*result), py::none()};
  if (interrupt) out.interrupt = interrupt->value();
  return out;
}

}  // namespace identify::python
