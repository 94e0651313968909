// The tag engine behind the engine interface: region runs read a flank of
// twice the candidate window and more, as far as the candidate collections
// of the targets reach; the pass imputes each target from its tag SNPs.
#include <algorithm>
#include <cstdio>
#include <functional>
#include <span>

#include "run/engine.h"

namespace tessellar {

namespace {

class TagEngine : public Engine {
 public:
  PositionRange first_reading(const Settings& run, const Region& region) const override;
  CandidateEdges reach(const Settings& run, const RunTables& tables, long long from,
                       long long to) const override;
  TablesRead tables_read(const Settings& run, const RunTables& tables, long long from,
                         long long to) const override;
  PassTotals write(const PassJob& job, OutputFile& output) const override {
    return run_pass(job, output);
  }
  void finish(const Settings& run, const PassTotals& totals) const override;

 private:
  // Calls visit(scratch) after the candidate collection of every target at
  // positions from .. to, the leave-one-out checks included.
  void each_collection(const Settings& run, const RunTables& tables, long long from, long long to,
                       const std::function<void(const TagScratch&)>& visit) const;
};

PositionRange TagEngine::first_reading(const Settings& run, const Region& region) const {
  // The flanks start at twice the candidate window and 100 kb (and grow
  // while the candidates reach beyond them).
  const long long flank = 2LL * run.window + 100000;
  return {region.start - flank, region.end + flank};
}

void TagEngine::each_collection(const Settings& run, const RunTables& tables, long long from,
                                long long to,
                                const std::function<void(const TagScratch&)>& visit) const {
  const TagScratchPtr scratch = make_tag_scratch();
  const SnpUnion& u = tables.snp_union;
  const int end = first_row_at(u, to + 1);
  for (int j = first_row_at(u, from); j < end; ++j) {
    const RowAction action = row_action(run, tables, j);
    const bool checked = run.loo && u.study_row[j] >= 0 && u.panel_row[j] >= 0 && u.hap_row[j] >= 0;
    for (const Mode mode : {Mode::untyped, Mode::incomplete}) {
      const bool wanted = mode == Mode::untyped ? action == RowAction::kImputeUntyped || checked
                                                : action == RowAction::kImputeIncomplete;
      if (!wanted) continue;
      collect_candidates(run, u, j, mode, *scratch);
      visit(*scratch);
    }
  }
}

CandidateEdges TagEngine::reach(const Settings& run, const RunTables& tables, long long from,
                                long long to) const {
  CandidateEdges edges;
  each_collection(run, tables, from, to, [&](const TagScratch& scratch) {
    const CandidateEdges e = candidate_edges(scratch);
    edges.left = edges.left || e.left;
    edges.right = edges.right || e.right;
  });
  return edges;
}

TablesRead TagEngine::tables_read(const Settings& run, const RunTables& tables, long long from,
                                  long long to) const {
  const SnpUnion& u = tables.snp_union;
  int lo = first_row_at(u, from);  // union rows
  int hi = first_row_at(u, to + 1) - 1;
  each_collection(run, tables, from, to, [&](const TagScratch& scratch) {
    const std::span<const int> c = candidates(scratch);  // ascending
    if (c.empty()) return;
    lo = std::min(lo, c.front());
    hi = std::max(hi, c.back());
  });
  return rows_read(u, lo, hi);
}

// Targets left without a tag set because -min lets fewer candidates than
// tags be collected are announced.
void TagEngine::finish(const Settings& s, const PassTotals& totals) const {
  const int k = s.geometry.tags();
  if (s.minnum >= k || totals.without_tags == 0) return;
  std::fprintf(stderr,
               "Warning: with -tag %d and -min %d, %d of %d targets got no tag set and are not "
               "in the output; -min %d or more keeps enough candidates.\n",
               k, s.minnum, totals.without_tags, totals.targets, k);
}

}  // namespace

std::unique_ptr<Engine> make_tag_engine() {
  return std::make_unique<TagEngine>();
}

}  // namespace tessellar
