// The inputs of a run as the driver and the region runs read them: the
// VCF inputs' readers, the three inputs read, and the tables of one study
// contig matched across them. The caller owns the readers and the inputs.
#pragma once

#include <array>
#include <memory>
#include <string>

#include "core/settings.h"
#include "input/inputs.h"
#include "input/panel.h"
#include "input/vcf_reader.h"
#include "output/sites.h"
#include "run/contig_run.h"

namespace tessellar {

// The inputs of the run, read.
struct RunInputs {
  StudyInput study;
  PanelInput panel;
  HapInput haps;
  bool text_only = true;  // all three are text files: the union pairs by position alone
  // Region runs: the VCF inputs (study, panel, haplotypes) from a pipe,
  // read once before the attempts, which cannot read them again.
  std::array<bool, 3> once{};
};

// The inputs' readers, opened: a VCF input's reader, or null for a text one.
struct Readers {
  std::unique_ptr<VcfReader> study;
  std::unique_ptr<VcfReader> panel;
  std::unique_ptr<VcfReader> haps;
};

// Opens the VCF inputs' readers (a text input's stays null); skip: the
// inputs (study, panel, haplotypes) not to open (read once already).
Readers open_readers(const Settings& s, bool own_haplotypes, std::array<bool, 3> skip = {});

// Reads into in, from the readers of vcf (those it reads are taken) or the
// text files, every input of a whole run; of a region run (s.has_region)
// the text inputs and those read once. in.text_only is set already, and of
// a region run what begin_region_reading sets. Returns the run's settings:
// s with the panel's family units when the panel was read.
Settings read_inputs(const Settings& s, Readers& vcf, bool own_haplotypes, RunInputs& in);

// A text input carries no contig: beside one, each VCF input may hold only one.
void check_mixed(const RunInputs& in, const Settings& s);

// The name of a text study's contig in the output: a VCF input's, else "1".
std::string text_contig_name(const RunInputs& in);

// Whether contigs pair by name: when the study and another input carry them.
bool pairs_by_name(const RunInputs& in);

// The tables of one study contig (sc, named name in the output) matched
// across the inputs; no_panel stands for a panel that lacks the contig.
// sites: the skipped records of the contig are added as per-site lines.
ContigInputs contig_inputs(RunInputs& in, StudyContig& sc, const std::string& name, bool by_name,
                           PanelTable& no_panel, bool sites);

// The panel's contigs that the study lacks: their SNPs on the per-site file.
void write_contigs_without_study(RunInputs& in, bool by_name, SitesFile& sites);

}  // namespace tessellar
