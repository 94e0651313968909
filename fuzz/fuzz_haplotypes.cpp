// The haplotype text reader, read_haplotypes: a phased haplotype file from
// the input. Byte 0: when its low six bits are all set, blank lines go
// before the file so that it starts (byte 0 >> 6) * 300 + 1 bytes before the
// end of the reader's first 1 MiB block; the file is then read once more
// without them, and both reads must agree. The rest is the file.
#include <cstddef>
#include <cstdint>
#include <optional>

#include "checks.h"
#include "common.h"
#include "core/fatal.h"
#include "input/haplotypes.h"

namespace {

std::optional<tessellar::HapTable> read(const tessellar::Settings& settings) {
  try {
    return tessellar::read_haplotypes(settings.hfile, settings);
  } catch (const tessellar::RunStopped&) {
    return std::nullopt;
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  tsl_fuzz::init();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  if (size < 1 || size > 16384) return -1;
  tessellar::Settings settings;
  settings.hfile = tsl_fuzz::path_of("haplotype.dat");
  const std::string_view text(reinterpret_cast<const char*>(data) + 1, size - 1);
  tsl_fuzz::write_text_input(settings.hfile, text, data[0]);
  const std::optional<tessellar::HapTable> haps = read(settings);
  if (haps) {
    tsl_fuzz::expect(haps->nsnp > 0 && haps->ncol > 0, "an empty haplotype table came back");
    tsl_fuzz::check_haps(*haps);
    for (const std::string& name : haps->name)
      tsl_fuzz::expect(!name.empty() && name.size() <= 29, "SNP name length out of range");
  }
  if (tsl_fuzz::behind_block(data[0])) {
    tsl_fuzz::write_file(settings.hfile, text);
    const std::optional<tessellar::HapTable> plain = read(settings);
    tsl_fuzz::expect(haps.has_value() == plain.has_value(),
                     "blank lines before the file change whether it is read");
    if (haps)
      tsl_fuzz::expect(tsl_fuzz::same_haps(*haps, *plain),
                       "blank lines before the file change its table");
  }
  return 0;
}
