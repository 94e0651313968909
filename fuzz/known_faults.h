// Faults of src/ that the fuzz targets have found and that are not fixed
// yet. The targets refuse the inputs that would reach one, so that a fuzzing
// run can look for other faults (unless TESSELLAR_FUZZ_NO_SKIP says not to,
// as when fuzz/run_all.sh replays the reproducers in fuzz/crashes/). Once a
// fault is fixed, drop its test here, and fuzzing finds it again should it
// come back.
#pragma once

#include <string>

namespace tsl_fuzz {

struct KnownFaults {
  // A VCF record line that ends after CHROM, POS and ID: htslib reads it
  // without an error and without alleles, and VcfReader::classify reads
  // rec->d.allele[0] through a null pointer (src/input/vcf_reader.cpp:180).
  bool record_without_ref = false;
  // A record whose GT is haploid for every sample: read_haplotypes_vcf asks
  // for allele 1 before the ploidy and reads past the GT array
  // (src/input/inputs.cpp:165, through VcfReader::allele).
  bool haploid_record = false;
  // A POS beyond 2^31 - 1: VcfReader::check_order casts it to int
  // (src/input/vcf_reader.cpp:149) and the tables get a negative position.
  bool position_past_int = false;
  // A position below 1 (VCF POS 0, which htslib also reads from some damaged
  // POS fields such as "=1012899"; a text position of 0 or less, which the
  // text readers take) reaches a VCF or BCF output as it is: a .bcf output
  // gets a record at POS 0 that its own CSI index does not return for its
  // contig; a .vcf output gets records at negative positions.
  bool position_below_1 = false;
};

// Scans path with htslib (nothing found when it is not VCF or BCF). The
// environment variable TESSELLAR_FUZZ_NO_SKIP turns the scan off: "1" for
// every fault, or a comma-separated list of the member names above (e.g.
// "haploid_record,position_past_int") for those.
KnownFaults scan_known_faults(const std::string& path);

// For text inputs (study and panel files): position_below_1 when the second
// field of a line is an integer of 0 or less.
KnownFaults scan_text_positions(const std::string& path);

}  // namespace tsl_fuzz
