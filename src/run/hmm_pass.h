// The hmm engine's pass over one contig's rows: window by window (the fixed
// windows of hmm/window_layout.h), the doses of every study haplotype from
// the copying kernel, then the records of the window's rows in row order:
// complete study SNPs written through, untyped SNPs and the missing
// genotypes of typed ones imputed from the two haplotype doses of each
// individual, P(2) = x1 x2, P(1) = x1 (1 - x2) + x2 (1 - x1),
// P(0) = (1 - x1) (1 - x2). Doses and records are made on the worker
// threads and written in order, so the output is the same for every count.
#pragma once

#include <cstddef>

#include "hmm/window_inputs.h"
#include "output/output.h"
#include "run/pass.h"

namespace tessellar {

// Most untyped doses (targets x study haplotypes) held at once: a window
// with more is imputed in slices of its rows, each running the kernel again
// (the same doses, computed once more), so that memory stays bounded.
inline constexpr std::size_t kMaxWindowDoses = std::size_t{1} << 24;  // 64 MB of floats

// Writes the records of the job's rows of one contig (tables as the kernel
// inputs read them) to output, with their outcomes; max_doses: as
// kMaxWindowDoses.
PassTotals run_hmm_pass(const PassJob& job, const hmm::ContigTables& tables,
                        const hmm::ModelParameters& parameters, OutputFile& output,
                        std::size_t max_doses = kMaxWindowDoses);

}  // namespace tessellar
