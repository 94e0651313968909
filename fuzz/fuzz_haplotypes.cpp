// The haplotype text reader, read_haplotypes: a phased haplotype file from
// the input. Byte 0: when its low six bits are all set, blank lines go
// before the file so that it starts (byte 0 >> 6) * 300 + 1 bytes before the
// end of the reader's first 1 MiB block. The rest is the file.
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
  if (size < 1 || size > 16384) return -1;
  tessellar::Settings settings;
  settings.hfile = tsl_fuzz::path_of("haplotype.dat");
  tsl_fuzz::write_text_input(
      settings.hfile, std::string_view(reinterpret_cast<const char*>(data) + 1, size - 1), data[0]);
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
