// The hmm engine's pass: windows, slices of a window's rows, the doses on
// the worker team, and the records in batches of chunks written in order.
#include "run/hmm_pass.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "core/worker_team.h"
#include "hmm/window_doses.h"
#include "hmm/window_genotypes.h"
#include "hmm/window_layout.h"
#include "output/quality.h"
#include "run/engine.h"

namespace tessellar {

namespace {

constexpr int kRowsPerChunk = 16;
constexpr int kChunksPerBatch = 64;  // the records formatted before they are written

float clamped(float x) {
  return std::clamp(x, 0.0f, 1.0f);
}

// Per-worker memory of the record stage.
struct RecordWorker {
  std::array<std::vector<double>, 3> prob;     // the record's probabilities
  std::array<std::vector<double>, 3> checked;  // the leave-one-out imputation's
  explicit RecordWorker(int nind) {
    for (auto& p : prob) p.assign(static_cast<std::size_t>(nind), 0.0);
    for (auto& p : checked) p.assign(static_cast<std::size_t>(nind), 0.0);
  }
  void set(std::array<std::vector<double>, 3>& to, int i, double x1, double x2) {
    const hmm::GenotypeProbabilities g = hmm::genotype_probabilities(x1, x2);
    const auto k = static_cast<std::size_t>(i);
    to[0][k] = g.p0;
    to[1][k] = g.p1;
    to[2][k] = g.p2;
  }
  // The probabilities p[0 .. 2] averaged over phase.
  void set(std::array<std::vector<double>, 3>& to, int i, const float* p) {
    for (int g = 0; g < 3; ++g) to[static_cast<std::size_t>(g)][static_cast<std::size_t>(i)] = p[g];
  }
};

// The records of one chunk of rows, formatted and prepared for writing.
struct ChunkSlot {
  OutputChunk chunk;
  std::vector<RowOutcome> outcomes;
  PassTotals totals;
};

// The phasing's settings of the run.
hmm::PhasingParameters phasing_parameters(const Settings& s) {
  hmm::PhasingParameters p;
  p.phasing.rounds = s.rounds;
  p.phasing.choice.states = s.states;
  p.draws = s.draws;
  p.seed = static_cast<uint64_t>(s.seed);
  return p;
}

class HmmPass {
 public:
  HmmPass(const PassJob& job, const hmm::ContigTables& tables,
          const hmm::ModelParameters& parameters, OutputFile& output, std::size_t max_doses);
  PassTotals run();

 private:
  void impute_window(long long w, int begin, int end);
  bool given_phase() const;
  void impute_slice(int begin, int end);
  void write_records(int begin, int end);
  void make_chunk(RecordWorker& worker, int begin, int end, ChunkSlot& slot) const;
  void make_row(RecordWorker& worker, int j, ChunkSlot& slot) const;
  void untyped_record(RecordWorker& worker, int j, int u, SnpRecord& r) const;
  void typed_record(RecordWorker& worker, int j, int m, SnpRecord& r) const;
  void check_typed(RecordWorker& worker, int j, int m, RowOutcome& o) const;

  const PassJob& job_;
  const RunTables& t_;
  const hmm::ContigTables tables_;
  const hmm::ModelParameters parameters_;
  OutputFile& output_;
  const std::size_t max_doses_;
  WorkerTeam team_;
  hmm::DoseComputer computer_;
  hmm::WindowInputs inputs_;
  hmm::WindowDoses doses_;
  // A window whose study is not phased throughout (or every window with
  // -rephase) is phased, and its genotype probabilities averaged over phase.
  const hmm::PhasingParameters phasing_;
  hmm::GenotypeComputer phased_computer_;
  hmm::WindowGenotypes genotypes_;
  bool given_phase_ = true;            // the window is imputed from the study's phase
  const std::vector<int8_t> unknown_;  // every individual's code 9
  std::vector<RecordWorker> workers_;
  std::vector<ChunkSlot> slots_;
  std::vector<int> targets_;  // the untyped rows of the slice
  int slice_begin_ = 0;
  std::vector<int> untyped_of_;  // per row of the slice: its untyped site, or -1
  std::vector<int> typed_of_;    // per row of the slice: its typed site, or -1
  PassTotals totals_;
};

HmmPass::HmmPass(const PassJob& job, const hmm::ContigTables& tables,
                 const hmm::ModelParameters& parameters, OutputFile& output, std::size_t max_doses)
    : job_(job),
      t_(job.tables),
      tables_(tables),
      parameters_(parameters),
      output_(output),
      max_doses_(max_doses),
      team_(job.settings.threads),
      computer_(team_),
      phasing_(phasing_parameters(job.settings)),
      phased_computer_(team_),
      unknown_(static_cast<std::size_t>(job.tables.study.nind), 9),
      slots_(kChunksPerBatch) {
  workers_.reserve(static_cast<std::size_t>(team_.size()));
  for (int w = 0; w < team_.size(); ++w) workers_.emplace_back(t_.study.nind);
}

PassTotals HmmPass::run() {
  const SnpUnion& u = t_.snp_union;
  for (int j = job_.row_begin; j < job_.row_end;) {
    const long long w = hmm::window_of(u.pos[j]);
    const int end = std::min(job_.row_end, first_row_at(u, hmm::core_of(w).last + 1));
    impute_window(w, j, end);
    j = end;
  }
  return totals_;
}

// Whether the window's typed sites all have the study's phase: a VCF study
// without an unphased heterozygous call there, and no -rephase. A window
// without typed sites has nothing to phase (every state is equally likely).
bool HmmPass::given_phase() const {
  if (inputs_.typed_count() == 0) return true;
  if (job_.settings.rephase || t_.study.alleles.empty()) return false;
  for (int m = 0; m < inputs_.typed_count(); ++m)
    if (t_.study.unphased[static_cast<std::size_t>(inputs_.typed_study_row(m))] >= 0) return false;
  return true;
}

void HmmPass::impute_window(long long w, int begin, int end) {
  const SnpUnion& u = t_.snp_union;
  const hmm::Span reach = hmm::reach_of(w);
  inputs_.set_typed(tables_, first_row_at(u, reach.first), first_row_at(u, reach.last + 1),
                    parameters_);
  given_phase_ = given_phase();
  if (!given_phase_) phased_computer_.phase(inputs_, t_.study, phasing_, w, team_);
  // The values held per untyped target: a dose per haplotype, or three
  // probabilities per individual.
  const std::size_t per_target =
      std::max<std::size_t>(1, (given_phase_ ? 2 : 3) * static_cast<std::size_t>(t_.study.nind));
  const std::size_t most = std::max<std::size_t>(1, max_doses_ / per_target);
  // Slices of rows with at most `most` untyped targets each.
  int first = begin;
  std::size_t targets = 0;
  for (int j = begin; j < end; ++j) {
    if (row_action(job_.settings, t_, j) != RowAction::kImputeUntyped) continue;
    if (targets == most) {
      impute_slice(first, j);
      first = j;
      targets = 0;
    }
    ++targets;
  }
  impute_slice(first, end);
}

void HmmPass::impute_slice(int begin, int end) {
  slice_begin_ = begin;
  targets_.clear();
  untyped_of_.assign(static_cast<std::size_t>(end - begin), -1);
  typed_of_.assign(static_cast<std::size_t>(end - begin), -1);
  int m = 0;  // typed sites before row j
  int typed_first = -1;
  int typed_count = 0;
  while (m < inputs_.typed_count() && inputs_.typed_row(m) < begin) ++m;
  for (int j = begin; j < end; ++j) {
    const auto local = static_cast<std::size_t>(j - begin);
    if (row_action(job_.settings, t_, j) == RowAction::kImputeUntyped) {
      untyped_of_[local] = static_cast<int>(targets_.size());
      targets_.push_back(j);
    }
    if (m < inputs_.typed_count() && inputs_.typed_row(m) == j) {
      if (typed_first < 0) typed_first = m;
      typed_of_[local] = m++;
      ++typed_count;
    }
  }
  inputs_.set_untyped(tables_, targets_);
  if (given_phase_)
    computer_.compute(inputs_, t_.study, std::max(typed_first, 0), typed_count,
                      job_.settings.loo != 0, team_, doses_);
  else
    phased_computer_.compute(inputs_, std::max(typed_first, 0), typed_count, job_.settings.loo != 0,
                             team_, genotypes_);
  write_records(begin, end);
}

void HmmPass::write_records(int begin, int end) {
  const int rows_per_batch = kRowsPerChunk * kChunksPerBatch;
  for (int first = begin; first < end; first += rows_per_batch) {
    const int last = std::min(end, first + rows_per_batch);
    const int chunks = (last - first + kRowsPerChunk - 1) / kRowsPerChunk;
    team_.run(chunks, [&](int worker, int c) {
      const int a = first + c * kRowsPerChunk;
      make_chunk(workers_[static_cast<std::size_t>(worker)], a, std::min(last, a + kRowsPerChunk),
                 slots_[static_cast<std::size_t>(c)]);
    });
    for (int c = 0; c < chunks; ++c) {
      ChunkSlot& slot = slots_[static_cast<std::size_t>(c)];
      output_.write(slot.chunk);
      if (job_.outcomes != nullptr) (*job_.outcomes)(slot.outcomes);
      totals_.add(slot.totals);
    }
  }
}

void HmmPass::make_chunk(RecordWorker& worker, int begin, int end, ChunkSlot& slot) const {
  slot.chunk.clear();
  slot.outcomes.clear();
  slot.totals = PassTotals{};
  for (int j = begin; j < end; ++j) make_row(worker, j, slot);
  output_.prepare(slot.chunk);
}

void HmmPass::make_row(RecordWorker& worker, int j, ChunkSlot& slot) const {
  const SnpUnion& u = t_.snp_union;
  const auto local = static_cast<std::size_t>(j - slice_begin_);
  RowOutcome o;
  o.row = j;
  const int m = typed_of_[local];
  if (job_.settings.loo && m >= 0 && u.panel_row[j] >= 0) check_typed(worker, j, m, o);
  SnpRecord r;
  switch (row_action(job_.settings, t_, j)) {
    case RowAction::kWriteThrough:
      r = written_through(t_, u.study_row[j]);
      o.result = RowOutcome::Result::written_through;
      break;
    case RowAction::kImputeUntyped:
      untyped_record(worker, j, untyped_of_[local], r);
      o.result = RowOutcome::Result::untyped;
      ++slot.totals.targets;
      break;
    case RowAction::kImputeIncomplete:
      typed_record(worker, j, m, r);
      o.result = RowOutcome::Result::typed;
      ++slot.totals.targets;
      break;
    case RowAction::kSkip:
      if (job_.outcomes != nullptr) slot.outcomes.push_back(std::move(o));
      return;
  }
  if (job_.figures) {
    const DosageFigures figures = dosage_figures(r);
    r.af = figures.af;
    if (r.kind != SnpRecord::Kind::written_through) {
      r.info = figures.info;
      r.r2 = dosage_r2(r);
    }
  }
  r.er2 = o.er2;
  job_.format.append(r, slot.chunk.text);
  o.af = r.af;
  o.info = r.info;
  o.r2 = r.r2;
  if (job_.outcomes != nullptr) slot.outcomes.push_back(std::move(o));
}

void HmmPass::untyped_record(RecordWorker& worker, int j, int u, SnpRecord& r) const {
  const PanelTable& panel = t_.panel;
  const int p = t_.snp_union.panel_row[j];
  r.kind = SnpRecord::Kind::untyped;
  r.contig = t_.contig;
  r.name = panel.name[static_cast<std::size_t>(p)];
  r.pos = panel.pos[static_cast<std::size_t>(p)];
  r.letters = panel.allele[static_cast<std::size_t>(p)];
  r.first_counted = panel.is_flipped(p);
  r.call_fraction = 0;
  r.nind = t_.study.nind;
  r.codes = unknown_.data();
  for (int i = 0; i < r.nind; ++i) {
    if (!given_phase_)
      worker.set(worker.prob, i, genotypes_.untyped_at(i, u));
    else
      worker.set(worker.prob, i, clamped(doses_.untyped_dose(2 * i, u)),
                 clamped(doses_.untyped_dose(2 * i + 1, u)));
  }
  r.prob = {worker.prob[0].data(), worker.prob[1].data(), worker.prob[2].data()};
}

// A typed SNP's missing genotypes: from the study's phase, an allele that a
// phased call gives as it is, a missing one from the dose at the typed
// site; else the probabilities averaged over phase.
void HmmPass::typed_record(RecordWorker& worker, int j, int m, SnpRecord& r) const {
  const StudyTable& study = t_.study;
  const int s = t_.snp_union.study_row[j];
  r = written_through(t_, s);
  r.kind = SnpRecord::Kind::typed;
  const int8_t* alleles =
      given_phase_ ? study.alleles.data() + static_cast<std::size_t>(s) * 2 * study.nind : nullptr;
  for (int i = 0; i < r.nind; ++i) {
    if (r.codes[i] != 9) continue;
    if (!given_phase_) {
      worker.set(worker.prob, i, genotypes_.typed_at(i, m));
      continue;
    }
    const int8_t a0 = alleles[2 * i];
    const int8_t a1 = alleles[2 * i + 1];
    worker.set(worker.prob, i, a0 >= 0 ? a0 : clamped(doses_.typed_dose(2 * i, m)),
               a1 >= 0 ? a1 : clamped(doses_.typed_dose(2 * i + 1, m)));
  }
  r.prob = {worker.prob[0].data(), worker.prob[1].data(), worker.prob[2].data()};
}

// The leave-one-out check of a typed site: each haplotype's dose with its
// own allele left out, against the observed genotypes.
void HmmPass::check_typed(RecordWorker& worker, int j, int m, RowOutcome& o) const {
  const StudyTable& study = t_.study;
  const int s = t_.snp_union.study_row[j];
  for (int i = 0; i < study.nind; ++i) {
    if (!given_phase_)
      worker.set(worker.checked, i, genotypes_.left_out_at(i, m));
    else
      worker.set(worker.checked, i, clamped(doses_.left_out_dose(2 * i, m)),
                 clamped(doses_.left_out_dose(2 * i + 1, m)));
  }
  SnpRecord r;
  r.kind = SnpRecord::Kind::untyped;
  r.nind = study.nind;
  r.codes = unknown_.data();
  r.prob = {worker.checked[0].data(), worker.checked[1].data(), worker.checked[2].data()};
  o.er2 = empirical_r2(study.geno.row(s), r.prob, r.nind);
  o.checked = true;
  o.checked_info = dosage_figures(r).info;
  o.checked_r2 = dosage_r2(r);
  const double f = study.freq[static_cast<std::size_t>(s)];
  o.checked_maf = std::min(f, 1 - f);
}

}  // namespace

PassTotals run_hmm_pass(const PassJob& job, const hmm::ContigTables& tables,
                        const hmm::ModelParameters& parameters, OutputFile& output,
                        std::size_t max_doses) {
  HmmPass pass(job, tables, parameters, output, max_doses);
  return pass.run();
}

}  // namespace tessellar
