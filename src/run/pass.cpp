// The pass, single-threaded or on worker threads with ordered output.
#include "run/pass.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <exception>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "core/fatal.h"
#include "output/quality.h"

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
  const PassJob& job;
  const RunTables& tables;
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

// The leave-one-out check of row j, a typed SNP that the panel types and
// the haplotypes cover: imputed as if untyped, its dosages compared with
// its observed genotypes.
void check_typed(const RunTables& t, SnpImputer& imputer, int j, RowOutcome& o) {
  const SnpUnion& u = t.snp_union;
  if (u.study_row[j] < 0 || u.panel_row[j] < 0 || u.hap_row[j] < 0) return;
  if (!imputer.impute(j, Mode::untyped)) return;
  const SnpRecord& r = imputer.record();
  const int s = u.study_row[j];
  o.er2 = empirical_r2(t.study.geno.row(s), r.prob, r.nind);
  o.checked = true;
  o.checked_info = dosage_figures(r).info;
  const double f = t.study.freq[static_cast<std::size_t>(s)];
  o.checked_maf = std::min(f, 1 - f);
}

// Sets the record's figures, formats it, and notes them in the outcome.
void append_record(const PassInputs& in, SnpRecord& r, RowOutcome& o, std::string& out) {
  if (in.job.figures) {
    const DosageFigures figures = dosage_figures(r);
    r.af = figures.af;
    if (r.kind != SnpRecord::Kind::written_through) r.info = figures.info;
  }
  r.er2 = o.er2;
  in.job.format.append(r, out);
  o.af = r.af;
  o.info = r.info;
  o.score = r.score;
  if (in.job.outcomes != nullptr && r.kind != SnpRecord::Kind::written_through)
    o.tags = std::string(r.tags);
}

// Appends the records of rows [begin, end) to out and, when wanted, their
// outcomes; returns the targets met and those of them without a tag set. A
// list over budget propagates with *failed_row set to its row.
PassTotals process_rows(const PassInputs& in, SnpImputer& imputer, int begin, int end,
                        std::string& out, std::vector<RowOutcome>* outcomes, int* failed_row) {
  const RunTables& t = in.tables;
  const Settings& s = in.job.settings;
  PassTotals totals;
  for (int j = begin; j < end; ++j) {
    const RowAction action = row_action(s, t, j);
    *failed_row = j;
    RowOutcome o;
    o.row = j;
    if (s.loo) check_typed(t, imputer, j, o);
    if (action == RowAction::kWriteThrough) {
      SnpRecord r = written_through(t, t.snp_union.study_row[j]);
      append_record(in, r, o, out);
      o.result = RowOutcome::Result::written_through;
    } else if (is_target(action)) {
      const Mode mode = action == RowAction::kImputeUntyped ? Mode::untyped : Mode::incomplete;
      if (imputer.impute(j, mode)) {
        append_record(in, imputer.record(), o, out);
        o.result = mode == Mode::untyped ? RowOutcome::Result::untyped : RowOutcome::Result::typed;
      } else {
        o.result = RowOutcome::Result::no_tag_set;
        ++totals.without_tags;
      }
      ++totals.targets;
    }
    if (outcomes != nullptr) outcomes->push_back(std::move(o));
  }
  return totals;
}

int count_targets(const PassJob& job) {
  int targets = 0;
  for (int j = job.row_begin; j < job.row_end; ++j)
    targets += is_target(row_action(job.settings, job.tables, j)) ? 1 : 0;
  return targets;
}

PassTotals run_in_order(const PassInputs& in, OutputFile& output, Progress& progress) {
  PassTotals totals;
  const RunTables& t = in.tables;
  SnpImputer imputer(in.job.settings, t, in.job.figures);
  OutputChunk chunk;
  std::vector<RowOutcome> outcomes;
  std::vector<RowOutcome>* wanted = in.job.outcomes != nullptr ? &outcomes : nullptr;
  int failed_row = -1;
  for (int begin = in.job.row_begin; begin < in.job.row_end; begin += kRowsPerChunk) {
    const int end = std::min(in.job.row_end, begin + kRowsPerChunk);
    chunk.clear();
    outcomes.clear();
    try {
      const PassTotals got = process_rows(in, imputer, begin, end, chunk.text, wanted, &failed_row);
      totals.add(got);
      progress.add(got.targets);
    } catch (const ListBudgetExceeded&) {
      report_over_budget(t, failed_row, row_action(in.job.settings, t, failed_row));
    }
    output.prepare(chunk);
    output.write(chunk);
    if (wanted != nullptr) (*in.job.outcomes)(outcomes);
  }
  return totals;
}

// Chunks of rows go to the workers in order; a ring of slots holds the
// records of the chunks not yet written, so that memory stays bounded.
class ParallelPass {
 public:
  ParallelPass(const PassInputs& in, int threads)
      : in_(in),
        t_(in.tables),
        chunks_((in.job.row_end - in.job.row_begin + kRowsPerChunk - 1) / kRowsPerChunk),
        slots_(static_cast<std::size_t>(4 * threads)) {
    // Under a limit on processes or memory, only some threads may start
    // (a thread or its working memory cannot be had): the pass goes on with
    // those (none: the writing thread imputes alone). Each worker's memory
    // is made here, so that a worker that started cannot fail to get it.
    imputers_.reserve(static_cast<std::size_t>(threads));
    workers_.reserve(static_cast<std::size_t>(threads));
    for (int w = 0; w < threads; ++w) {
      try {
        imputers_.push_back(std::make_unique<SnpImputer>(in_.job.settings, t_, in_.job.figures));
        SnpImputer* imputer = imputers_.back().get();
        workers_.emplace_back([this, imputer] { work(*imputer); });
      } catch (const std::exception& e) {
        std::fprintf(stderr,
                     "Warning: only %d of %d worker threads could be started (%s); the run goes "
                     "on with %d.\n",
                     w, threads, e.what(), w == 0 ? 1 : w);
        break;
      }
    }
  }
  bool started() const { return !workers_.empty(); }
  ~ParallelPass() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stop_ = true;
    }
    changed_.notify_all();
    for (auto& worker : workers_) worker.join();
  }

  PassTotals write_all(OutputFile& output, Progress& progress) {
    PassTotals totals;
    for (int c = 0; c < chunks_; ++c) {
      Slot& slot = slot_of(c);
      std::unique_lock<std::mutex> lock(mutex_);
      changed_.wait(lock, [&] { return slot.done; });
      lock.unlock();
      if (slot.error) std::rethrow_exception(slot.error);
      if (slot.failed_row >= 0)
        report_over_budget(t_, slot.failed_row, row_action(in_.job.settings, t_, slot.failed_row));
      output.write(slot.chunk);
      if (in_.job.outcomes != nullptr) (*in_.job.outcomes)(slot.outcomes);
      progress.add(slot.totals.targets);
      totals.add(slot.totals);
      lock.lock();
      slot = Slot();
      ++written_;
      lock.unlock();
      changed_.notify_all();
    }
    return totals;
  }

 private:
  struct Slot {
    OutputChunk chunk;
    std::vector<RowOutcome> outcomes;
    PassTotals totals;
    int failed_row = -1;  // a row whose lists went over budget
    std::exception_ptr error;
    bool done = false;
  };

  Slot& slot_of(int chunk) { return slots_[static_cast<std::size_t>(chunk) % slots_.size()]; }

  void work(SnpImputer& imputer) {
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
      const int begin = in_.job.row_begin + c * kRowsPerChunk;
      const int end = std::min(in_.job.row_end, begin + kRowsPerChunk);
      int row = -1;
      try {
        result.totals =
            process_rows(in_, imputer, begin, end, result.chunk.text,
                         in_.job.outcomes != nullptr ? &result.outcomes : nullptr, &row);
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
  std::vector<std::unique_ptr<SnpImputer>> imputers_;  // one per worker
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

PassTotals run_pass(const PassJob& job, OutputFile& output) {
  const PassInputs in{job, job.tables, output};
  Progress progress(count_targets(job));
  if (job.settings.threads > 1) {
    ParallelPass pass(in, job.settings.threads);
    if (pass.started()) return pass.write_all(output, progress);
  }
  return run_in_order(in, output, progress);
}

}  // namespace tessellar
