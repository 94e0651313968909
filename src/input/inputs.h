// The three inputs of a run read into tables, contig by contig. A text file
// is one contig without a name and is read exactly as before; a VCF or BCF
// file gives one table per contig, in file order, of the biallelic SNPs that
// pass its filters. The readers print their lines of the run log.
#pragma once

#include <array>
#include <string>
#include <vector>

#include "core/settings.h"
#include "input/haplotypes.h"
#include "input/panel.h"
#include "input/study.h"
#include "input/vcf_reader.h"

namespace tessellar {

// A record that takes no part, kept for the per-site file.
struct SkippedRecord {
  std::string contig;
  int pos = 0;
  std::string id;
  std::string ref;
  std::string alt;
  SkipReason reason = SkipReason::filter;
  bool unphased = false;  // a haplotype record without phased GT for every sample
};

struct StudyContig {
  std::string name;  // "" for a text file
  StudyTable table;
};

struct StudyInput {
  bool vcf = false;
  int nind = 0;
  std::vector<std::string> samples;          // individual ids, in study order
  std::vector<HeaderContig> header_contigs;  // the contigs its header names
  std::vector<StudyContig> contigs;          // in file order
  SkipCounts skipped;
  std::vector<SkippedRecord> skipped_records;  // kept when there is a per-site file
};

struct PanelContig {
  std::string name;
  PanelTable table;
  // The haplotypes taken from the panel's own phased genotypes (VCF panel
  // without a haplotype file): hap_of_row[r] is panel row r's haplotype row,
  // -1 when GT is unphased or missing for a sample that gives haplotypes.
  HapTable haps;
  std::vector<int> hap_of_row;
};

struct PanelInput {
  bool vcf = false;
  bool own_haplotypes = false;  // haplotypes taken from the panel itself
  int members = 0;              // panel members (columns)
  int haplotypes = 0;           // haplotype columns of its own haplotypes
  int nTR = 0;
  int nDU = 0;
  int nUN = 0;
  std::vector<PanelContig> contigs;
  SkipCounts skipped;
  std::vector<SkippedRecord> skipped_records;  // kept when there is a per-site file
};

struct HapContig {
  std::string name;
  HapTable haps;
  std::vector<int> pos;                     // VCF: per haplotype row
  std::vector<std::array<char, 2>> allele;  // VCF: REF, ALT per haplotype row
};

struct HapInput {
  bool vcf = false;  // VCF rows match panel rows by position and alleles; text rows by name
  std::vector<HapContig> contigs;
  std::vector<SkippedRecord> skipped_records;  // kept when there is a per-site file
  // VCF: what its run-log lines say (print_haplotype_report)
  std::string path;
  int rows = 0;
  int unphased = 0;
  SkipCounts skipped;
};

// The readers of VCF inputs stop the run on a file without any usable SNP,
// but not in a run with -region, where a range may hold none.

// What a run of one region keeps of its text inputs: the genotype codes at
// some positions and the haplotype values of some rows; quiet when it reads
// them a second time, without their run-log lines.
struct TextKept {
  KeptPositions positions;
  KeptRows haplotypes;
  bool quiet = false;
};

// Reads the study file (-gfile).
StudyInput read_study_input(const Settings& s, std::unique_ptr<VcfReader> vcf,
                            const TextKept& kept = {});

// Reads the panel file (-efile); a VCF panel with the family structure of
// s.ped (every sample a singleton without one), taking its haplotypes from
// its phased genotypes when own_haplotypes.
PanelInput read_panel_input(const Settings& s, std::unique_ptr<VcfReader> vcf, bool own_haplotypes,
                            const TextKept& kept = {});

// Reads the haplotype file (-hfile); text rows name the panel SNPs they
// belong to, VCF rows are phased genotypes of every sample.
HapInput read_haplotype_input(const Settings& s, const PanelInput& panel,
                              std::unique_ptr<VcfReader> vcf, const TextKept& kept = {});

// The same for a VCF file, without its run-log lines (so that it can run on
// a thread of its own beside the panel's reading); print_haplotype_report
// prints them, naming the panel's family units.
HapInput read_haplotype_vcf(const Settings& s, VcfReader& vcf);
void print_haplotype_report(const HapInput& in, const PanelInput& panel);

// The panel with the study's individual ids of a text study: IND1 .. INDn.
std::vector<std::string> numbered_individuals(int n);

}  // namespace tessellar
