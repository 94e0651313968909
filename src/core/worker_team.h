// A team of worker threads that runs one loop at a time: every item of the
// loop once, on the calling thread and the team's threads, each worker
// knowing its own index so that it can use working memory of its own. Which
// worker takes which item varies from run to run; results that go to the
// item's own place are therefore the same for every team size.
#pragma once

#include <condition_variable>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace tessellar {

class WorkerTeam {
 public:
  // A team of `workers` workers: the caller of run() and workers - 1
  // threads. Threads that cannot be started (a process or memory limit) are
  // left out with one warning on standard error; the team then has fewer.
  explicit WorkerTeam(int workers);
  ~WorkerTeam();
  WorkerTeam(const WorkerTeam&) = delete;
  WorkerTeam& operator=(const WorkerTeam&) = delete;

  // The workers, the caller included (1 or more).
  int size() const { return static_cast<int>(threads_.size()) + 1; }

  // Calls body(worker, item) for item = 0 .. items - 1, worker being 0 (the
  // caller) to size() - 1; returns when every call has returned. The first
  // exception that a call throws is rethrown here once all have ended; the
  // items not started by then are not run.
  void run(int items, const std::function<void(int worker, int item)>& body);

 private:
  void work(int worker);
  void take_items(int worker);

  std::vector<std::thread> threads_;
  std::mutex mutex_;
  std::condition_variable start_;
  std::condition_variable done_;
  const std::function<void(int, int)>* body_ = nullptr;
  int items_ = 0;
  int next_ = 0;         // the next item to hand out
  long long round_ = 0;  // counts the loops, so that a thread joins each once
  int busy_ = 0;         // threads still in the current loop
  bool stop_ = false;
  std::exception_ptr error_;
};

}  // namespace tessellar
