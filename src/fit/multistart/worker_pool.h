// Runs independent tasks on a few threads. Each thread is a worker with an
// index 0 .. threads − 1 (the calling thread is worker 0), so that the caller
// can give each worker its own model and working storage: models are not
// shared between threads. Tasks are handed out in ascending order as
// workers become free; a task's result must depend only on the task, never
// on the worker that runs it, so that results do not depend on the number
// of threads.
#pragma once

#include <functional>

namespace identify {

// The number of worker threads to use when none is asked for: the cores
// the system reports (at least 1).
int default_thread_count();

class WorkerPool {
 public:
  // threads >= 1.
  explicit WorkerPool(int threads) : threads_(threads) {}

  int threads() const { return threads_; }

  // Calls work(worker, task) once for every task 0 .. tasks − 1 on at most
  // min(threads, tasks) workers and returns when all have finished. If
  // tasks throw, the others still run, and the exception of the lowest
  // task is rethrown here.
  void run(int tasks, const std::function<void(int worker, int task)>& work);

 private:
  int threads_ = 1;
};

}  // namespace identify
