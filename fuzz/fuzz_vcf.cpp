// The VCF/BCF readers: VcfReader::open_if_vcf and read_study_input,
// read_panel_input (with and without a -ped file, with and without taking
// the haplotypes from the panel's phased GT) and read_haplotype_input.
//
// Byte 0 chooses: bits 0-1 the role (0 study, 1 panel, 2 haplotypes; 3 is
// taken as 0); bit 2 bgzips the file (BGZF blocks through htslib); bit 3
// re-encodes it as BCF through htslib first (the records htslib parses
// without error, up to the first one with an error); bit 4 panel: its own
// haplotypes; bit 5 panel: read with a -ped file; bits 6-7 haplotypes: the
// panel's trios (for the log line). The rest is the file, then optionally a
// line "===" and the -ped file.
#include <htslib/hts.h>
#include <htslib/vcf.h>

#include <cstddef>
#include <cstdint>
#include <set>
#include <string>

#include "checks.h"
#include "common.h"
#include "core/fatal.h"
#include "input/inputs.h"

namespace {
using tsl_fuzz::expect;

// Contig names of a reader's tables: non-empty and each once.
template <typename Contigs>
void check_contig_names(const Contigs& contigs) {
  std::set<std::string> names;
  for (const auto& c : contigs) {
    expect(!c.name.empty(), "a VCF contig without a name");
    expect(names.insert(c.name).second, "a contig comes back as a second table");
  }
}

void read_study(const std::string& path, std::unique_ptr<tessellar::VcfReader> vcf) {
  tessellar::Settings s;
  s.gfile = path;
  const std::size_t nsamples = vcf->samples().size();
  const tessellar::StudyInput in = tessellar::read_study_input(s, std::move(vcf));
  expect(in.vcf, "a VCF study not marked vcf");
  expect(in.samples.size() == nsamples && nsamples > 0, "study samples differ from the header");
  expect(!in.contigs.empty(), "a study without contigs came back");
  check_contig_names(in.contigs);
  for (const tessellar::StudyContig& c : in.contigs) {
    expect(static_cast<std::size_t>(c.table.nind) == nsamples, "nind differs from the samples");
    tsl_fuzz::check_rows(c.table, c.table.nind, tsl_fuzz::RowsFrom::vcf);
  }
}

void read_panel(const std::string& path, const std::string& ped,
                std::unique_ptr<tessellar::VcfReader> vcf, bool own) {
  tessellar::Settings s;
  s.efile = path;
  s.ped = ped;
  const int nsamples = static_cast<int>(vcf->samples().size());
  const tessellar::PanelInput in = tessellar::read_panel_input(s, std::move(vcf), own);
  expect(in.vcf && in.own_haplotypes == own, "panel input flags wrong");
  expect(3 * in.nTR + 2 * in.nDU + in.nUN == nsamples,
         "3 nTR + 2 nDU + nUN differs from the samples");
  expect(!in.contigs.empty(), "a panel without contigs came back");
  check_contig_names(in.contigs);
  const int H = 4 * in.nTR + 3 * in.nDU + 2 * in.nUN;
  for (const tessellar::PanelContig& c : in.contigs) {
    const tessellar::PanelTable& t = c.table;
    expect(t.ncol == nsamples && t.nTR == in.nTR && t.nDU == in.nDU && t.nUN == in.nUN,
           "panel table structure differs from the input's");
    tsl_fuzz::check_rows(t, t.ncol, tsl_fuzz::RowsFrom::vcf);
    if (!own) {
      expect(c.hap_of_row.empty() && c.haps.nsnp == 0, "haplotypes taken without being asked");
      continue;
    }
    expect(c.hap_of_row.size() == static_cast<std::size_t>(t.nsnp),
           "hap_of_row differs in size from the panel rows");
    int next = 0;
    for (int h : c.hap_of_row) {
      if (h < 0) continue;
      expect(h == next++, "hap_of_row not the haplotype rows in order");
    }
    expect(next == c.haps.nsnp, "haplotype rows without a panel row");
    if (c.haps.nsnp > 0) expect(c.haps.ncol == H, "haplotype columns != 4 nTR + 3 nDU + 2 nUN");
    tsl_fuzz::check_haps(c.haps);
  }
}

void read_haplotypes(const std::string& path, int trios,
                     std::unique_ptr<tessellar::VcfReader> vcf) {
  tessellar::Settings s;
  s.hfile = path;
  tessellar::PanelInput panel;
  panel.nTR = trios;
  const std::size_t nsamples = vcf->samples().size();
  const tessellar::HapInput in = tessellar::read_haplotype_input(s, panel, std::move(vcf));
  expect(in.vcf, "a VCF haplotype input not marked vcf");
  expect(!in.contigs.empty(), "haplotypes without contigs came back");
  check_contig_names(in.contigs);
  const int H = in.contigs[0].haps.ncol;
  expect(H >= static_cast<int>(nsamples) && H <= 2 * static_cast<int>(nsamples),
         "haplotype columns not one or two per sample");
  for (const tessellar::HapContig& c : in.contigs) {
    const auto n = static_cast<std::size_t>(c.haps.nsnp);
    expect(c.haps.nsnp > 0, "a haplotype contig without rows");
    expect(c.haps.ncol == H, "haplotype columns differ between contigs");
    expect(c.pos.size() == n && c.allele.size() == n, "pos or allele differ in size from nsnp");
    for (std::size_t r = 0; r < n; ++r) {
      expect(c.pos[r] >= 0 && (r == 0 || c.pos[r - 1] <= c.pos[r]), "positions out of order");
      expect(c.allele[r][0] != c.allele[r][1], "REF equals ALT");
    }
    tsl_fuzz::check_haps(c.haps);
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  tsl_fuzz::init();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  if (size < 1 || size > 16384) return -1;
  const uint8_t mode = data[0];
  const int role = (mode & 3) == 3 ? 0 : mode & 3;
  const bool bgzip = (mode & 4) != 0;
  const bool bcf = (mode & 8) != 0;
  const bool own = (mode & 16) != 0;
  const bool with_ped = (mode & 32) != 0;
  const int trios = mode >> 6;
  const auto parts =
      tsl_fuzz::sections(std::string_view(reinterpret_cast<const char*>(data) + 1, size - 1), 2);
  tsl_fuzz::clear_work_dir();
  const std::string text_path = tsl_fuzz::path_of("input.vcf");
  std::string path = text_path;
  if (bgzip && !bcf) {
    path = tsl_fuzz::path_of("input.vcf.gz");
    tsl_fuzz::write_bgzf(path, parts[0]);
  } else {
    tsl_fuzz::write_file(path, parts[0]);
  }
  if (bcf) {
    const std::string bcf_path = tsl_fuzz::path_of("input.bcf");
    if (tsl_fuzz::to_bcf(text_path, bcf_path, bgzip)) path = bcf_path;
  }
  std::string ped;
  if (role == 1 && with_ped) {
    ped = tsl_fuzz::path_of("panel.ped");
    tsl_fuzz::write_file(ped, parts.size() > 1 ? parts[1] : std::string_view());
  }
  static const char* const kRoles[] = {"study", "panel", "haplotype"};
  try {
    std::unique_ptr<tessellar::VcfReader> vcf =
        tessellar::VcfReader::open_if_vcf(path, kRoles[role]);
    if (vcf == nullptr) return 0;  // not VCF or BCF: the text readers' part
    if (role == 0) read_study(path, std::move(vcf));
    if (role == 1) read_panel(path, ped, std::move(vcf), own);
    if (role == 2) read_haplotypes(path, trios, std::move(vcf));
  } catch (const tessellar::RunStopped&) {
  }
  return 0;
}
