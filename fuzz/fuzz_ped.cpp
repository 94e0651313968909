// The family file reader, read_ped: the first line of the input holds the
// panel's sample ids (blank-separated, all different, as a VCF header gives
// them), the rest is the .fam-style file. A layout that comes back must put
// every sample in exactly one panel column and match its unit counts.
#include <cstddef>
#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "common.h"
#include "core/fatal.h"
#include "input/ped.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  tsl_fuzz::init();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  if (size > 16384) return -1;
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const std::size_t eol = input.find('\n');
  if (eol == std::string_view::npos) return -1;
  std::vector<std::string> samples;
  std::set<std::string> seen;
  const std::string_view first = input.substr(0, eol);
  std::size_t at = 0;
  while (at < first.size()) {
    while (at < first.size() && (first[at] == ' ' || first[at] == '\t')) ++at;
    const std::size_t start = at;
    while (at < first.size() && first[at] != ' ' && first[at] != '\t') ++at;
    if (at == start) break;
    std::string id(first.substr(start, at - start));
    if (!seen.insert(id).second) return -1;  // a VCF header has no repeated sample
    samples.push_back(std::move(id));
  }
  if (samples.empty() || samples.size() > 256) return -1;
  const std::string path = tsl_fuzz::path_of("panel.ped");
  tsl_fuzz::write_file(path, input.substr(eol + 1));
  try {
    const tessellar::FamilyLayout layout = tessellar::read_ped(path, samples);
    const std::size_t n = samples.size();
    using tsl_fuzz::expect;
    expect(layout.nTR >= 0 && layout.nDU >= 0 && layout.nUN >= 0, "negative unit counts");
    expect(static_cast<std::size_t>(3 * layout.nTR + 2 * layout.nDU + layout.nUN) == n,
           "3 nTR + 2 nDU + nUN differs from the sample count");
    expect(layout.sample_of_column.size() == n,
           "sample_of_column differs in size from the samples");
    std::vector<int> times(n, 0);
    for (int s : layout.sample_of_column) {
      expect(s >= 0 && static_cast<std::size_t>(s) < n, "column names no sample");
      ++times[static_cast<std::size_t>(s)];
    }
    for (int t : times) expect(t == 1, "a sample is in no column or in two");
    expect(layout.haplotypes.size() ==
               static_cast<std::size_t>(4 * layout.nTR + 3 * layout.nDU + 2 * layout.nUN),
           "haplotype count differs from 4 nTR + 3 nDU + 2 nUN");
    for (const tessellar::HapSource& h : layout.haplotypes) {
      expect(h.column >= 0 && static_cast<std::size_t>(h.column) < n, "haplotype of no column");
      expect(h.allele == 0 || h.allele == 1, "haplotype allele other than 0 or 1");
    }
    // The singletons come last, in sample order.
    const std::size_t singles = static_cast<std::size_t>(layout.nUN);
    for (std::size_t c = n - singles + 1; c < n; ++c)
      expect(layout.sample_of_column[c - 1] < layout.sample_of_column[c],
             "singletons out of sample order");
  } catch (const tessellar::RunStopped&) {
  }
  return 0;
}
