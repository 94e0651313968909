// VcfReader: htslib's reader with the checks of the program's inputs.
#include "input/vcf_reader.h"

#include <fcntl.h>
#include <htslib/hfile.h>
#include <htslib/hts.h>
#include <htslib/hts_log.h>
#include <htslib/kseq.h>
#include <htslib/kstring.h>
#include <htslib/tbx.h>
#include <htslib/vcf.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "core/fatal.h"
#include "input/vcf_handles.h"

namespace tessellar {

namespace {

// htslib's own messages would stand beside ours; its reasons go into ours.
void quiet_htslib() {
  static const bool done = [] {
    hts_set_log_level(HTS_LOG_OFF);
    return true;
  }();
  (void)done;
}

const char* parse_error_text(int errcode) {
  if (errcode & BCF_ERR_CTG_UNDEF) return "a contig that the header does not define";
  if (errcode & BCF_ERR_TAG_UNDEF) return "a tag that the header does not define";
  if (errcode & BCF_ERR_NCOLS) return "the wrong number of columns";
  if (errcode & BCF_ERR_LIMITS) return "a value beyond htslib's limits";
  if (errcode & BCF_ERR_CHAR) return "an invalid character";
  if (errcode & BCF_ERR_CTG_INVALID) return "an invalid contig name";
  if (errcode & BCF_ERR_TAG_INVALID) return "an invalid tag";
  return "a malformed or truncated record";
}

// Closes a file opened for reading only: a failure loses nothing.
void close_unread(hFILE* h) {
  const int failed = hclose(h);
  (void)failed;
}

bool is_base(char c) {
  return c == 'A' || c == 'C' || c == 'G' || c == 'T';
}

bool starts_with(const kstring_t& line, std::string_view text) {
  return std::string_view(line.s, line.l).starts_with(text);
}

// Whether the text that htslib opened from h (which it takes) is VCF
// without its ##fileformat line: lines of "##" meta-information, if any,
// then the "#CHROM" column line. A text input never has that line.
bool vcf_without_fileformat(hFILE* h, const std::string& path) {
  htsFile* file = hts_hopen(h, path.c_str(), "r");
  if (file == nullptr) {
    close_unread(h);
    return false;
  }
  kstring_t line = {0, 0, nullptr};
  int got;
  while ((got = hts_getline(file, KS_SEP_LINE, &line)) >= 0 && starts_with(line, "##")) {
  }
  const bool vcf = got >= 0 && starts_with(line, "#CHROM\t");
  std::free(line.s);
  const int failed = hts_close(file);  // read only: a failure loses nothing
  (void)failed;
  return vcf;
}

}  // namespace

std::string_view contig_key(std::string_view name) {
  if (name.size() > 3 && std::tolower(static_cast<unsigned char>(name[0])) == 'c' &&
      std::tolower(static_cast<unsigned char>(name[1])) == 'h' &&
      std::tolower(static_cast<unsigned char>(name[2])) == 'r')
    return name.substr(3);
  return name;
}

std::unique_ptr<VcfReader> VcfReader::open_if_vcf(const std::string& path, const char* role) {
  quiet_htslib();
  // Opened without waiting for a writer: a pipe that has none reads as empty.
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return nullptr;
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  struct stat st;
  const bool regular = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
  hFILE* h = hdopen(fd, "r");
  if (h == nullptr) {
    ::close(fd);
    return nullptr;
  }
  htsFormat format;
  if (hts_detect_format2(h, path.c_str(), &format) != 0 ||
      (format.format != htsExactFormat::vcf && format.format != htsExactFormat::bcf)) {
    if (!regular || format.format != htsExactFormat::text_format) {
      close_unread(h);
    } else if (vcf_without_fileformat(h, path)) {
      fatal(
          "'%s' is VCF without its ##fileformat line: VCF text must start with "
          "##fileformat=VCFv4.x",
          path.c_str());
    }
    return nullptr;
  }
  auto handles = std::make_unique<Handles>();
  handles->file = hts_hopen(h, path.c_str(), "r");
  if (handles->file == nullptr) {
    close_unread(h);
    fatal("cannot read the %s file '%s'", role, path.c_str());
  }
  // A BGZF file ends with an empty block; without it the file was cut short
  // (as by an interrupted copy), possibly at a block boundary, where every
  // record before the cut reads well.
  if (regular && hts_check_EOF(handles->file) == 0)
    fatal("'%s' is truncated: it lacks the end-of-file block that ends every BGZF file",
          path.c_str());
  return std::unique_ptr<VcfReader>(new VcfReader(path, role, regular, std::move(handles)));
}

VcfReader::VcfReader(const std::string& path, const char* role, bool regular,
                     std::unique_ptr<Handles> handles)
    : path_(path), role_(role), regular_(regular), h_(std::move(handles)) {
  text_ = text_format_ = hts_get_format(h_->file)->format == htsExactFormat::vcf;
  h_->header = bcf_hdr_read(h_->file);
  if (h_->header == nullptr)
    fatal("'%s': the %s header is damaged or incomplete", path.c_str(), text_ ? "VCF" : "BCF");
  h_->record = bcf_init();
  const int n = bcf_hdr_nsamples(h_->header);
  samples_.reserve(static_cast<std::size_t>(n));
  for (int s = 0; s < n; ++s) samples_.emplace_back(h_->header->samples[s]);
  int ncontigs = 0;
  const char** names = bcf_hdr_seqnames(h_->header, &ncontigs);
  for (int c = 0; c < ncontigs; ++c) {
    const bcf_idpair_t& pair = h_->header->id[BCF_DT_CTG][c];
    contigs_.push_back(
        {names[c], pair.val != nullptr ? static_cast<long long>(pair.val->info[0]) : 0});
  }
  std::free(names);
  // The header's lines as read (htslib's own copy of the header may hold a
  // line it added, the PASS filter).
  if (text_) line_ = static_cast<long long>(h_->file->lineno);
}

VcfReader::~VcfReader() {
  std::free(gt_);
}

std::string VcfReader::where() const {
  std::string w = "'" + path_ + "' contig " + contig_ + " position " + std::to_string(pos_);
  if (text_) w += " (line " + std::to_string(line_) + ")";
  return w;
}

void VcfReader::damaged(const char* what) const {
  const std::string line = text_ ? " (line " + std::to_string(line_) + ")" : "";
  if (contig_id_ < 0) fatal("'%s'%s: %s in the first record", path_.c_str(), line.c_str(), what);
  fatal("'%s'%s: %s after contig %s position %d", path_.c_str(), line.c_str(), what,
        contig_.c_str(), pos_);
}

void VcfReader::nul_byte(int column) const {
  const std::string line = text_ ? " (line " + std::to_string(line_) + ")" : "";
  fatal("'%s'%s: the line holds a NUL byte (\\0) at column %d; VCF text holds none", path_.c_str(),
        line.c_str(), column);
}

void VcfReader::use_threads(int n) {
  if (n <= 0) return;
  hts_set_threads(h_->file, n);
  // VCF text read in order is parsed ahead on a thread of its own too.
  read_ahead_ = text_format_ && VcfReadAhead::copy_fits(h_->header);
}

int VcfReader::header_contig(std::string_view contig) const {
  for (std::size_t c = 0; c < contigs_.size(); ++c)
    if (contig_key(contigs_[c].name) == contig_key(contig)) return static_cast<int>(c);
  return -1;
}

// With threads, VCF text read in order is parsed on two threads of its own:
// htslib's parsing, not the decoding of GT, is the larger part of reading.
constexpr int kParsingThreads = 2;

// The next record of the file, or of the restriction; false at the end.
bool VcfReader::read_record() {
  for (;;) {
    const bool through_index = restricted_ && indexed();
    int got;
    if (restricted_ && (only_contig_ < 0 || (through_index && h_->iterator == nullptr))) {
      return false;  // a contig that the file lacks, or has no record of
    } else if (through_index) {
      got = h_->next_of(h_->iterator);
    } else {
      if (read_ahead_ && ahead_ == nullptr)
        ahead_ = std::make_unique<VcfReadAhead>(h_->file, h_->header, kParsingThreads);
      if (ahead_ != nullptr) {
        VcfReadAhead::Genotypes gt{gt_, gt_room_, 0};
        got = ahead_->next(&h_->record, &gt, &h_->nul_column);
        gt_ = gt.values;
        gt_room_ = gt.room;
        gt_read_ahead_ = gt.count;
      } else {
        got = text_format_ ? h_->next_line() : bcf_read(h_->file, h_->header, h_->record);
      }
      ++line_;
    }
    const bcf1_t* rec = h_->record;
    if (got == -1) return false;
    if (got == -3 && !through_index) nul_byte(h_->nul_column);
    if (got < -1 || rec->errcode != 0) {
      if (through_index) index_does_not_fit();
      if (rec->errcode != 0) damaged(parse_error_text(rec->errcode));
      damaged("the file is truncated or damaged");
    }
    if (restricted_ && !through_index && passed_over(rec->rid, rec->pos + 1)) continue;
    return true;
  }
}

bool VcfReader::next() {
  if (!read_record()) return false;
  bcf1_t* rec = h_->record;  // read ahead, another record than before
  if (bcf_unpack(rec, BCF_UN_FLT) != 0) damaged("the file is truncated or damaged");
  check_order();
  id_ = rec->d.id != nullptr ? rec->d.id : ".";
  if (const std::size_t semicolon = id_.find(';'); semicolon != std::string::npos)
    id_.resize(semicolon);
  classify();
  if (rec->n_sample != samples_.size())
    fatal("%s: the record holds %u samples, but the header names %zu", where().c_str(),
          rec->n_sample, samples_.size());
  return true;
}

void VcfReader::check_order() {
  const bcf1_t* rec = h_->record;
  const int rid = rec->rid;
  constexpr long long kLastPosition = 2147483646;  // positions are ints
  if (rec->pos < 0 || rec->pos + 1 > kLastPosition) {
    if (rid >= 0 && rid < static_cast<int>(contigs_.size()))
      contig_ = contigs_[static_cast<std::size_t>(rid)].name;
    fatal("'%s' contig %s: position %lld is outside 1 to %lld", path_.c_str(), contig_.c_str(),
          static_cast<long long>(rec->pos) + 1, kLastPosition);
  }
  const int pos = static_cast<int>(rec->pos + 1);
  if (rid != contig_id_) {
    if (rid < 0 || rid >= static_cast<int>(contigs_.size()))
      damaged("a record names a contig that the header does not define");
    contig_done_.resize(contigs_.size(), false);
    if (contig_done_[static_cast<std::size_t>(rid)]) {
      const std::string before = contig_;
      contig_ = contigs_[static_cast<std::size_t>(rid)].name;
      pos_ = pos;
      fatal("%s: contig %s comes back after contig %s; the records of a contig must stand together",
            where().c_str(), contig_.c_str(), before.c_str());
    }
    if (contig_id_ >= 0) contig_done_[static_cast<std::size_t>(contig_id_)] = true;
    contig_id_ = rid;
    contig_ = contigs_[static_cast<std::size_t>(rid)].name;
    pos_ = pos;
    check_contig_names(rid);
  } else if (pos < pos_) {
    const int before = pos_;
    pos_ = pos;
    fatal("%s: records out of order, position %d follows position %d", where().c_str(), pos,
          before);
  }
  pos_ = pos;
}

void VcfReader::classify() {
  bcf1_t* rec = h_->record;
  usable_ = false;
  if (rec->n_allele < 1 || rec->d.allele == nullptr)
    fatal("%s: the record has no REF allele", where().c_str());
  if (rec->n_allele > 2) {
    reason_ = SkipReason::multiallelic;
    return;
  }
  const char* ref = rec->d.allele[0];
  const char* alt = rec->n_allele == 2 ? rec->d.allele[1] : ".";
  const auto single = [](const char* a) { return a[0] != '\0' && a[1] == '\0'; };
  if (alt[0] == '<' || alt[0] == '.' || alt[0] == '*' || std::strpbrk(alt, "[]") != nullptr) {
    reason_ = SkipReason::symbolic;
    return;
  }
  if (!single(ref) || !single(alt)) {
    reason_ = SkipReason::indel;
    return;
  }
  ref_ = static_cast<char>(std::toupper(static_cast<unsigned char>(ref[0])));
  alt_ = static_cast<char>(std::toupper(static_cast<unsigned char>(alt[0])));
  if (!is_base(ref_) || !is_base(alt_) || ref_ == alt_) {
    reason_ = SkipReason::symbolic;
    return;
  }
  const bool pass =
      rec->d.n_flt == 0 ||
      (rec->d.n_flt == 1 && std::strcmp(h_->header->id[BCF_DT_ID][rec->d.flt[0]].key, "PASS") == 0);
  if (!pass) {
    reason_ = SkipReason::filter;
    return;
  }
  usable_ = true;
}

std::string_view VcfReader::ref_text() const {
  return h_->record->d.allele[0];
}

std::string VcfReader::alt_text() const {
  const bcf1_t* rec = h_->record;
  if (rec->n_allele < 2) return ".";
  std::string alt = rec->d.allele[1];
  for (int a = 2; a < rec->n_allele; ++a) alt += std::string(",") + rec->d.allele[a];
  return alt;
}

void VcfReader::decode_genotypes() {
  const int n = ahead_ != nullptr ? gt_read_ahead_
                                  : bcf_get_genotypes(h_->header, h_->record, &gt_, &gt_room_);
  const int nsamples = static_cast<int>(samples_.size());
  if (nsamples == 0) {
    ploidy_ = 0;
    return;
  }
  if (n <= 0) fatal("%s: the record has no GT for its samples", where().c_str());
  ploidy_ = n / nsamples;
  if (ploidy_ < 1) fatal("%s: the record has fewer GT values than samples", where().c_str());
  // Scans without branches for an allele beyond ALT (the vector-end value
  // halves to a negative number, below any allele) and for a sample without
  // any value.
  int32_t most = 0;
  for (int i = 0; i < n; ++i) most = std::max(most, gt_[i] >> 1);
  int32_t least = 0;  // kNoValue < kVectorEnd < any other value
  for (int i = 0; i < n; i += ploidy_) least = std::min(least, gt_[i]);
  if (most <= 2 && least > kVectorEnd) return;
  for (int s = 0; s < nsamples; ++s) {
    const int32_t first = gt_[static_cast<std::size_t>(s) * ploidy_];
    if (first == kVectorEnd || first == kNoValue)
      fatal("%s: sample %s has no GT value", where().c_str(),
            samples_[static_cast<std::size_t>(s)].c_str());
    for (int k = 0; k < ploidy_; ++k) {
      const int a = allele(s, k);
      if (a > 1)
        fatal("%s: GT of sample %s names allele %d, but the record has one ALT allele",
              where().c_str(), samples_[static_cast<std::size_t>(s)].c_str(), a);
    }
  }
}

// A contig that an earlier contig of the file matches by name (by
// contig_key) is the same contig under another name.
void VcfReader::check_contig_names(int rid) const {
  const std::string_view key = contig_key(contigs_[static_cast<std::size_t>(rid)].name);
  for (std::size_t c = 0; c < contig_done_.size(); ++c)
    if (contig_done_[c] && contig_key(contigs_[c].name) == key)
      fatal(
          "%s: contig %s and contig %s, before it, are one contig (a leading \"chr\" is "
          "ignored); an input must name each contig one way",
          where().c_str(), contig_.c_str(), contigs_[c].name.c_str());
}

void VcfReader::codes(const int* sample_of, int n, int8_t* out) const {
  if (ploidy_ != 2) {
    for (int c = 0; c < n; ++c) out[c] = code(sample_of[c]);
    return;
  }
  for (int c = 0; c < n; ++c) {
    const int32_t* v = gt_ + 2 * static_cast<std::size_t>(sample_of[c]);
    const int a = (v[0] >> 1) - 1;  // -1: missing
    if (v[1] == kVectorEnd) {       // a bare "." or a haploid call
      out[c] = code(sample_of[c]);
      continue;
    }
    const int b = (v[1] >> 1) - 1;
    out[c] = static_cast<int8_t>(a < 0 || b < 0 ? 9 : a + b);
  }
}

bool VcfReader::phased_alleles_in_order(uint8_t* out) const {
  const std::size_t n = samples_.size();
  if (ploidy_ != 2) {
    for (std::size_t h = 0; h < 2 * n; ++h) {
      const int s = static_cast<int>(h / 2);
      const int a = allele(s, static_cast<int>(h % 2));
      if (a < 0 || !phased(s, 1)) return false;
      out[h] = static_cast<uint8_t>(a);
    }
    return true;
  }
  // Negative when an allele is missing (or past a haploid sample's) or the
  // second allele is not phased; without branches.
  int32_t flags = 0;
  for (std::size_t s = 0; s < n; ++s) {
    const int32_t a = (gt_[2 * s] >> 1) - 1;
    const int32_t b = (gt_[2 * s + 1] >> 1) - 1;
    flags |= a | b | ((gt_[2 * s + 1] & 1) - 1);
    out[2 * s] = static_cast<uint8_t>(a);
    out[2 * s + 1] = static_cast<uint8_t>(b);
  }
  return flags >= 0;
}

bool VcfReader::phased_alleles(const int* sample, const int* k, int n, uint8_t* out) const {
  if (ploidy_ == 2) {  // without a branch per allele
    bool all = true;
    for (int h = 0; h < n; ++h) {
      const int32_t* g = gt_ + 2 * static_cast<std::size_t>(sample[h]);
      const int32_t a = (g[k[h] & 1] >> 1) - 1;  // negative: missing or past the sample's alleles
      all &= (a >= 0) & ((g[1] & 1) != 0) & (k[h] < 2);
      out[h] = static_cast<uint8_t>(a);
    }
    return all;
  }
  for (int h = 0; h < n; ++h) {
    const int s = sample[h];
    const int a = allele(s, k[h]);
    if (a < 0 || !phased(s, 1)) return false;
    out[h] = static_cast<uint8_t>(a);
  }
  return true;
}

int8_t VcfReader::code(int s) const {
  if (bare_missing(s)) return 9;
  const int a = allele(s, 0);
  const int b = allele(s, 1);
  if (b == -2 || allele(s, 2) != -2)
    fatal("%s: GT of sample %s is not diploid", where().c_str(),
          samples_[static_cast<std::size_t>(s)].c_str());
  if (a < 0 || b < 0) return 9;
  return static_cast<int8_t>(a + b);
}

}  // namespace tessellar
