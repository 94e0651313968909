// The imputation engines behind one interface. A run makes one engine; the
// driver prepares each contig's tables (union, haplotype rows, alignment,
// filters) and hands them to it, with the range of rows to write. Both
// engines hand the same records to the same writers. The tag engine picks
// tag SNPs near each target and estimates haplotype frequencies by EM; the
// hmm engine runs the haplotype-copying model on fixed windows of the contig.
#pragma once

#include <memory>
#include <string>

#include "core/settings.h"
#include "output/output.h"
#include "run/hmm_pass.h"
#include "run/impute.h"
#include "run/pass.h"
#include "tags/tag_search.h"

namespace tessellar {

// Positions first .. last of a contig, inclusive.
struct PositionRange {
  long long first = 1;
  long long last = 0;
};

// What a write of a range of positions reads of the tables: the codes at
// positions lo .. hi and the haplotype rows first .. last; nothing when
// lo > hi.
struct TablesRead {
  KeptPositions positions{1, 0};
  KeptRows haplotypes{1, 0};
};

class Engine {
 public:
  virtual ~Engine() = default;

  // The positions of its contig that a run of region reads at first (before
  // they are cut to the contig's).
  virtual PositionRange first_reading(const Settings& run, const Region& region) const = 0;

  // Whether writing positions from .. to of the tables ran into an end of
  // the rows read (left, right), so that more rows beyond it could change
  // what is written.
  virtual CandidateEdges reach(const Settings& run, const RunTables& tables, long long from,
                               long long to) const = 0;

  // What writing positions from .. to reads of the tables. Only union
  // positions, family links and haplotype row numbers decide it.
  virtual TablesRead tables_read(const Settings& run, const RunTables& tables, long long from,
                                 long long to) const = 0;

  // Writes the records of the job's rows to output and hands their outcomes
  // to the job's sink; the output is the same for every thread count.
  virtual PassTotals write(const PassJob& job, OutputFile& output) const = 0;

  // What the run log and the standard error say once every contig is written.
  virtual void finish(const Settings& run, const PassTotals& totals) const = 0;
};

// The tag engine.
std::unique_ptr<Engine> make_tag_engine();

// The hmm engine with the settings' parameters, reading the settings' map
// when there is one; max_doses: the most untyped doses it holds at once
// (smaller in tests of its slices).
std::unique_ptr<Engine> make_hmm_engine(const Settings& s, std::size_t max_doses = kMaxWindowDoses);

// The first union row at position pos or after (n when none).
int first_row_at(const SnpUnion& u, long long pos);

// What union rows lo .. hi read: their positions and the haplotype rows
// that they link to (nothing when lo > hi).
TablesRead rows_read(const SnpUnion& u, int lo, int hi);

}  // namespace tessellar
