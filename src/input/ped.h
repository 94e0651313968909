// The family structure of a VCF panel: a PLINK .fam-style file (family id,
// individual id, father, mother, sex, phenotype; 0 for an unknown parent)
// turned into the panel's column order (trios, then duos, then singletons)
// and the haplotype columns that its phased genotypes give.
#pragma once

#include <string>
#include <vector>

namespace tessellar {

// One haplotype column: allele k (0 or 1) of panel column `column`.
struct HapSource {
  int column;
  int allele;
};

struct FamilyLayout {
  int nTR = 0;
  int nDU = 0;
  int nUN = 0;
  // The VCF sample of each panel column: per trio father, mother, child (by
  // the child's sample order), per duo parent, child, then the singletons in
  // sample order.
  std::vector<int> sample_of_column;
  // The haplotype columns, in unit order: per trio both alleles of each
  // parent; per duo both of the parent and the child's allele from the
  // other, unknown parent (child phased paternal|maternal); per singleton
  // both.
  std::vector<HapSource> haplotypes;
};

// Every sample a singleton.
FamilyLayout singletons_only(int samples);

// Reads ped_path against the panel's sample ids. A sample with both parents
// among the samples is a trio child, with one a duo child; the others are
// singletons unless they are such a child's parent. A malformed line, an
// individual that the panel lacks, or a sample that would belong to two
// family units stops the run with a message naming the line.
FamilyLayout read_ped(const std::string& ped_path, const std::vector<std::string>& samples);

}  // namespace tessellar
