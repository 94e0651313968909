// The scan for the inputs that reach a known fault.
#include "known_faults.h"

#include <htslib/hts.h>
#include <htslib/vcf.h>

#include <climits>
#include <cstdlib>
#include <cstring>

namespace tsl_fuzz {

KnownFaults scan_known_faults(const std::string& path) {
  KnownFaults found;
  static const bool no_skip = [] {
    const char* v = std::getenv("TESSELLAR_FUZZ_NO_SKIP");
    return v != nullptr && *v != '\0' && std::strcmp(v, "0") != 0;
  }();
  if (no_skip) return found;
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
    if (record->n_allele == 0) found.record_without_ref = true;
    if (record->pos + 1 > INT_MAX) found.position_past_int = true;
    if (nsamples > 0 && bcf_get_genotypes(header, record, &gt, &room) == nsamples)
      found.haploid_record = true;
  }
  std::free(gt);
  bcf_destroy(record);
  bcf_hdr_destroy(header);
  hts_close(file);
  return found;
}

}  // namespace tsl_fuzz
