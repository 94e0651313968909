// Reading a VCF text file ahead on threads of their own: while the reader
// checks and decodes the records of one batch, the next batches of lines
// are read in order and parsed, each batch by one of the parsing threads,
// into records of their own. Each thread parses against its own copy of the
// header, since htslib adds an undefined contig or tag to the header it
// parses with; such a record stops the run, so the reader's header never
// changes under it. Private to VcfReader, which owns it beside its handles.
#pragma once

#include <htslib/kstring.h>
#include <htslib/vcf.h>

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

namespace tessellar {

// One line of VCF text parsed into record against header: 0; -2 when htslib
// cannot parse it or it holds more sample columns than the header names
// (record's errcode then says why); -3 when it holds a NUL byte, at 1-based
// *nul_column.
int parse_vcf_line(kstring_t* line, bcf_hdr_t* header, bcf1_t* record, int* nul_column);

class VcfReadAhead {
 public:
  // Whether a copy of header gives every contig, tag and sample the same
  // number as header does, so that records parsed against it read alike.
  static bool copy_fits(const bcf_hdr_t* header);

  // Starts reading the lines of file, positioned after its header, with
  // `parsers` parsing threads; file must not be read otherwise while this
  // lives.
  VcfReadAhead(htsFile* file, const bcf_hdr_t* header, int parsers);
  ~VcfReadAhead();
  VcfReadAhead(const VcfReadAhead&) = delete;
  VcfReadAhead& operator=(const VcfReadAhead&) = delete;

  // GT of a record as bcf_get_genotypes gives it: count values (its
  // return value) in values, an htslib buffer of room values.
  struct Genotypes {
    int32_t* values = nullptr;
    int room = 0;
    int count = 0;
  };

  // The next line's result, in file order, as parse_vcf_line gives it, or
  // -1 at the end of the file (less than -1 when it cannot be read); its
  // record and GT are swapped with *record and *gt (which the read-ahead
  // takes over).
  int next(bcf1_t** record, Genotypes* gt, int* nul_column);

 private:
  struct Entry {
    kstring_t text = {0, 0, nullptr};
    bcf1_t* record = nullptr;
    Genotypes gt;
    int got = -1;
    int nul_column = 0;
  };
  struct Batch {
    std::vector<Entry> entries;
    int count = 0;        // lines read into it
    bool free = true;     // neither being filled nor waiting to be taken
    bool parsed = false;  // ready to be taken
  };
  void parse(bcf_hdr_t* header);  // a parsing thread
  Batch* read_batch();            // the next batch of lines, or null at the end

  htsFile* file_;
  std::vector<bcf_hdr_t*> headers_;  // a copy per parsing thread
  std::vector<Batch> batches_;       // batch s in batches_[s % size]
  std::mutex file_mutex_;            // held while lines are read: in file order
  std::mutex mutex_;                 // the batches' states
  std::condition_variable changed_;
  bool stop_ = false;
  bool file_ended_ = false;
  long long next_read_ = 0;  // the next batch to read
  long long taking_ = 0;     // the batch the reader takes from, and its entry
  int at_ = 0;
  bool ended_ = false;  // the reader has had the last line
  std::vector<std::thread> threads_;
};

}  // namespace tessellar
