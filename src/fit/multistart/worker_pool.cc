// The workers take task numbers from one atomic counter until it passes the
// last task; the calling thread works as worker 0 and joins the others
// after; if the system refuses a thread, those already running do all the
// work. An exception is kept with its task number, and the one of the
// lowest task survives, so the error reported does not depend on timing.
#include "fit/multistart/worker_pool.h"

#include <algorithm>
#include <atomic>
#include <exception>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

namespace identify {

int default_thread_count() {
  return std::max(1, static_cast<int>(std::thread::hardware_concurrency()));
}

void WorkerPool::run(int tasks,
                     const std::function<void(int worker, int task)>& work) {
  std::atomic<int> next{0};
  std::mutex failure_mutex;
  std::exception_ptr failure;
  int failed_task = tasks;
  auto worker_loop = [&](int worker) {
    for (int task = next++; task < tasks; task = next++) {
      try {
        work(worker, task);
      } catch (...) {
        std::lock_guard<std::mutex> lock(failure_mutex);
        if (task < failed_task) {
          failed_task = task;
          failure = std::current_exception();
        }
      }
    }
  };
  const int workers = std::max(1, std::min(threads_, tasks));
  std::vector<std::thread> helpers;
  helpers.reserve(workers - 1);
  for (int w = 1; w < workers; ++w) {
    try {
      helpers.emplace_back(worker_loop, w);
    } catch (const std::system_error&) {
      break;  // fewer threads: the running workers take every task
    }
  }
  worker_loop(0);
  for (std::thread& t : helpers) t.join();
  if (failure) std::rethrow_exception(failure);
}

}  // namespace identify
