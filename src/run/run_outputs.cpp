// The outputs of a run: the files, the format, the VCF header.
#include "run/run_outputs.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "core/fatal.h"
#include "output/output_path.h"
#include "output/text_format.h"
#include "output/vcf_format.h"
#include "run/cmdline.h"

namespace tessellar {
namespace {

// The VCF header of the output.
std::string output_header(const RunInputs& in, const std::string& text_contig, bool hmm, int argc,
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
long long last_position(const RunInputs& in) {
  long long last = 0;
  auto scan = [&last](const GenotypeRows& t) {
    for (int p : t.pos) last = std::max<long long>(last, p);
  };
  for (const StudyContig& c : in.study.contigs) scan(c.table);
  for (const PanelContig& c : in.panel.contigs) scan(c.table);
  return last;
}

// VCF positions start at 1; the text formats allow less.
void check_vcf_positions(const RunInputs& in) {
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

}  // namespace

RunOutputs::RunOutputs(const Settings& s)
    : file(s.ofile, output_kind(s.ofile), s.threads),
      loo(s.engine == EngineKind::hmm),
      hmm(s.engine == EngineKind::hmm) {
  if (!s.sites.empty()) sites = std::make_unique<SitesFile>(s.sites, hmm);
}

void RunOutputs::start(const RunInputs& in, const std::string& text_contig, int argc, char** argv) {
  if (file.kind() == OutputKind::text) {
    format = std::make_unique<TextFormat>();
  } else {
    check_vcf_positions(in);
    format = std::make_unique<VcfFormat>();
    file.write_header(output_header(in, text_contig, hmm, argc, argv), last_position(in));
  }
}

ContigSinks RunOutputs::sinks(const Settings& s) {
  const bool figures = file.kind() != OutputKind::text || sites != nullptr || s.loo;
  return {*format, file, sites.get(), s.loo ? &loo : nullptr, figures};
}

void RunOutputs::commit(const Settings& s) {
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

}  // namespace tessellar
