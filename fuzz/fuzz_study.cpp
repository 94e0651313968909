// The study text reader, read_study: a study genotype file from the input.
// Byte 0: when its low six bits are all set, blank lines go before the file so
// that it starts (byte 0 >> 6) * 300 + 1 bytes before the end of the reader's
// first 1 MiB block. The rest is the file.
#include <cstddef>
#include <cstdint>

#include "checks.h"
#include "common.h"
#include "core/fatal.h"
#include "input/study.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  tsl_fuzz::init();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  if (size < 1 || size > 16384) return -1;
  const std::string path = tsl_fuzz::path_of("genotype.dat");
  tsl_fuzz::write_text_input(
      path, std::string_view(reinterpret_cast<const char*>(data) + 1, size - 1), data[0]);
  try {
    const tessellar::StudyTable study = tessellar::read_study(path);
    tsl_fuzz::expect(study.nind > 0, "a study without individuals came back");
    tsl_fuzz::check_rows(study, study.nind, tsl_fuzz::RowsFrom::study_text);
  } catch (const tessellar::RunStopped&) {
  }
  return 0;
}
