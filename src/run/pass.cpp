// The pass, single-threaded or on worker threads with ordered output.
#include "run/pass.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <exception>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "core/fatal.h"

namespace tessellar {
namespace {

constexpr int kRowsPerChunk = 16;

// A study SNP whose share of missing codes is below this is complete.
constexpr double kCompleteMissing = 0.000001;

// Progress of the targets on standard error, at most four updates a second,
// only when standard error is a terminal.
class Progress {
 public:
  explicit Progress(int total) : total_(total), shown_(total > 0 && ::isatty(2) == 1) {
    start_ = last_ = std::chrono::steady_clock::now();
  }
  ~Progress() {
    if (shown_ && printed_) std::fprintf(stderr, "\r%60s\r", "");
  }
  void add(int targets) {
    done_ += targets;
    if (!shown_) return;
    auto now = std::chrono::steady_clock::now();
    if (now - last_ < std::chrono::milliseconds(250) && done_ < total_) return;
    last_ = now;
    double seconds = std::chrono::duration<double>(now - start_).count();
    double rate = seconds > 0 ? done_ / seconds : 0.0;
    int left = rate > 0 ? static_cast<int>((total_ - done_) / rate + 0.5) : 0;
    std::fprintf(stderr, "\r  %d / %d targets imputed, %.0f per second, %d:%02d left   ", done_,
                 total_, rate, left / 60, left % 60);
    printed_ = true;
  }

 private:
  int total_;
  int done_ = 0;
  bool shown_;
  bool printed_ = false;
  std::chrono::steady_clock::time_point start_, last_;
};

// What the pass works from.
struct PassInputs {
  const Settings& settings;
  const RunTables& tables;
  const RecordFormat& format;
  const OutputFile& output;  // for preparing chunks on the workers
};

bool is_target(RowAction action) {
  return action == RowAction::kImputeUntyped || action == RowAction::kImputeIncomplete;
}

[[noreturn]] void report_over_budget(const RunTables& t, int j, RowAction action) {
  const SnpUnion& u = t.snp_union;
  const std::string& name = action == RowAction::kImputeUntyped ? t.panel.name[u.panel_row[j]]
                                                                : t.study.name[u.study_row[j]];
  fatal(
      "SNP '%s' at position %d: its haplotype windows need more than %zu haplotype pairs or "
      "family configurations; use a smaller -tag.",
      name.c_str(), u.pos[j], kListBudget);
}

// Appends the records of rows [begin, end) to out; returns the targets met.
// A list over budget propagates with *failed_row set to its row.
int process_rows(const PassInputs& in, SnpImputer& imputer, int begin, int end, std::string& out,
                 int* failed_row) {
  const RunTables& t = in.tables;
  int targets = 0;
  for (int j = begin; j < end; ++j) {
    const RowAction action = row_action(in.settings, t, j);
    *failed_row = j;
    if (action == RowAction::kWriteThrough) {
      in.format.append(written_through(t, t.snp_union.study_row[j]), out);
    } else if (is_target(action)) {
      const Mode mode = action == RowAction::kImputeUntyped ? Mode::untyped : Mode::incomplete;
      if (imputer.impute(j, mode)) in.format.append(imputer.record(), out);
      ++targets;
    }
  }
  return targets;
}

int count_targets(const Settings& s, const RunTables& t) {
  int targets = 0;
  for (int j = 0; j < t.snp_union.n; ++j) targets += is_target(row_action(s, t, j)) ? 1 : 0;
  return targets;
}

void run_in_order(const PassInputs& in, OutputFile& output, Progress& progress) {
  const RunTables& t = in.tables;
  SnpImputer imputer(in.settings, t);
  OutputChunk chunk;
  int failed_row = -1;
  for (int begin = 0; begin < t.snp_union.n; begin += kRowsPerChunk) {
    int end = std::min(t.snp_union.n, begin + kRowsPerChunk);
    chunk.clear();
    try {
      progress.add(process_rows(in, imputer, begin, end, chunk.text, &failed_row));
    } catch (const ListBudgetExceeded&) {
      report_over_budget(t, failed_row, row_action(in.settings, t, failed_row));
    }
    output.prepare(chunk);
    output.write(chunk);
  }
}

// Chunks of rows go to the workers in order; a ring of slots holds the
// records of the chunks not yet written, so that memory stays bounded.
class ParallelPass {
 public:
  ParallelPass(const PassInputs& in, int threads)
      : in_(in),
        t_(in.tables),
        chunks_((t_.snp_union.n + kRowsPerChunk - 1) / kRowsPerChunk),
        slots_(static_cast<std::size_t>(4 * threads)) {
    for (int w = 0; w < threads; ++w) workers_.emplace_back([this] { work(); });
  }
  ~ParallelPass() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stop_ = true;
    }
    changed_.notify_all();
    for (auto& worker : workers_) worker.join();
  }

  void write_all(OutputFile& output, Progress& progress) {
    for (int c = 0; c < chunks_; ++c) {
      Slot& slot = slot_of(c);
      std::unique_lock<std::mutex> lock(mutex_);
      changed_.wait(lock, [&] { return slot.done; });
      lock.unlock();
      if (slot.error) std::rethrow_exception(slot.error);
      if (slot.failed_row >= 0)
        report_over_budget(t_, slot.failed_row, row_action(in_.settings, t_, slot.failed_row));
      output.write(slot.chunk);
      progress.add(slot.targets);
      lock.lock();
      slot = Slot();
      ++written_;
      lock.unlock();
      changed_.notify_all();
    }
  }

 private:
  struct Slot {
    OutputChunk chunk;
    int targets = 0;
    int failed_row = -1;  // a row whose lists went over budget
    std::exception_ptr error;
    bool done = false;
  };

  Slot& slot_of(int chunk) { return slots_[static_cast<std::size_t>(chunk) % slots_.size()]; }

  void work() {
    SnpImputer imputer(in_.settings, t_);
    for (;;) {
      int c = next_.fetch_add(1);
      if (c >= chunks_) return;
      {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock,
                      [&] { return stop_ || c < written_ + static_cast<int>(slots_.size()); });
        if (stop_) return;
      }
      Slot result;
      int begin = c * kRowsPerChunk;
      int end = std::min(t_.snp_union.n, begin + kRowsPerChunk);
      int row = -1;
      try {
        result.targets = process_rows(in_, imputer, begin, end, result.chunk.text, &row);
        in_.output.prepare(result.chunk);
      } catch (const ListBudgetExceeded&) {
        result.failed_row = row;
      } catch (...) {
        result.error = std::current_exception();
      }
      result.done = true;
      {
        std::lock_guard<std::mutex> lock(mutex_);
        slot_of(c) = std::move(result);
      }
      changed_.notify_all();
    }
  }

  const PassInputs& in_;
  const RunTables& t_;
  const int chunks_;
  std::vector<Slot> slots_;
  std::vector<std::thread> workers_;
  std::atomic<int> next_{0};
  std::mutex mutex_;
  std::condition_variable changed_;
  int written_ = 0;
  bool stop_ = false;
};

}  // namespace

RowAction row_action(const Settings& s, const RunTables& t, int j) {
  const SnpUnion& u = t.snp_union;
  const int study_row = u.study_row[j];
  const int panel_row = u.panel_row[j];
  if (panel_row >= 0 && study_row < 0) return RowAction::kImputeUntyped;
  if (study_row >= 0 && t.study.miss[study_row] < kCompleteMissing) return RowAction::kWriteThrough;
  if (study_row >= 0 && (s.hap_flag == 0 || s.speed_flag == 0 || u.hap_row[j] >= 0))
    return RowAction::kImputeIncomplete;
  return RowAction::kSkip;
}

void run_pass(const Settings& settings, const RunTables& tables, const RecordFormat& format,
              OutputFile& output) {
  const PassInputs in{settings, tables, format, output};
  Progress progress(count_targets(settings, tables));
  if (settings.threads <= 1) {
    run_in_order(in, output, progress);
    return;
  }
  ParallelPass pass(in, settings.threads);
  pass.write_all(output, progress);
}

}  // namespace tessellar
