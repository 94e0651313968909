// Region runs (-region): the region's positions written as a whole run
// writes them. VCF inputs are read through their indexes over the region and
// flanks that widen until every target's candidates lie inside; those from a
// pipe are read once, up front. Text inputs are read through twice.
#pragma once

#include "core/settings.h"
#include "run/engine.h"
#include "run/run_inputs.h"
#include "run/run_outputs.h"

namespace tessellar {

// Before any input is read: marks in's VCF inputs (vcf: their readers, null
// for a text input), warns of a region contig that none of them holds, and
// restricts those from a pipe, which are read once, to the region's contig.
void begin_region_reading(const Settings& s, Readers& vcf, bool own_haplotypes, RunInputs& in);

// Stops the run at a text input's SNP at a position below 1, which no
// region covers.
void check_region_positions(const RunInputs& in, const Settings& s);

// A run of one region: the VCF inputs are read through their indexes over
// the region and a flank on each side. The flanks start where the engine
// says (tag engine: twice the candidate window and 100 kb; hmm engine: the
// reach of the region's windows) and grow until the candidate collection of
// every target in the region stays inside what was read (or reaches the
// contig's ends), so that every SNP written gets the tags and probabilities
// of a whole run.
// text_in: the inputs read up front; run: s with the panel's family units.
void run_region(const Settings& s, const Settings& run, const Engine& engine, RunInputs& text_in,
                bool own_haplotypes, RunOutputs& out, int argc, char** argv);

// A run of one region from text inputs. Text files have no index, so each
// is read through twice: first keeping every row but no genotype code or
// haplotype value, which tells what the region's SNPs read; then keeping
// only those codes and values. Every other row keeps its name, position,
// alleles and frequencies, so the union, the haplotype matching, the
// alignment and the filters are those of a whole run.
// skeleton: the text inputs without their codes and haplotype values.
void run_text_region(const Settings& s, const Settings& run, const Engine& engine,
                     RunInputs& skeleton, RunOutputs& out, int argc, char** argv);

}  // namespace tessellar
