// VcfReadAhead: parsing threads that read batches of lines in turn and
// parse them apart, and the reader taking the batches in file order.
#include "input/vcf_read_ahead.h"

#include <htslib/kseq.h>

#include <cstdlib>
#include <cstring>
#include <utility>

namespace tessellar {

namespace {

constexpr int kLinesPerBatch = 64;
constexpr int kBatchesPerParser = 4;

bool same_key(const char* a, const char* b) {
  return a == b || (a != nullptr && b != nullptr && std::strcmp(a, b) == 0);
}

}  // namespace

int parse_vcf_line(kstring_t* line, bcf_hdr_t* header, bcf1_t* record, int* nul_column) {
  // A NUL byte would end a field early; it is an error of its own.
  if (const void* nul = std::memchr(line->s, '\0', line->l)) {
    *nul_column = static_cast<int>(static_cast<const char*>(nul) - line->s) + 1;
    return -3;
  }
  // htslib passes over sample columns beyond the header's; they are an error.
  const int samples = bcf_hdr_nsamples(header);
  int tabs = 0;
  for (std::size_t i = 0; i < line->l; ++i) tabs += line->s[i] == '\t';
  if (samples > 0 && tabs > 8 + samples) {
    record->errcode = BCF_ERR_NCOLS;
    return -2;
  }
  return vcf_parse(line, header, record) == 0 ? 0 : -2;
}

bool VcfReadAhead::copy_fits(const bcf_hdr_t* header) {
  bcf_hdr_t* copy = bcf_hdr_dup(header);
  if (copy == nullptr) return false;
  bool fits = true;
  for (int d : {BCF_DT_ID, BCF_DT_CTG, BCF_DT_SAMPLE}) {
    fits = fits && copy->n[d] == header->n[d];
    for (int i = 0; fits && i < header->n[d]; ++i)
      fits = same_key(copy->id[d][i].key, header->id[d][i].key);
  }
  bcf_hdr_destroy(copy);
  return fits;
}

VcfReadAhead::VcfReadAhead(htsFile* file, const bcf_hdr_t* header, int parsers)
    : file_(file), batches_(static_cast<std::size_t>(kBatchesPerParser * parsers)) {
  for (Batch& b : batches_) {
    b.entries.resize(kLinesPerBatch);
    for (Entry& e : b.entries) e.record = bcf_init();
  }
  for (int p = 0; p < parsers; ++p) headers_.push_back(bcf_hdr_dup(header));
  for (bcf_hdr_t* h : headers_) threads_.emplace_back([this, h] { parse(h); });
}

VcfReadAhead::~VcfReadAhead() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  changed_.notify_all();
  for (std::thread& t : threads_) t.join();
  for (Batch& b : batches_) {
    for (Entry& e : b.entries) {
      bcf_destroy(e.record);
      std::free(e.gt.values);
      std::free(e.text.s);
    }
  }
  for (bcf_hdr_t* h : headers_) bcf_hdr_destroy(h);
}

VcfReadAhead::Batch* VcfReadAhead::read_batch() {
  std::lock_guard<std::mutex> reading(file_mutex_);
  Batch* batch = nullptr;
  {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(
        lock, [&] { return stop_ || file_ended_ || batches_[next_read_ % batches_.size()].free; });
    if (stop_ || file_ended_) return nullptr;
    batch = &batches_[next_read_++ % batches_.size()];
    batch->free = false;
  }
  int n = 0;
  bool ended = false;
  while (n < kLinesPerBatch && !ended) {
    Entry& e = batch->entries[static_cast<std::size_t>(n++)];
    e.got = hts_getline(file_, KS_SEP_LINE, &e.text);
    ended = e.got < 0;
  }
  batch->count = n;
  if (ended) {
    std::lock_guard<std::mutex> lock(mutex_);
    file_ended_ = true;
  }
  return batch;
}

void VcfReadAhead::parse(bcf_hdr_t* header) {
  while (Batch* batch = read_batch()) {
    for (int i = 0; i < batch->count; ++i) {
      Entry& e = batch->entries[static_cast<std::size_t>(i)];
      if (e.got >= 0) e.got = parse_vcf_line(&e.text, header, e.record, &e.nul_column);
      // GT decoded here too, beside the parsing.
      if (e.got >= 0 && e.record->errcode == 0)
        e.gt.count = bcf_get_genotypes(header, e.record, &e.gt.values, &e.gt.room);
    }
    {
      std::lock_guard<std::mutex> lock(mutex_);
      batch->parsed = true;
    }
    changed_.notify_all();
  }
}

int VcfReadAhead::next(bcf1_t** record, Genotypes* gt, int* nul_column) {
  if (ended_) return -1;
  Batch& batch = batches_[taking_ % batches_.size()];
  if (at_ == 0) {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [&] { return batch.parsed; });
  }
  Entry& e = batch.entries[static_cast<std::size_t>(at_)];
  std::swap(*record, e.record);
  std::swap(*gt, e.gt);
  const int got = e.got;
  *nul_column = e.nul_column;
  // The end, or a line that stops the run: nothing after it is taken.
  ended_ = got < 0 || (*record)->errcode != 0;
  if (++at_ == batch.count) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      batch.parsed = false;
      batch.free = true;
    }
    changed_.notify_all();
    at_ = 0;
    ++taking_;
  }
  return got;
}

}  // namespace tessellar
