// The whole run in-process, tessellar::run_tessellar, on three (or four)
// input files and a few options taken from the input:
//
//   byte 0  bits 0-2: -tag 1 + value % 5; bits 3-4: output name ending .out,
//           .vcf, .vcf.gz, .bcf; bit 5: -threads 2 (else 1); bit 6: -no_fix;
//           bit 7: -no_remove
//   byte 1  -panel trios (bits 0-1), duos (bits 2-3), singletons (bits 4-5);
//           bit 6: no -panel at all; bit 7: no -hfile when the panel file is
//           VCF or BCF (its phased GT gives the haplotypes)
//   byte 2  bits 0-2: bgzip the study, panel, haplotype file; bit 3: give
//           -ped with the fourth section; bits 4-7: -max value (0 to 15)
//   byte 3  bits 0-3: -min value (0 to 15); bits 4-7: -window from a table
//   then    study file, "===" line, panel file, "===" line, haplotype file,
//           "===" line, ped file.
//
// A run must end with status 0 or 1; status 0 leaves the output (and, for
// .vcf.gz and .bcf, its index) and a VCF or BCF output reads back through
// htslib, its index finding every record; status 1 leaves no output; neither
// leaves a temporary file "*.tmp.*" beside it. Large inputs are refused so that each
// run takes milliseconds.
#include <htslib/hts.h>
#include <htslib/kstring.h>
#include <htslib/tbx.h>
#include <htslib/vcf.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "common.h"
#include "core/fatal.h"
#include "input/vcf_reader.h"
#include "run/driver.h"

namespace {

const char* const kOutputs[] = {"out.out", "out.vcf", "out.vcf.gz", "out.bcf"};
const char* const kIndexes[] = {nullptr, nullptr, "out.vcf.gz.tbi", "out.bcf.csi"};
const char* const kWindows[] = {"0",     "1",      "10",      "100",      "1000", "5000",
                                "50000", "100000", "1000000", "10000000", "2",    "3",
                                "20",    "500",    "20000",   "300000000"};

bool exists(const std::vector<std::string>& files, const char* name) {
  for (const std::string& f : files)
    if (f == name) return true;
  return false;
}

// Reads a VCF or BCF output back through htslib: every record must parse,
// and with an index, a query of each contig must give as many records as
// reading the file through.
void check_vcf_output(const std::string& path, bool indexed, bool bcf) {
  htsFile* file = hts_open(path.c_str(), "r");
  if (file == nullptr) tsl_fuzz::fail("cannot open the output '%s'", path.c_str());
  bcf_hdr_t* header = bcf_hdr_read(file);
  if (header == nullptr)
    tsl_fuzz::fail("the header of the output '%s' does not parse", path.c_str());
  bcf1_t* record = bcf_init();
  std::vector<long> per_contig(static_cast<std::size_t>(header->n[BCF_DT_CTG]), 0);
  int got = 0;
  while ((got = bcf_read(file, header, record)) == 0) {
    if (record->errcode != 0)
      tsl_fuzz::fail("a record of the output does not parse (htslib error %d)", record->errcode);
    if (record->rid < 0 || static_cast<std::size_t>(record->rid) >= per_contig.size())
      tsl_fuzz::fail("a record of the output names a contig outside its header");
    ++per_contig[static_cast<std::size_t>(record->rid)];
  }
  if (got != -1) tsl_fuzz::fail("the output is damaged or truncated (htslib %d)", got);
  if (indexed) {
    hts_idx_t* idx = bcf ? bcf_index_load(path.c_str()) : nullptr;
    tbx_t* tbx = bcf ? nullptr : tbx_index_load(path.c_str());
    if (idx == nullptr && tbx == nullptr) tsl_fuzz::fail("the index of the output does not load");
    kstring_t line = {0, 0, nullptr};
    for (std::size_t c = 0; c < per_contig.size(); ++c) {
      const char* name = bcf_hdr_id2name(header, static_cast<int>(c));
      long found = 0;
      hts_itr_t* itr = nullptr;
      if (bcf) {
        itr = bcf_itr_queryi(idx, static_cast<int>(c), 0, HTS_POS_MAX);
        while (itr != nullptr && bcf_itr_next(file, itr, record) >= 0) ++found;
        if (itr != nullptr) bcf_itr_destroy(itr);
      } else {
        const int tid = tbx_name2id(tbx, name);
        if (tid >= 0) itr = tbx_itr_queryi(tbx, tid, 0, HTS_POS_MAX);
        while (itr != nullptr && tbx_itr_next(file, tbx, itr, &line) >= 0) ++found;
        if (itr != nullptr) tbx_itr_destroy(itr);
      }
      if (found != per_contig[c])
        tsl_fuzz::fail("the index of the output finds %ld records of contig %s, the file holds %ld",
                       found, name, per_contig[c]);
    }
    std::free(line.s);
    if (idx != nullptr) hts_idx_destroy(idx);
    if (tbx != nullptr) tbx_destroy(tbx);
  }
  bcf_destroy(record);
  bcf_hdr_destroy(header);
  hts_close(file);
}

// Whether the run takes path as a VCF or BCF panel (one that htslib cannot
// open stops the run before any haplotype file is looked for).
bool panel_is_vcf(const std::string& path) {
  try {
    return tessellar::VcfReader::open_if_vcf(path, "panel") != nullptr;
  } catch (const tessellar::RunStopped&) {
    return true;
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  tsl_fuzz::init();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  std::vector<std::string_view> parts;
  if (!tsl_fuzz::run_input(data, size, parts)) return -1;

  tsl_fuzz::clear_work_dir();
  const char* const kNames[] = {"study.txt", "panel.txt", "haps.txt", "panel.ped"};
  for (std::size_t k = 0; k < 4; ++k) {
    const std::string path = tsl_fuzz::path_of(kNames[k]);
    const std::string_view bytes = k < parts.size() ? parts[k] : std::string_view();
    if (k < 3 && (data[2] >> k & 1) != 0) {
      tsl_fuzz::write_bgzf(path, bytes);
    } else {
      tsl_fuzz::write_file(path, bytes);
    }
  }
  const int output = data[0] >> 3 & 3;
  std::vector<std::string> args = {"tessellar",
                                   "-gfile",
                                   tsl_fuzz::path_of(kNames[0]),
                                   "-efile",
                                   tsl_fuzz::path_of(kNames[1]),
                                   "-ofile",
                                   tsl_fuzz::path_of(kOutputs[output]),
                                   "-tag",
                                   std::to_string(1 + (data[0] & 7) % 5),
                                   "-max",
                                   std::to_string(data[2] >> 4),
                                   "-min",
                                   std::to_string(data[3] & 15),
                                   "-window",
                                   kWindows[data[3] >> 4]};
  // Without -hfile the run reads its default file name from the working
  // directory; only a VCF panel, which needs none, goes without it.
  if (!(panel_is_vcf(tsl_fuzz::path_of(kNames[1])) && (data[1] & 0x80) != 0)) {
    args.insert(args.end(), {"-hfile", tsl_fuzz::path_of(kNames[2])});
  }
  if ((data[1] & 0x40) == 0) {
    const int trios = data[1] & 3;
    const int duos = data[1] >> 2 & 3;
    const int singletons = data[1] >> 4 & 3;
    args.insert(args.end(), {"-panel", std::to_string(trios), std::to_string(duos),
                             std::to_string(singletons)});
  }
  if ((data[2] & 8) != 0) args.insert(args.end(), {"-ped", tsl_fuzz::path_of(kNames[3])});
  if ((data[0] & 0x20) != 0) args.insert(args.end(), {"-threads", "2"});
  if ((data[0] & 0x40) != 0) args.push_back("-no_fix");
  if ((data[0] & 0x80) != 0) args.push_back("-no_remove");

  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  const int status = tessellar::run_tessellar(static_cast<int>(args.size()), argv.data());

  const std::vector<std::string> files = tsl_fuzz::work_dir_files();
  for (const std::string& f : files) {
    if (f.find(".tmp.") != std::string::npos)
      tsl_fuzz::fail("the run (status %d) left the temporary file '%s'", status, f.c_str());
  }
  if (status != 0 && status != 1) tsl_fuzz::fail("run_tessellar returned %d", status);
  if (status == 0) {
    if (!exists(files, kOutputs[output]))
      tsl_fuzz::fail("status 0 without the output file '%s'", kOutputs[output]);
    if (kIndexes[output] != nullptr && !exists(files, kIndexes[output]) &&
        !(output == 2 && exists(files, "out.vcf.gz.csi")))
      tsl_fuzz::fail("status 0 without the index of '%s'", kOutputs[output]);
    if (output > 0) check_vcf_output(tsl_fuzz::path_of(kOutputs[output]), output >= 2, output == 3);
  } else if (exists(files, kOutputs[output])) {
    tsl_fuzz::fail("status 1 with the output file '%s' left behind", kOutputs[output]);
  }
  return 0;
}
