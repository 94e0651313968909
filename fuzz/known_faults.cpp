// The scan for the inputs that reach a known fault.
#include "known_faults.h"

#include <htslib/hts.h>
#include <htslib/vcf.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace tsl_fuzz {

namespace {

// Whether TESSELLAR_FUZZ_NO_SKIP names the fault: "1" names all of them, a
// comma-separated list of the KnownFaults member names names those.
bool no_skip(const char* fault) {
  const char* v = std::getenv("TESSELLAR_FUZZ_NO_SKIP");
  if (v == nullptr || *v == '\0' || std::strcmp(v, "0") == 0) return false;
  if (std::strcmp(v, "1") == 0) return true;
  const std::string list = std::string(",") + v + ",";
  return list.find(std::string(",") + fault + ",") != std::string::npos;
}

}  // namespace

KnownFaults scan_known_faults(const std::string& path) {
  KnownFaults found;
  static const bool skip_without_ref = !no_skip("record_without_ref");
  static const bool skip_haploid = !no_skip("haploid_record");
  static const bool skip_position = !no_skip("position_past_int");
  static const bool skip_below_1 = !no_skip("position_below_1");
  if (!skip_without_ref && !skip_haploid && !skip_position && !skip_below_1) return found;
  htsFile* file = hts_open(path.c_str(), "r");
  if (file == nullptr) return found;
  const htsExactFormat format = hts_get_format(file)->format;
  bcf_hdr_t* header =
      format == htsExactFormat::vcf || format == htsExactFormat::bcf ? bcf_hdr_read(file) : nullptr;
  if (header == nullptr) {
    hts_close(file);
    return found;
  }
  const int nsamples = bcf_hdr_nsamples(header);
  bcf1_t* record = bcf_init();
  int32_t* gt = nullptr;
  int room = 0;
  while (bcf_read(file, header, record) == 0 && record->errcode == 0) {
    if (skip_without_ref && record->n_allele == 0) found.record_without_ref = true;
    if (skip_position && record->pos + 1 > INT_MAX) found.position_past_int = true;
    if (skip_below_1 && record->pos < 0) found.position_below_1 = true;
    if (skip_haploid && nsamples > 0 && bcf_get_genotypes(header, record, &gt, &room) == nsamples)
      found.haploid_record = true;
  }
  std::free(gt);
  bcf_destroy(record);
  bcf_hdr_destroy(header);
  hts_close(file);
  return found;
}

KnownFaults scan_text_positions(const std::string& path) {
  KnownFaults found;
  static const bool skip_below_1 = !no_skip("position_below_1");
  if (!skip_below_1) return found;
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return found;
  std::string text;
  char buffer[4096];
  for (std::size_t got; (got = std::fread(buffer, 1, sizeof buffer, file)) > 0;)
    text.append(buffer, got);
  std::fclose(file);
  std::size_t at = 0;
  while (at < text.size()) {
    std::size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    const std::string line = text.substr(at, end - at);
    at = end + 1;
    char name[64];
    char position[64];
    if (std::sscanf(line.c_str(), "%63s %63s", name, position) != 2) continue;
    char* stop = nullptr;
    const long value = std::strtol(position, &stop, 10);
    if (*stop == '\0' && stop != position && value <= 0) found.position_below_1 = true;
  }
  return found;
}

}  // namespace tsl_fuzz
