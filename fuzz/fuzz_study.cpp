// The study text reader, read_study: a study genotype file from the input.
// Byte 0: when its low six bits are all set, blank lines go before the file so
// that it starts (byte 0 >> 6) * 300 + 1 bytes before the end of the reader's
// first 1 MiB block; the file is then read once more without them, and both
// reads must agree. The rest is the file.
#include <cstddef>
#include <cstdint>
#include <optional>

#include "checks.h"
#include "common.h"
#include "core/fatal.h"
#include "input/study.h"

namespace {

std::optional<tessellar::StudyTable> read(const std::string& path) {
  try {
    return tessellar::read_study(path);
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
  const std::string path = tsl_fuzz::path_of("genotype.dat");
  const std::string_view text(reinterpret_cast<const char*>(data) + 1, size - 1);
  tsl_fuzz::write_text_input(path, text, data[0]);
  const std::optional<tessellar::StudyTable> study = read(path);
  if (study) {
    tsl_fuzz::expect(study->nind > 0, "a study without individuals came back");
    tsl_fuzz::check_rows(*study, study->nind, tsl_fuzz::RowsFrom::study_text);
  }
  if (tsl_fuzz::behind_block(data[0])) {
    tsl_fuzz::write_file(path, text);
    const std::optional<tessellar::StudyTable> plain = read(path);
    tsl_fuzz::expect(study.has_value() == plain.has_value(),
                     "blank lines before the file change whether it is read");
    if (study)
      tsl_fuzz::expect(tsl_fuzz::same_rows(*study, *plain) && study->nind == plain->nind,
                       "blank lines before the file change its table");
  }
  return 0;
}
