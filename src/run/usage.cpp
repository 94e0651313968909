// The usage summary.
#include "run/usage.h"

namespace tessellar {

const char* usage_text() {
  return R"(Tessellar v1.0: imputes SNP genotypes of a study sample from a reference
panel of trios, duos and singletons and phased haplotypes.

Usage: tessellar [options]

Inputs (text, or VCF/BCF told from the content):
  -gfile FILE        study genotypes                     [genotype.dat]
  -efile FILE        reference panel genotypes           [external.dat]
  -hfile FILE        phased haplotypes; not needed with a VCF panel, whose
                     phased GT gives them                [haplotype.dat]
  -ped FILE          family structure of a VCF panel (.fam: family, individual,
                     father, mother, sex, phenotype)     [every sample a singleton]
  -panel T D U       trios, duos and singletons of a text panel  [30 0 0]
Output:
  -ofile FILE        output; its name sets the format: .vcf.gz (bgzipped VCF
                     with a tabix index), .bcf (with a CSI index), .vcf, or
                     any other name the text format          [imp_geno.out]
Engines:
  -engine E          tags: for each target the tag SNPs near it that predict it
                     best, haplotype frequencies by EM from the panel's families
                     (or the study) [default]; hmm: each study haplotype
                     copies a mosaic of the panel's phased haplotypes
                     (haplotype-copying model); unphased study genotypes
                     are phased first
Tag engine:
  -tag N             tag SNPs per target, 1 to 10                  [4]
  -window BP         distance within which candidate tags are chosen [50000]
  -max N             most candidate tags                           [20]
  -min N             fewest candidate tags, beyond the window if need be [8]
Hmm engine:
  -map FILE          genetic map (PLINK .map: chromosome, id, cM, bp); the
                     switch probability between typed sites then follows the
                     distance in cM                 [no map: -switch]
  -switch P          switch probability per interval between typed sites,
                     without a map, above 0 and below 1           [0.03]
  -ne N              effective population size, with a map        [100000]
  -error P           probability that a study allele differs from the copied
                     one, above 0 and below 0.5                   [0.01]
  -rounds N          phasing rounds of unphased genotypes, 0 to 100 [6]
  -states K          copying states per sample in phasing          [300]
  -draws M           haplotype pairs per sample drawn from the phasing,
                     imputed and averaged, 1 to 64                 [4]
  -seed S            seed of the draws; same output for any -threads [1]
  -rephase           phase a study whose GT is phased too  [phase kept]
Both engines:
  -no_fix            no strand check and fix              [strands checked]
  -no_remove         keep A/T and C/G SNPs whose strand cannot be told
  -threads N         worker threads, 1 to 256; same output for any N [1]
Quality:
  -sites FILE        per-site file: the fate of every SNP of the inputs and its
                     AF, MAF, INFO, tag-set score and tags (.gz: bgzipped);
                     with the hmm engine R2 too
  -loo               leave-one-out check: impute each typed SNP as if untyped,
                     report its ER2 and a summary by allele frequency
Genome-wide runs:
  -region C:S-E      impute and write only the SNPs of contig C at positions S
                     to E (also C, or C:S-); chunks of a contig concatenate to
                     the whole run's output; VCF/BCF inputs are read through
                     their indexes (bcftools index)
  -h, -speed         accepted; they change the run log only
Other:
  -help, --help      this summary;  --version  the version

Formats: text files have one line per SNP (study: name, position, recode flag,
two alleles, codes 0/1/2/9 counting the second allele; panel: name, position,
two alleles, codes; haplotypes: name, 0/1 per haplotype). VCF/BCF inputs give
biallelic SNPs (ALT counted; others are skipped and counted in the run log),
matched by contig (a "chr" prefix ignored) and position. Text output: one line
per SNP with probabilities of 2, 1, 0 copies; VCF output: GT:DS:GP per sample.

Examples:
  tessellar -gfile genotype.dat -efile external.dat -hfile haplotype.dat -panel 30 0 0
  tessellar -gfile study.vcf.gz -efile panel.vcf.gz -ped panel.ped -ofile imputed.vcf.gz
  tessellar -engine hmm -gfile study.vcf.gz -efile panel.vcf.gz -map chr20.map -ofile imputed.vcf.gz
)";
}

}  // namespace tessellar
