// The haplotype text reader, read_haplotypes: the input is a phased
// haplotype file. (fuzz_text_block reads it across the reader's block
// boundary.)
#include <cstddef>
#include <cstdint>

#include "checks.h"
#include "common.h"
#include "core/fatal.h"
#include "input/haplotypes.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  tsl_fuzz::init();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  if (size > 16384) return -1;
  tessellar::Settings settings;
  settings.hfile = tsl_fuzz::path_of("haplotype.dat");
  tsl_fuzz::write_file(settings.hfile, std::string_view(reinterpret_cast<const char*>(data), size));
  try {
    const tessellar::HapTable haps = tessellar::read_haplotypes(settings.hfile, settings);
    tsl_fuzz::expect(haps.nsnp > 0 && haps.ncol > 0, "an empty haplotype table came back");
    tsl_fuzz::check_haps(haps);
    for (const std::string& name : haps.name)
      tsl_fuzz::expect(!name.empty() && name.size() <= 29, "SNP name length out of range");
  } catch (const tessellar::RunStopped&) {
  }
  return 0;
}
