// The htslib handles of a VcfReader and the reading of one record through
// them, shared by the reader's two files (vcf_reader.cpp: opening, reading
// in order, checking and decoding; vcf_index.cpp: indexes and restrictions).
// The reader owns them; nothing outside the reader includes this file.
#pragma once

#include <htslib/hts.h>
#include <htslib/kseq.h>
#include <htslib/kstring.h>
#include <htslib/tbx.h>
#include <htslib/vcf.h>

#include <cstdlib>
#include <cstring>

#include "input/vcf_read_ahead.h"
#include "input/vcf_reader.h"

namespace tessellar {

struct VcfReader::Handles {
  htsFile* file = nullptr;
  bcf_hdr_t* header = nullptr;
  bcf1_t* record = nullptr;
  hts_idx_t* index = nullptr;  // BCF
  tbx_t* tabix = nullptr;      // bgzipped VCF
  hts_itr_t* iterator = nullptr;
  kstring_t line = {0, 0, nullptr};
  ~Handles() {
    if (iterator != nullptr) hts_itr_destroy(iterator);
    if (tabix != nullptr) tbx_destroy(tabix);
    if (index != nullptr) hts_idx_destroy(index);
    std::free(line.s);
    if (record != nullptr) bcf_destroy(record);
    if (header != nullptr) bcf_hdr_destroy(header);
    if (file != nullptr) hts_close(file);
  }
  // An iterator over [from, to] (1-based) of header contig id, or null.
  hts_itr_t* query(int id, const char* name, long long from, long long to) const {
    if (index != nullptr) return bcf_itr_queryi(index, id, from - 1, to);
    if (tabix == nullptr) return nullptr;
    const int tid = tbx_name2id(tabix, name);
    return tid < 0 ? nullptr : tbx_itr_queryi(tabix, tid, from - 1, to);
  }
  // The next record of it into record: 0, -1 at the end, less on an error.
  int next_of(hts_itr_t* it) {
    if (index != nullptr) return bcf_itr_next(file, it, record);
    const int got = tbx_itr_next(file, tabix, it, &line);
    if (got < 0) return got;
    return parse_line();
  }
  // The next line of VCF text into record, as bcf_read reads it.
  int next_line() {
    const int got = hts_getline(file, KS_SEP_LINE, &line);
    if (got < 0) return got;
    return parse_line();
  }
  int nul_column = 0;  // where a line holds a NUL byte (parse_line gives -3)
  int parse_line() { return parse_vcf_line(&line, header, record, &nul_column); }
};

}  // namespace tessellar
