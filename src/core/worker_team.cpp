// The worker team: a loop handed out item by item under one mutex.
#include "core/worker_team.h"

#include <cstdio>
#include <exception>

namespace tessellar {

WorkerTeam::WorkerTeam(int workers) {
  threads_.reserve(static_cast<std::size_t>(workers > 1 ? workers - 1 : 0));
  for (int w = 1; w < workers; ++w) {
    try {
      threads_.emplace_back([this, w] { work(w); });
    } catch (const std::exception& e) {
      std::fprintf(stderr,
                   "Warning: only %d of %d worker threads could be started (%s); the run goes "
                   "on with %d.\n",
                   w, workers, e.what(), w);
      break;
    }
  }
}

WorkerTeam::~WorkerTeam() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  start_.notify_all();
  for (std::thread& t : threads_) t.join();
}

void WorkerTeam::take_items(int worker) {
  for (;;) {
    int item;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (next_ >= items_ || error_) return;
      item = next_++;
    }
    try {
      (*body_)(worker, item);
    } catch (...) {
      std::lock_guard<std::mutex> lock(mutex_);
      if (!error_) error_ = std::current_exception();
    }
  }
}

void WorkerTeam::work(int worker) {
  long long seen = 0;
  for (;;) {
    {
      std::unique_lock<std::mutex> lock(mutex_);
      start_.wait(lock, [&] { return stop_ || round_ != seen; });
      if (stop_) return;
      seen = round_;
    }
    take_items(worker);
    {
      std::lock_guard<std::mutex> lock(mutex_);
      --busy_;
    }
    done_.notify_all();
  }
}

void WorkerTeam::run(int items, const std::function<void(int worker, int item)>& body) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    body_ = &body;
    items_ = items;
    next_ = 0;
    error_ = nullptr;
    busy_ = static_cast<int>(threads_.size());
    ++round_;
  }
  start_.notify_all();
  take_items(0);
  std::unique_lock<std::mutex> lock(mutex_);
  done_.wait(lock, [&] { return busy_ == 0; });
  body_ = nullptr;
  if (error_) {
    std::exception_ptr error = error_;
    error_ = nullptr;
    lock.unlock();
    std::rethrow_exception(error);
  }
}

}  // namespace tessellar
