// Reading VCF and BCF inputs through htslib: the format test that tells them
// from the program's text files, and a record reader that checks the order of
// contigs and positions, sorts out the records that are not biallelic SNPs,
// and decodes GT. Every damaged or malformed input stops the run with one
// "Error:" line naming the file, the contig and position (and the line, in
// VCF text). vcf_index.cpp holds the reader's indexes and ranges.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace tessellar {

class VcfReadAhead;

// Why a record takes no part; in the order the tests are made.
enum class SkipReason { multiallelic, symbolic, indel, filter };
inline constexpr int kSkipReasons = 4;

// The records of one input that take no part, by reason.
struct SkipCounts {
  std::array<int, kSkipReasons> n{};
  int total() const { return n[0] + n[1] + n[2] + n[3]; }
};

// A contig of an input's header: its name and length (0 when not given).
struct HeaderContig {
  std::string name;
  long long length = 0;
};

// The name by which contigs of different inputs match: without a leading
// "chr" (in any case), so that "chr20" and "20" are the same contig.
std::string_view contig_key(std::string_view name);

class VcfReader {
 public:
  // Opens path and, when htslib tells from its first bytes that it holds VCF
  // (plain, gzip or BGZF) or BCF, reads its header and returns the reader;
  // otherwise returns null (the text formats; a file that cannot be opened
  // too: its text reader reports it). The file is opened once, so that a
  // pipe can be read. role names the input in messages ("study", "panel",
  // "haplotype"). Stops the run on a BGZF file (of a regular file) without
  // its end-of-file block, which is cut short, and on VCF text without its
  // ##fileformat line, which htslib would not tell from a text input.
  static std::unique_ptr<VcfReader> open_if_vcf(const std::string& path, const char* role);
  ~VcfReader();
  VcfReader(const VcfReader&) = delete;
  VcfReader& operator=(const VcfReader&) = delete;

  // Lets htslib decompress the file on n more threads.
  void use_threads(int n);

  const std::vector<std::string>& samples() const { return samples_; }
  const std::vector<HeaderContig>& header_contigs() const { return contigs_; }
  const std::string& path() const { return path_; }
  // Whether the input is a regular file, which can be opened again and read
  // through an index; false for a pipe, a process substitution or a device.
  bool regular() const { return regular_; }

  // What a reading restricted to a range passed over of the range's contig
  // without an index: records before the range, records after it.
  struct Outside {
    bool before = false;
    bool after = false;
  };

  // From here on reads only the records of the contig whose name matches
  // contig (by contig_key) at positions from .. to (1-based, inclusive):
  // through the file's index (tabix or CSI) when it has one, else by reading
  // past the other records, noting in *outside (when given; the caller's,
  // alive until the reading ends) those of the contig. Returns whether an
  // index is used. Stops the run when two contigs of the file that hold
  // records match contig.
  bool restrict_to(std::string_view contig, long long from, long long to,
                   Outside* outside = nullptr);

  // Whether the file holds a record of that contig at positions from .. to;
  // true without an index, which could not tell cheaply.
  bool has_records(std::string_view contig, long long from, long long to);

  // The index beside the file that is older than the file and so not used
  // (the file is read through instead); empty when there is none. Known once
  // restrict_to or has_records has looked for the index.
  const std::string& stale_index() const { return stale_index_; }

  // Reads the next record; false at the end of the file. Stops the run on a
  // damaged file, an index that does not fit it, a record whose samples are
  // not the header's, a contig that comes back after another (or under
  // another name: "chr1" after "1"), or positions that go down within a
  // contig.
  bool next();

  // The current record.
  std::string_view contig() const { return contig_; }
  int pos() const { return pos_; }             // 1-based
  std::string_view id() const { return id_; }  // the first ID, "." when none
  // Whether it is a biallelic SNP that passes the filters; when not, why.
  bool usable() const { return usable_; }
  SkipReason skip_reason() const { return reason_; }
  // REF and ALT as written ("." for no ALT).
  std::string_view ref_text() const;
  std::string alt_text() const;  // several ALT alleles comma-separated
  // REF and ALT in upper case (usable records only).
  char ref() const { return ref_; }
  char alt() const { return alt_; }

  // Decodes GT for every sample (usable records only); stops the run when
  // the record has no GT or a value other than 0, 1 or missing. ploidy is
  // the most alleles any sample has.
  void decode_genotypes();
  int ploidy() const { return ploidy_; }
  // Allele k (0-based) of sample s: 0, 1, or -1 for missing; -2 past the
  // sample's own ploidy.
  int allele(int s, int k) const {
    if (k >= ploidy_) return -2;
    const int32_t v = gt_[static_cast<std::size_t>(s) * ploidy_ + k];
    if (v == kVectorEnd) return -2;
    return (v >> 1) == 0 ? -1 : (v >> 1) - 1;
  }
  // Whether allele k > 0 of sample s is phased with the one before.
  bool phased(int s, int k) const {
    return k < ploidy_ && (gt_[static_cast<std::size_t>(s) * ploidy_ + k] & 1) != 0;
  }
  // Whether sample s has a bare "." for GT: a missing call of either ploidy.
  bool bare_missing(int s) const { return allele(s, 0) == -1 && allele(s, 1) == -2; }
  // The genotype code of a diploid sample: ALT alleles, 9 when either is
  // missing or GT is a bare "."; stops the run when the sample is not diploid.
  int8_t code(int s) const;
  // The codes of samples sample_of[0 .. n - 1], in that order, into out: as
  // code() gives them, with the same stop at the first sample that is not
  // diploid.
  void codes(const int* sample_of, int n, int8_t* out) const;
  // The alleles k[h] of samples sample[h], h < n, into out; false (out
  // partly written) when one is missing or its sample's second allele is
  // not phased with the first.
  bool phased_alleles(const int* sample, const int* k, int n, uint8_t* out) const;
  // The same for both alleles of every sample in order (2 per sample).
  bool phased_alleles_in_order(uint8_t* out) const;

  // "'path' contig C position P" (and " line L" in VCF text): where the
  // current record is, for messages.
  std::string where() const;

 private:
  struct Handles;
  VcfReader(const std::string& path, const char* role, bool regular,
            std::unique_ptr<Handles> handles);
  [[noreturn]] void damaged(const char* what) const;
  [[noreturn]] void index_does_not_fit() const;
  [[noreturn]] void nul_byte(int column) const;
  [[noreturn]] void two_names(int first, int second) const;  // header contigs, one contig
  bool read_record();
  bool passed_over(int rid, long long pos);
  bool load_index();  // loads the index once; whether there is one
  bool indexed() const;
  int contig_with_records(int first_match);
  bool records_in(int id, long long from, long long to);  // through the index
  void check_contig_names(int rid) const;
  void check_order();
  void classify();
  int header_contig(std::string_view contig) const;

  std::string path_;
  std::string role_;
  bool regular_ = false;
  std::unique_ptr<Handles> h_;
  bool read_ahead_ = false;              // with threads: VCF text is read ahead
  std::unique_ptr<VcfReadAhead> ahead_;  // reading ahead, once begun (before h_ goes)
  std::vector<std::string> samples_;
  std::vector<HeaderContig> contigs_;
  bool text_format_ = false;  // VCF text rather than BCF
  bool text_ = false;         // records have line numbers (VCF text read in order)
  long long line_ = 0;        // line of the current record (VCF text)
  std::string contig_;
  int contig_id_ = -1;
  std::vector<bool> contig_done_;
  int pos_ = 0;
  std::string id_;
  bool index_tried_ = false;
  std::string index_path_;   // the index used
  std::string stale_index_;  // the index not used, older than the file
  bool restricted_ = false;  // restrict_to: the contig and positions kept
  int only_contig_ = -1;
  std::vector<bool> key_match_;  // per header contig: whether it matches the restriction's
  int matched_contig_ = -1;      // without an index: the matching contig records were seen of
  long long only_from_ = 0;
  long long only_to_ = 0;
  Outside* outside_ = nullptr;
  bool usable_ = false;
  SkipReason reason_ = SkipReason::filter;
  char ref_ = 0;
  char alt_ = 0;
  int ploidy_ = 0;
  int32_t* gt_ = nullptr;
  int gt_room_ = 0;
  int gt_read_ahead_ = -1;  // read ahead: the GT values of the record (bcf_get_genotypes' count)
  static constexpr int32_t kVectorEnd = -2147483647;
  static constexpr int32_t kNoValue = -2147483647 - 1;  // a sample without the field (GT dropped)
};

}  // namespace tessellar
