// The run driver: the pipeline of one run.
#include "run/driver.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <exception>
#include <new>
#include <string>
#include <thread>

#include "core/fatal.h"
#include "core/temp_files.h"
#include "input/inputs.h"
#include "input/vcf_reader.h"
#include "output/output.h"
#include "output/output_path.h"
#include "output/text_format.h"
#include "output/vcf_format.h"
#include "run/cmdline.h"
#include "run/contig_run.h"
#include "run/engine.h"

namespace tessellar {
namespace {

// The inputs of the run, read.
struct Inputs {
  StudyInput study;
  PanelInput panel;
  HapInput haps;
  bool text_only = true;  // all three are text files: the union pairs by position alone
  // Region runs: the VCF inputs (study, panel, haplotypes) from a pipe,
  // read once before the attempts, which cannot read them again.
  std::array<bool, 3> once{};
};

// A text input carries no contig: beside one, each VCF input may hold only one.
void check_mixed(const Inputs& in, const Settings& s) {
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

// The name of a text study's contig in the output: a VCF input's, else "1".
std::string text_contig_name(const Inputs& in) {
  if (in.panel.vcf && !in.panel.contigs.empty()) return in.panel.contigs[0].name;
  if (in.haps.vcf && !in.haps.contigs.empty()) return in.haps.contigs[0].name;
  return "1";
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

// The VCF header of the output.
std::string output_header(const Inputs& in, const std::string& text_contig, bool hmm, int argc,
                          char** argv) {
  VcfHeaderInfo info;
  info.hmm = hmm;
  info.command_line = joined_command_line(argc, argv);
  info.samples = in.study.samples;
  if (in.study.vcf) {
    for (const HeaderContig& c : in.study.header_contigs)
      info.contigs.push_back({c.name, c.length});
  } else {
    info.contigs.push_back({text_contig, 0});
  }
  return vcf_header(info);
}

// The highest position of the study's and the panel's rows: no record lies
// beyond it.
long long last_position(const Inputs& in) {
  long long last = 0;
  auto scan = [&last](const GenotypeRows& t) {
    for (int p : t.pos) last = std::max<long long>(last, p);
  };
  for (const StudyContig& c : in.study.contigs) scan(c.table);
  for (const PanelContig& c : in.panel.contigs) scan(c.table);
  return last;
}

// The panel's contigs that the study lacks: their SNPs on the per-site file.
void write_contigs_without_study(Inputs& in, bool by_name, SitesFile& sites) {
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

// Settings that make a run far costlier than the defaults are announced.
void warn_of_cost(const Settings& s) {
  const int k = s.geometry.tags();
  double sets = 1;  // C(maxnum, k)
  for (int i = 0; i < k; ++i) sets = sets * (s.maxnum - i) / (i + 1);
  // Each set costs about as much as its 2^k tag haplotypes (measured: -tag
  // 5 about 4 times, -tag 6 about 33 times the defaults' time).
  constexpr double kDefaultSets = 4845;  // C(20, 4)
  const double factor = sets * std::ldexp(1.0, k) / (kDefaultSets * 16);
  if (factor > 5)
    std::fprintf(stderr,
                 "Warning: -max %d and -tag %d make %.0f tag sets per target (the defaults make "
                 "4,845); the run may take about %.0f times as long.\n",
                 s.maxnum, k, sets, factor);
}

// No file that the run writes may be another or an input.
void check_outputs(const Settings& s, bool own_haplotypes) {
  RunFiles files;
  files.output = s.ofile;
  const OutputKind kind = output_kind(s.ofile);
  files.output_indexed = kind == OutputKind::vcf_gz || kind == OutputKind::bcf;
  files.sites = s.sites;
  files.inputs = {s.gfile, s.efile};
  if (!own_haplotypes) files.inputs.push_back(s.hfile);
  if (!s.ped.empty()) files.inputs.push_back(s.ped);
  if (!s.map.empty() && s.engine == EngineKind::hmm) files.inputs.push_back(s.map);
  check_distinct(files);
}

// The inputs' readers, opened: a VCF input's reader, or null for a text one.
struct Readers {
  std::unique_ptr<VcfReader> study;
  std::unique_ptr<VcfReader> panel;
  std::unique_ptr<VcfReader> haps;
};

// skip: the inputs not to open (read once already).
Readers open_readers(const Settings& s, bool own_haplotypes, std::array<bool, 3> skip = {}) {
  Readers r;
  if (!skip[0]) r.study = VcfReader::open_if_vcf(s.gfile, "study");
  if (!skip[1]) r.panel = VcfReader::open_if_vcf(s.efile, "panel");
  if (!own_haplotypes && !skip[2]) r.haps = VcfReader::open_if_vcf(s.hfile, "haplotype");
  return r;
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

// The tables of one study contig matched across the inputs.
ContigInputs contig_inputs(Inputs& in, StudyContig& sc, const std::string& name, bool by_name,
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

// VCF positions start at 1; the text formats allow less.
void check_vcf_positions(const Inputs& in) {
  auto check = [](const GenotypeRows& t, const char* what) {
    for (int r = 0; r < t.nsnp; ++r)
      if (t.pos[static_cast<std::size_t>(r)] < 1)
        fatal(
            "SNP '%s' of the %s is at position %d; VCF and BCF outputs need positions of 1 or "
            "more",
            t.name[static_cast<std::size_t>(r)].c_str(), what, t.pos[static_cast<std::size_t>(r)]);
  };
  for (const StudyContig& c : in.study.contigs) check(c.table, "study");
  for (const PanelContig& c : in.panel.contigs) check(c.table, "panel");
}

// A region names positions from 1 on, so a region run cannot cover a text
// input's SNPs at positions below 1: it stops rather than leave them out.
void check_region_positions(const Inputs& in, const Settings& s) {
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

// The outputs of a run: the output file in its format, the per-site file,
// the leave-one-out summary. The files are created before any input is
// read, so that an output that cannot be written stops the run at once.
struct Outputs {
  OutputFile file;
  std::unique_ptr<RecordFormat> format;
  std::unique_ptr<SitesFile> sites;
  LooSummary loo;
  bool hmm;  // the hmm engine's figures
  explicit Outputs(const Settings& s)
      : file(s.ofile, output_kind(s.ofile), s.threads),
        loo(s.engine == EngineKind::hmm),
        hmm(s.engine == EngineKind::hmm) {
    if (!s.sites.empty()) sites = std::make_unique<SitesFile>(s.sites, hmm);
  }
  // The format, and the VCF header, once the inputs are read.
  void start(const Inputs& in, const std::string& text_contig, int argc, char** argv) {
    if (file.kind() == OutputKind::text) {
      format = std::make_unique<TextFormat>();
    } else {
      check_vcf_positions(in);
      format = std::make_unique<VcfFormat>();
      file.write_header(output_header(in, text_contig, hmm, argc, argv), last_position(in));
    }
  }
  ContigSinks sinks(const Settings& s) {
    const bool figures = file.kind() != OutputKind::text || sites != nullptr || s.loo;
    return {*format, file, sites.get(), s.loo ? &loo : nullptr, figures};
  }
  PassTotals totals;
  void commit(const Settings& s) {
    // A run log that could not be written is a failed run. The reason is
    // known only when this flush fails; an earlier failed write left none.
    errno = 0;
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
      std::fprintf(stderr, "Error: cannot write the run log on standard output: %s.\n",
                   std::strerror(errno != 0 ? errno : EIO));
      throw RunStopped();
    }
    file.commit();
    if (sites != nullptr) sites->commit();
    if (s.loo) loo.print();
  }
};

// Whether contigs pair by name: when the study and another input carry them.
bool pairs_by_name(const Inputs& in) {
  return in.study.vcf && (in.panel.vcf || in.haps.vcf);
}

// A whole run: every contig of the study in turn.
void run_whole(const Settings& s, const Settings& run, const Engine& engine, Inputs& in,
               Outputs& out, int argc, char** argv) {
  const std::string text_contig = text_contig_name(in);
  out.start(in, text_contig, argc, argv);
  ContigSinks sinks = out.sinks(s);
  const bool by_name = pairs_by_name(in);
  PanelTable no_panel;  // for a study contig that the panel lacks
  no_panel.ncol = no_panel.geno.members = in.panel.members;
  for (StudyContig& sc : in.study.contigs) {
    ContigInputs c = contig_inputs(in, sc, in.study.vcf ? sc.name : text_contig, by_name, no_panel,
                                   out.sites != nullptr);
    PreparedContig prepared(run, c, out.sites != nullptr, engine);
    out.totals.add(prepared.write(sinks, kFirstPosition, kLastPosition));
  }
  if (out.sites != nullptr) write_contigs_without_study(in, by_name, *out.sites);
  out.commit(s);
}

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

// A run of one region: the VCF inputs are read through their indexes over
// the region and a flank on each side. The flanks start where the engine
// says (tag engine: twice the candidate window and 100 kb; hmm engine: the
// reach of the region's windows) and grow until the candidate collection of
// every target in the region stays inside what was read (or reaches the
// contig's ends), so that every SNP written gets the tags and probabilities
// of a whole run.
void run_region(const Settings& s, const Settings& run, const Engine& engine, Inputs& text_in,
                bool own_haplotypes, Outputs& out, int argc, char** argv) {
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
    Inputs in;
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

// A run of one region from text inputs. Text files have no index, so each
// is read through twice: first keeping every row but no genotype code or
// haplotype value, which tells what the region's SNPs read; then keeping
// only those codes and values. Every other row keeps its name, position,
// alleles and frequencies, so the union, the haplotype matching, the
// alignment and the filters are those of a whole run.
void run_text_region(const Settings& s, const Settings& run, const Engine& engine, Inputs& skeleton,
                     Outputs& out, int argc, char** argv) {
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
  skeleton = Inputs{};
  Inputs in;
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

void run(int argc, char** argv) {
  const ParsedOptions options = begin_run_log(argc, argv);
  const Settings& s = options.settings;
  // The panel's format decides where the haplotypes come from.
  std::unique_ptr<VcfReader> panel_vcf = VcfReader::open_if_vcf(s.efile, "panel");
  const bool own_haplotypes = panel_vcf != nullptr && !s.hfile_given;
  finish_run_log_head(options, InputsSeen{panel_vcf != nullptr, own_haplotypes});
  check_outputs(s, own_haplotypes);
  Outputs out(s);
  const bool hmm = s.engine == EngineKind::hmm;
  if (!hmm) warn_of_cost(s);
  std::unique_ptr<VcfReader> study_vcf = VcfReader::open_if_vcf(s.gfile, "study");
  if (hmm && study_vcf == nullptr) stop_for_unphased_study("'" + s.gfile + "' is a text study");
  const std::unique_ptr<Engine> engine = hmm ? make_hmm_engine(s) : make_tag_engine();
  std::unique_ptr<VcfReader> hap_vcf =
      own_haplotypes ? nullptr : VcfReader::open_if_vcf(s.hfile, "haplotype");

  Inputs in;
  in.text_only = study_vcf == nullptr && panel_vcf == nullptr && hap_vcf == nullptr;
  const bool region = s.has_region;
  // In a region run the VCF inputs are read per attempt, the text ones here:
  // without their codes and haplotype values when all three are text.
  TextKept kept;
  if (region && in.text_only) kept = TextKept{KeptPositions{1, 0}, KeptRows{1, 0}, false};
  if (region) {
    in.study.vcf = study_vcf != nullptr;
    in.panel.vcf = panel_vcf != nullptr;
    in.panel.own_haplotypes = own_haplotypes;
    in.haps.vcf = hap_vcf != nullptr;
    warn_of_unknown_contig(s.region, {study_vcf.get(), panel_vcf.get(), hap_vcf.get()},
                           !study_vcf || !panel_vcf || (!own_haplotypes && !hap_vcf));
    // A VCF input from a pipe cannot be read again in each attempt: it is
    // read here, once, keeping every record of the region's contig.
    std::size_t k = 0;
    for (std::unique_ptr<VcfReader>* v : {&study_vcf, &panel_vcf, &hap_vcf}) {
      in.once[k] = *v != nullptr && !(*v)->regular();
      if (in.once[k++]) (*v)->restrict_to(s.region.contig, 1, Region{}.end);
    }
  }
  for (VcfReader* v : {study_vcf.get(), panel_vcf.get(), hap_vcf.get()})
    if (v != nullptr && s.threads > 1) v->use_threads(1);
  // A VCF haplotype file is read on a thread of its own beside the panel.
  ParallelRead parallel_haps;
  if (!region && hap_vcf != nullptr && s.threads > 1) parallel_haps.start(s, std::move(hap_vcf));
  // Read here: every input of a whole run; of a region run the text inputs
  // and those read once.
  const auto here = [&](std::unique_ptr<VcfReader>& v, bool once) {
    return !region || once ? std::move(v) : nullptr;
  };
  if (!region || !study_vcf || in.once[0])
    in.study = read_study_input(s, here(study_vcf, in.once[0]), kept);
  const bool panel_here = !region || !panel_vcf || in.once[1];
  if (panel_here) in.panel = read_panel_input(s, here(panel_vcf, in.once[1]), own_haplotypes, kept);
  Settings run = s;  // with the panel's family units
  if (panel_here) {
    run.nTR = in.panel.nTR;
    run.nDU = in.panel.nDU;
    run.nUN = in.panel.nUN;
  }
  if (!own_haplotypes && (!region || !hap_vcf || in.once[2])) {
    if (parallel_haps.started()) {
      in.haps = parallel_haps.finish();
      print_haplotype_report(in.haps, in.panel);
    } else if (in.once[2]) {
      in.haps = read_haplotype_vcf(run, *hap_vcf);  // its run-log lines in the first attempt
    } else {
      in.haps = read_haplotype_input(run, in.panel, here(hap_vcf, false), kept);
    }
  }
  if (region) check_region_positions(in, s);
  if (!region) {
    check_mixed(in, s);
    run_whole(s, run, *engine, in, out, argc, argv);
  } else if (in.text_only) {
    run_text_region(s, run, *engine, in, out, argc, argv);
  } else {
    run_region(s, run, *engine, in, own_haplotypes, out, argc, argv);
  }
  engine->finish(s, out.totals);
  print_complete_stamp();
}

}  // namespace

int run_tessellar(int argc, char** argv) {
  // Without a standard output the run log has nowhere to go, and the first
  // file opened would take its descriptor and receive the log.
  if (::fcntl(STDOUT_FILENO, F_GETFD) == -1) {
    std::fprintf(stderr, "Error: cannot write the run log on standard output: %s.\n",
                 std::strerror(errno));
    return 1;
  }
  install_signal_handlers();
  try {
    if (print_help_or_version(argc, argv)) {
      std::fflush(stdout);
      return 0;
    }
    run(argc, argv);
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) return 1;  // the run log was lost
    return 0;
  } catch (const RunStopped&) {
    std::fflush(stdout);
    return 1;
  } catch (const std::bad_alloc&) {
    try {
      fatal("not enough memory for this run.");
    } catch (const RunStopped&) {
    }
    return 1;
  }
}

}  // namespace tessellar
