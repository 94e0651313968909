// The genetic map of the hmm engine: a PLINK .map file (chromosome, id,
// position in cM, position in bp; plain or gzipped), read into one table of
// positions per contig, and the genetic position of any base-pair position
// by linear interpolation between the map's positions, extrapolated beyond
// its ends at the rate of its first or last interval.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace tessellar {

// The map's positions on one contig: bp strictly ascending, cm not descending.
struct MapContig {
  std::string name;
  std::vector<long long> bp;
  std::vector<double> cm;

  // The genetic position (cM) of base-pair position pos; needs two positions or more.
  double cm_at(long long pos) const;
};

struct GeneticMap {
  std::string path;
  std::vector<MapContig> contigs;  // in file order

  // The contig whose name matches name as inputs match (a leading "chr"
  // ignored), or null.
  const MapContig* find(std::string_view name) const;
};

// Reads path; a malformed line (not four fields, a cM that is not a number,
// a position that is not an integer of 0 or more), positions that do not
// ascend within a contig (or cM that descend), a contig whose lines do not
// stand together, or a file without any position stop the run naming the
// file and line. Prints its run-log line.
GeneticMap read_genetic_map(const std::string& path);

// The contig's table for a run on contig name: stops the run when the map
// holds no position of it, or only one (no rate to interpolate with).
const MapContig& map_contig(const GeneticMap& map, std::string_view name);

}  // namespace tessellar
