// Region runs: flank widening, the inputs read once, the warnings.
#include "run/region_run.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <initializer_list>
#include <memory>
#include <string>

#include "core/fatal.h"
#include "input/inputs.h"
#include "input/vcf_reader.h"

namespace tessellar {
namespace {

// How an attempt of a region run read a VCF input (study, panel,
// haplotypes): whether it read one, through its index, and without one what
// it passed over.
struct Reading {
  bool read = false;
  bool indexed = false;
  VcfReader::Outside outside;
};

// Whether a VCF input holds records of the region's contig before (left) or
// after (right) the positions read, so that a wider range could differ: an
// input without an index tells from what its reading passed over.
bool more_records(const Settings& s, bool own_haplotypes, const Region& r, long long lo,
                  long long hi, bool left, const std::array<Reading, 3>& reading) {
  if (left && lo <= 1) return false;
  std::array<bool, 3> skip{};
  for (std::size_t k = 0; k < 3; ++k) {
    const Reading& g = reading[k];
    skip[k] = !g.read || !g.indexed;
    if (g.read && !g.indexed && (left ? g.outside.before : g.outside.after)) return true;
  }
  Readers readers = open_readers(s, own_haplotypes, skip);
  for (VcfReader* v : {readers.study.get(), readers.panel.get(), readers.haps.get()}) {
    if (v == nullptr) continue;
    if (left ? v->has_records(r.contig, 1, lo - 1) : v->has_records(r.contig, hi + 1, Region{}.end))
      return true;
  }
  return false;
}

// A region whose contig none of the VCF inputs holds is announced: their
// records take no part (a text input carries no contig).
// any_text: whether an input is text.
void warn_of_unknown_contig(const Region& region, std::initializer_list<const VcfReader*> vcf,
                            bool any_text) {
  bool any_vcf = false;
  for (const VcfReader* v : vcf) {
    if (v == nullptr) continue;
    any_vcf = true;
    for (const HeaderContig& c : v->header_contigs())
      if (contig_key(c.name) == contig_key(region.contig)) return;
  }
  if (!any_vcf) return;
  std::fprintf(stderr, "Warning: no %sinput holds contig %s of -region: %s.\n",
               any_text ? "VCF " : "", region.contig.c_str(),
               any_text ? "their records take no part" : "the output has no records");
}

// An index older than its file is not used; the file is read through.
void warn_of_stale_index(const VcfReader& v) {
  if (v.stale_index().empty()) return;
  std::fprintf(stderr,
               "Warning: the index '%s' is older than '%s' and may miss records written since: it "
               "is not used, and the file is read through (make the index again).\n",
               v.stale_index().c_str(), v.path().c_str());
}

// The positions read over the region with these flanks.
std::array<long long, 2> range_read(const Region& region, long long flank_left,
                                    long long flank_right) {
  return {std::max(1LL, region.start - flank_left),
          std::min(Region{}.end, region.end + flank_right)};
}

}  // namespace

void begin_region_reading(const Settings& s, Readers& vcf, bool own_haplotypes, RunInputs& in) {
  in.study.vcf = vcf.study != nullptr;
  in.panel.vcf = vcf.panel != nullptr;
  in.panel.own_haplotypes = own_haplotypes;
  in.haps.vcf = vcf.haps != nullptr;
  warn_of_unknown_contig(s.region, {vcf.study.get(), vcf.panel.get(), vcf.haps.get()},
                         !vcf.study || !vcf.panel || (!own_haplotypes && !vcf.haps));
  // A VCF input from a pipe cannot be read again in each attempt: it is
  // read here, once, keeping every record of the region's contig.
  std::size_t k = 0;
  for (VcfReader* v : {vcf.study.get(), vcf.panel.get(), vcf.haps.get()}) {
    in.once[k] = v != nullptr && !v->regular();
    if (in.once[k++]) v->restrict_to(s.region.contig, 1, Region{}.end);
  }
}

void check_region_positions(const RunInputs& in, const Settings& s) {
  auto check = [&s](const GenotypeRows& t, const std::string& path) {
    for (int r = 0; r < t.nsnp; ++r) {
      const auto row = static_cast<std::size_t>(r);
      if (t.pos[row] < 1)
        fatal(
            "'%s': SNP '%s' is at position %d, but -region covers positions of 1 or more; "
            "impute SNPs at positions below 1 in a run without -region",
            path.c_str(), t.name[row].c_str(), t.pos[row]);
    }
  };
  if (!in.study.vcf)
    for (const StudyContig& c : in.study.contigs) check(c.table, s.gfile);
  if (!in.panel.vcf)
    for (const PanelContig& c : in.panel.contigs) check(c.table, s.efile);
}

void run_region(const Settings& s, const Settings& run, const Engine& engine, RunInputs& text_in,
                bool own_haplotypes, RunOutputs& out, int argc, char** argv) {
  const Region& region = s.region;
  const PositionRange first = engine.first_reading(s, region);
  long long flank_left = region.start - first.first;
  long long flank_right = first.last - region.end;
  const std::unique_ptr<PanelTable> pristine_panel =
      text_in.panel.vcf ? nullptr : std::make_unique<PanelTable>(text_in.panel.contigs[0].table);
  for (int attempt = 0;; ++attempt) {
    const auto [lo, hi] = range_read(region, flank_left, flank_right);
    if (attempt > 0)
      std::printf(
          "region %s:%lld-%lld: tag candidates reach beyond the rows read; reading "
          "positions %lld to %lld\n",
          region.contig.c_str(), region.start, region.end, lo, hi);
    Readers readers = open_readers(s, own_haplotypes, text_in.once);
    std::array<Reading, 3> reading;
    std::size_t k = 0;
    for (VcfReader* v : {readers.study.get(), readers.panel.get(), readers.haps.get()}) {
      Reading& g = reading[k++];
      if (v == nullptr) continue;
      g.read = true;
      g.indexed = v->restrict_to(region.contig, lo, hi, &g.outside);
      if (attempt == 0) warn_of_stale_index(*v);
    }
    RunInputs in;
    in.text_only = text_in.text_only;
    in.study = readers.study ? read_study_input(s, std::move(readers.study)) : text_in.study;
    if (readers.panel) {
      in.panel = read_panel_input(s, std::move(readers.panel), own_haplotypes);
    } else {
      in.panel = text_in.panel;
      if (pristine_panel) in.panel.contigs[0].table = *pristine_panel;
    }
    Settings units = run;  // with the family units of the panel as read
    units.nTR = in.panel.nTR;
    units.nDU = in.panel.nDU;
    units.nUN = in.panel.nUN;
    if (!own_haplotypes)
      in.haps = readers.haps ? read_haplotype_input(units, in.panel, std::move(readers.haps))
                             : text_in.haps;
    if (!own_haplotypes && text_in.once[2] && attempt == 0)
      print_haplotype_report(in.haps, in.panel);
    check_mixed(in, s);
    // The region's contig of the study, empty when it holds no record there.
    StudyContig* sc = nullptr;
    for (StudyContig& c : in.study.contigs)
      if (!in.study.vcf || contig_key(c.name) == contig_key(region.contig)) sc = &c;
    StudyContig empty;
    if (sc == nullptr) {
      empty.name = region.contig;
      empty.table.nind = empty.table.geno.members = in.study.nind;
      sc = &empty;
    }
    const bool by_name = pairs_by_name(in);
    PanelTable no_panel;
    no_panel.ncol = no_panel.geno.members = in.panel.members;
    const std::string name = in.study.vcf ? sc->name : region.contig;
    ContigInputs c = contig_inputs(in, *sc, name, by_name, no_panel, !s.sites.empty());
    PreparedContig prepared(units, c, !s.sites.empty(), engine);
    const CandidateEdges edges = prepared.reach(region.start, region.end);
    const bool wider_left =
        edges.left && more_records(s, own_haplotypes, region, lo, hi, true, reading);
    const bool wider_right =
        edges.right && more_records(s, own_haplotypes, region, lo, hi, false, reading);
    constexpr long long kLongestFlank = 1LL << 40;  // beyond any contig
    const long long next_left = wider_left ? std::min(kLongestFlank, flank_left * 4) : flank_left;
    const long long next_right =
        wider_right ? std::min(kLongestFlank, flank_right * 4) : flank_right;
    // An attempt that would read what this one read is never made.
    if (range_read(region, next_left, next_right) != range_read(region, flank_left, flank_right)) {
      flank_left = next_left;
      flank_right = next_right;
      continue;
    }
    out.start(in, region.contig, argc, argv);
    ContigSinks sinks = out.sinks(s);
    out.totals.add(prepared.write(sinks, region.start, region.end));
    out.commit(s);
    return;
  }
}

void run_text_region(const Settings& s, const Settings& run, const Engine& engine,
                     RunInputs& skeleton, RunOutputs& out, int argc, char** argv) {
  const Region& region = s.region;
  const bool sites = !s.sites.empty();
  TextKept kept;
  {
    PanelTable no_panel;
    ContigInputs c =
        contig_inputs(skeleton, skeleton.study.contigs[0], region.contig, false, no_panel, sites);
    const PreparedContig outline(run, c, sites, engine);
    const TablesRead read = outline.tables_read(region.start, region.end);
    kept = TextKept{read.positions, read.haplotypes, true};
  }
  skeleton = RunInputs{};
  RunInputs in;
  in.text_only = true;
  in.study = read_study_input(s, nullptr, kept);
  in.panel = read_panel_input(s, nullptr, false, kept);
  in.haps = read_haplotype_input(run, in.panel, nullptr, kept);
  PanelTable no_panel;
  ContigInputs c = contig_inputs(in, in.study.contigs[0], region.contig, false, no_panel, sites);
  PreparedContig prepared(run, c, sites, engine);
  out.start(in, region.contig, argc, argv);
  ContigSinks sinks = out.sinks(s);
  out.totals.add(prepared.write(sinks, region.start, region.end));
  out.commit(s);
}

}  // namespace tessellar
