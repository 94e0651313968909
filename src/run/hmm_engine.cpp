// The hmm engine behind the engine interface: a region run reads the reach
// of the region's windows at once (no flank grows); each contig's pass
// first checks that the genetic map, if any, covers the contig.
#include <algorithm>
#include <cstdio>
#include <optional>

#include "core/fatal.h"
#include "hmm/panel_families.h"
#include "hmm/window_layout.h"
#include "input/genetic_map.h"
#include "run/engine.h"
#include "run/hmm_pass.h"

namespace tessellar {

namespace {

class HmmEngine : public Engine {
 public:
  HmmEngine(const Settings& s, std::size_t max_doses) : max_doses_(max_doses) {
    parameters_.switch_prob = s.switch_prob;
    parameters_.ne = s.ne;
    parameters_.error = s.error_prob;
    if (!s.map.empty()) map_ = read_genetic_map(s.map);
  }
  PositionRange first_reading(const Settings&, const Region& region) const override {
    const hmm::Span span = hmm::reading_for(region.start, region.end);
    return {span.first, span.last};
  }
  CandidateEdges reach(const Settings&, const RunTables&, long long, long long) const override {
    return {};  // the windows' reach is read at once
  }
  TablesRead tables_read(const Settings& run, const RunTables& tables, long long from,
                         long long to) const override;
  PassTotals write(const PassJob& job, OutputFile& output) const override;
  void finish(const Settings&, const PassTotals& totals) const override;

 private:
  std::vector<double> genetic_positions_of(const RunTables& t) const;

  std::size_t max_doses_;
  hmm::ModelParameters parameters_;
  std::optional<GeneticMap> map_;
};

TablesRead HmmEngine::tables_read(const Settings&, const RunTables& tables, long long from,
                                  long long to) const {
  const SnpUnion& u = tables.snp_union;
  const hmm::Span span = hmm::reading_for(from, to);
  const int lo = first_row_at(u, span.first);
  const int hi = first_row_at(u, span.last + 1) - 1;
  return rows_read(u, lo, hi);
}

// The genetic position of every union row, from the map's positions of the
// contig, which must cover a typed site.
std::vector<double> HmmEngine::genetic_positions_of(const RunTables& t) const {
  if (!map_) return {};
  const MapContig& m = map_contig(*map_, t.contig);
  const SnpUnion& u = t.snp_union;
  int typed = 0;
  int covered = 0;
  for (int j = 0; j < u.n; ++j) {
    if (!hmm::is_typed(u, j)) continue;
    ++typed;
    covered += u.pos[j] >= m.bp.front() && u.pos[j] <= m.bp.back();
  }
  if (typed > 0 && covered == 0) {
    const std::string contig(t.contig);
    fatal(
        "genetic map '%s' covers positions %lld to %lld of contig %s, where none of its %d typed "
        "SNPs lies; is it a map of another genome build?",
        map_->path.c_str(), m.bp.front(), m.bp.back(), contig.c_str(), typed);
  }
  return hmm::genetic_positions(m, u);
}

PassTotals HmmEngine::write(const PassJob& job, OutputFile& output) const {
  const RunTables& t = job.tables;
  const std::vector<double> cm = genetic_positions_of(t);
  const hmm::ContigTables tables{t.snp_union, t.study, t.haps, cm};
  PassTotals totals = run_hmm_pass(job, tables, parameters_, output, max_doses_);
  totals.families = hmm::check_families(t.snp_union, t.panel, t.haps, job.row_begin, job.row_end);
  return totals;
}

// The checks of the panel's trios and duos, when it has any.
void HmmEngine::finish(const Settings&, const PassTotals& totals) const {
  const hmm::FamilyCheck& f = totals.families;
  if (f.genotypes == 0) return;
  std::printf(
      "Panel families: %lld of %lld children's genotypes not a sum of their parents' alleles "
      "(Mendel errors); the transmitted haplotype of a heterozygous parent seen at %lld sites, "
      "changing %lld times\n",
      f.mendel_errors, f.genotypes, f.informative, f.changes);
}

}  // namespace

std::unique_ptr<Engine> make_hmm_engine(const Settings& s, std::size_t max_doses) {
  return std::make_unique<HmmEngine>(s, max_doses);
}

}  // namespace tessellar
