// Checks of a reference panel's trios and duos against its phased
// haplotypes. The haplotype rows hold each trio's four parental haplotypes
// and each duo's parent's two and the child's allele from the parent
// outside the panel; a child's transmitted haplotypes repeat its parents'
// and are not states of their own. A child's genotype must be a sum of an
// allele of each parent's haplotypes (else a Mendel error); where a parent
// is heterozygous and the child's genotype tells which of its haplotypes it
// transmitted, that haplotype should change only at recombinations, so
// changes between such sites beyond a few per chromosome are phase errors.
#pragma once

#include "input/haplotypes.h"
#include "input/panel.h"
#include "input/snp_union.h"

namespace tessellar::hmm {

struct FamilyCheck {
  long long genotypes = 0;      // children's genotypes checked (panel and haplotype rows)
  long long mendel_errors = 0;  // of them, not a sum of an allele of each parent
  long long informative = 0;    // sites where a heterozygous parent's transmitted haplotype shows
  long long changes = 0;        // changes of it from one such site to the next
  void add(const FamilyCheck& o) {
    genotypes += o.genotypes;
    mendel_errors += o.mendel_errors;
    informative += o.informative;
    changes += o.changes;
  }
};

// Checks the union rows [row_begin, row_end) that have a panel row and a
// haplotype row (codes and haplotypes counting the same allele, as the
// alignment leaves them).
FamilyCheck check_families(const SnpUnion& u, const PanelTable& panel, const HapTable& haps,
                           int row_begin, int row_end);

}  // namespace tessellar::hmm
