// The recode, strand and monomorphic passes over the SNP union.
#include "input/alignment.h"

namespace tessellar {

namespace {

// Panel alleles C then G, or A then T: the strand cannot be told from the letters.
bool strand_ambiguous(const std::array<char, 2>& a) {
  return (a[0] == 'C' && a[1] == 'G') || (a[0] == 'A' && a[1] == 'T');
}

bool near_half(double f) {
  return f > 0.4 && f < 0.6;
}

void recode_pass(const SnpUnion& u, const StudyTable& study, PanelTable& panel) {
  for (int r = 0; r < u.n; ++r) {
    if (u.study_row[r] >= 0 && u.panel_row[r] >= 0 && study.recode[u.study_row[r]] == 1) {
      if (panel.vcf) {
        flip(panel, u.panel_row[r]);
      } else {
        flip_codes(panel, u.panel_row[r]);
      }
    }
  }
}

void strand_pass(SnpUnion& u, const StudyTable& study, PanelTable& panel, int no_remove) {
  for (int r = 0; r < u.n; ++r) {
    const int s = u.study_row[r];
    const int p = u.panel_row[r];
    if (s < 0 || p < 0) continue;
    if (panel.allele[p][0] != study.allele[s][0]) {
      flip(panel, p);
      continue;
    }
    if (!strand_ambiguous(panel.allele[p])) continue;
    const double fs = study.freq[s];
    const double fe = panel.freq[p];
    const double d = (fe - 0.5) * (fs - 0.5);
    if (near_half(fe) && near_half(fs) && d < 0) {
      if (!no_remove) u.study_row[r] = -1;
    } else if (d < 0) {
      flip(panel, p);
    }
  }
}

}  // namespace

void flip_codes(PanelTable& panel, int r) {
  if (!panel.geno.has_row(r)) return;  // a row whose codes a region run does not read
  int8_t* codes = panel.geno.row(r);
  for (int c = 0; c < panel.ncol; ++c) {
    if (codes[c] != 9) codes[c] = static_cast<int8_t>(2 - codes[c]);
  }
}

void flip(PanelTable& panel, int r) {
  if (panel.flipped.empty()) panel.flipped.assign(static_cast<std::size_t>(panel.nsnp), 0);
  panel.flipped[static_cast<std::size_t>(r)] ^= 1;
  flip_codes(panel, r);
}

bool monomorphic(double f) {
  return f < 0.000001 || f > 0.999999;
}

void align_alleles(SnpUnion& snp_union, const StudyTable& study, PanelTable& panel, int no_fix,
                   int no_remove) {
  recode_pass(snp_union, study, panel);
  if (!no_fix) strand_pass(snp_union, study, panel, no_remove);
}

void align_haplotypes(HapTable& haps, const PanelTable& panel, const std::vector<int>& hap_of_row) {
  for (int r = 0; r < panel.nsnp; ++r) {
    const int h = hap_of_row[static_cast<std::size_t>(r)];
    if (h < 0 || !panel.is_flipped(r)) continue;
    uint8_t* bits = haps.bits.data() + static_cast<std::size_t>(h) * haps.ncol;
    for (int c = 0; c < haps.ncol; ++c) bits[c] = static_cast<uint8_t>(1 - bits[c]);
  }
}

void drop_monomorphic(SnpUnion& snp_union, const StudyTable& study, const PanelTable& panel) {
  SnpUnion& u = snp_union;
  for (int r = 0; r < u.n; ++r) {
    if (u.panel_row[r] >= 0 && u.study_row[r] == -1) {
      if (monomorphic(panel.freq[u.panel_row[r]])) u.panel_row[r] = -1;
    } else if (u.study_row[r] >= 0) {
      if (monomorphic(study.freq[u.study_row[r]])) u.study_row[r] = -1;
    }
  }
}

}  // namespace tessellar
