// The study text reader, read_study: the input is a study genotype file.
// (fuzz_text_block reads it across the reader's block boundary.)
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
  if (size > 16384) return -1;
  const std::string path = tsl_fuzz::path_of("genotype.dat");
  tsl_fuzz::write_file(path, std::string_view(reinterpret_cast<const char*>(data), size));
  try {
    const tessellar::StudyTable study = tessellar::read_study(path);
    tsl_fuzz::expect(study.nind > 0, "a study without individuals came back");
    tsl_fuzz::check_rows(study, study.nind, tsl_fuzz::RowsFrom::study_text);
  } catch (const tessellar::RunStopped&) {
  }
  return 0;
}
