// The inputs of a run: readers, reading, the tables of a contig.
#include "run/run_inputs.h"

#include <exception>
#include <string>
#include <thread>
#include <vector>

#include "core/fatal.h"

namespace tessellar {
namespace {

// Whether two contig names match: by name without "chr" when both inputs
// carry contigs, always when either is text (one contig).
bool same_contig(const std::string& a, const std::string& b, bool by_name) {
  return !by_name || contig_key(a) == contig_key(b);
}

template <typename Contig>
Contig* matching(std::vector<Contig>& contigs, const std::string& name, bool by_name) {
  for (Contig& c : contigs)
    if (same_contig(c.name, name, by_name)) return &c;
  return nullptr;
}

Fate skipped_fate(const SkippedRecord& r) {
  if (r.unphased) return Fate::skipped_unphased;
  switch (r.reason) {
    case SkipReason::multiallelic:
      return Fate::skipped_multiallelic;
    case SkipReason::symbolic:
      return Fate::skipped_symbolic;
    case SkipReason::indel:
      return Fate::skipped_indel;
    case SkipReason::filter:
      return Fate::skipped_filter;
  }
  return Fate::skipped_filter;
}

// The skipped records of one input on the contig, as per-site lines.
void add_skipped(const std::vector<SkippedRecord>& records, const std::string& contig, bool by_name,
                 int input, std::vector<ExtraSite>& extras) {
  for (const SkippedRecord& r : records) {
    if (!same_contig(r.contig, contig, by_name)) continue;
    ExtraSite e;
    e.pos = r.pos;
    e.name = r.id;
    e.ref = r.ref;
    e.alt = r.alt;
    e.in_study = input == 0;
    e.in_panel = input == 1;
    e.haplotypes = input == 2;
    e.fate = skipped_fate(r);
    extras.push_back(std::move(e));
  }
}

// A VCF haplotype file read on a thread of its own. Its error, if any, is
// printed only once the other inputs are read without one, so that the run
// log holds one error, in its place; the thread is always joined.
class ParallelRead {
 public:
  ~ParallelRead() {
    if (thread_.joinable()) thread_.join();
  }
  void start(const Settings& s, std::unique_ptr<VcfReader> vcf) {
    vcf_ = std::move(vcf);
    thread_ = std::thread([this, &s] {
      DeferredStop deferred;
      try {
        haps_ = read_haplotype_vcf(s, *vcf_);
      } catch (const RunStopped&) {
        error_line_ = deferred.text();
      } catch (...) {
        other_ = std::current_exception();
      }
    });
  }
  bool started() const { return vcf_ != nullptr; }
  HapInput finish() {
    thread_.join();
    if (other_) std::rethrow_exception(other_);
    if (!error_line_.empty()) print_stop(error_line_);
    return std::move(haps_);
  }

 private:
  std::unique_ptr<VcfReader> vcf_;
  std::thread thread_;
  HapInput haps_;
  std::string error_line_;
  std::exception_ptr other_;
};

}  // namespace

// A text input carries no contig: beside one, each VCF input may hold only one.
void check_mixed(const RunInputs& in, const Settings& s) {
  const bool haps_text = !in.panel.own_haplotypes && !in.haps.vcf;
  const bool any_text = !in.study.vcf || !in.panel.vcf || haps_text;
  const bool any_vcf = in.study.vcf || in.panel.vcf || in.haps.vcf;
  if (!any_text || !any_vcf) return;
  auto check = [](bool vcf, std::size_t contigs, const std::string& path) {
    if (vcf && contigs > 1)
      fatal(
          "'%s' holds %zu contigs; beside a text input, which carries none, a VCF input may hold "
          "only one",
          path.c_str(), contigs);
  };
  check(in.study.vcf, in.study.contigs.size(), s.gfile);
  check(in.panel.vcf, in.panel.contigs.size(), s.efile);
  check(in.haps.vcf, in.haps.contigs.size(), s.hfile);
}

std::string text_contig_name(const RunInputs& in) {
  if (in.panel.vcf && !in.panel.contigs.empty()) return in.panel.contigs[0].name;
  if (in.haps.vcf && !in.haps.contigs.empty()) return in.haps.contigs[0].name;
  return "1";
}

bool pairs_by_name(const RunInputs& in) {
  return in.study.vcf && (in.panel.vcf || in.haps.vcf);
}

Readers open_readers(const Settings& s, bool own_haplotypes, std::array<bool, 3> skip) {
  Readers r;
  if (!skip[0]) r.study = VcfReader::open_if_vcf(s.gfile, "study");
  if (!skip[1]) r.panel = VcfReader::open_if_vcf(s.efile, "panel");
  if (!own_haplotypes && !skip[2]) r.haps = VcfReader::open_if_vcf(s.hfile, "haplotype");
  return r;
}

Settings read_inputs(const Settings& s, Readers& vcf, bool own_haplotypes, RunInputs& in) {
  const bool region = s.has_region;
  // In a region run the VCF inputs are read per attempt, the text ones here:
  // without their codes and haplotype values when all three are text.
  TextKept kept;
  if (region && in.text_only) kept = TextKept{KeptPositions{1, 0}, KeptRows{1, 0}, false};
  for (VcfReader* v : {vcf.study.get(), vcf.panel.get(), vcf.haps.get()})
    if (v != nullptr && s.threads > 1) v->use_threads(1);
  // A VCF haplotype file is read on a thread of its own beside the panel.
  ParallelRead parallel_haps;
  if (!region && vcf.haps != nullptr && s.threads > 1) parallel_haps.start(s, std::move(vcf.haps));
  // Read here: every input of a whole run; of a region run the text inputs
  // and those read once.
  const auto here = [&](std::unique_ptr<VcfReader>& v, bool once) {
    return !region || once ? std::move(v) : nullptr;
  };
  if (!region || !vcf.study || in.once[0])
    in.study = read_study_input(s, here(vcf.study, in.once[0]), kept);
  const bool panel_here = !region || !vcf.panel || in.once[1];
  if (panel_here) in.panel = read_panel_input(s, here(vcf.panel, in.once[1]), own_haplotypes, kept);
  Settings run = s;  // with the panel's family units
  if (panel_here) {
    run.nTR = in.panel.nTR;
    run.nDU = in.panel.nDU;
    run.nUN = in.panel.nUN;
  }
  if (!own_haplotypes && (!region || !vcf.haps || in.once[2])) {
    if (parallel_haps.started()) {
      in.haps = parallel_haps.finish();
      print_haplotype_report(in.haps, in.panel);
    } else if (in.once[2]) {
      in.haps = read_haplotype_vcf(run, *vcf.haps);  // its run-log lines in the first attempt
    } else {
      in.haps = read_haplotype_input(run, in.panel, here(vcf.haps, false), kept);
    }
  }
  return run;
}

ContigInputs contig_inputs(RunInputs& in, StudyContig& sc, const std::string& name, bool by_name,
                           PanelTable& no_panel, bool sites) {
  ContigInputs c;
  c.name = name;
  c.study = &sc.table;
  PanelContig* pc = matching(in.panel.contigs, sc.name, by_name && in.panel.vcf);
  c.panel = pc != nullptr ? &pc->table : &no_panel;
  c.own = in.panel.own_haplotypes ? pc : nullptr;
  c.haps = in.panel.own_haplotypes ? nullptr
                                   : matching(in.haps.contigs, sc.name, by_name && in.haps.vcf);
  c.by_alleles = !in.text_only;
  c.vcf_haplotypes = in.haps.vcf;
  c.samples = in.study.samples;
  if (sites) {
    add_skipped(in.study.skipped_records, sc.name, by_name, 0, c.extras);
    add_skipped(in.panel.skipped_records, sc.name, by_name && in.panel.vcf, 1, c.extras);
    add_skipped(in.haps.skipped_records, sc.name, by_name && in.haps.vcf, 2, c.extras);
  }
  return c;
}

void write_contigs_without_study(RunInputs& in, bool by_name, SitesFile& sites) {
  for (PanelContig& pc : in.panel.contigs) {
    if (matching(in.study.contigs, pc.name, by_name) != nullptr) continue;
    std::vector<ExtraSite> extras;
    const PanelTable& t = pc.table;
    for (int r = 0; r < t.nsnp; ++r) {
      const bool haplotypes =
          !pc.hap_of_row.empty() && pc.hap_of_row[static_cast<std::size_t>(r)] >= 0;
      extras.push_back(panel_extra(t, r, haplotypes, Fate::no_study_contig));
    }
    add_skipped(in.panel.skipped_records, pc.name, by_name, 1, extras);
    sites.begin_contig(pc.name, std::move(extras));
    sites.end_contig();
  }
}

}  // namespace tessellar
