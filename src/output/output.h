// The output file. Its format follows its name: ".vcf.gz" bgzipped VCF with
// a tabix index beside it (CSI where positions may pass 2^29), ".bcf" BCF
// with a CSI index, ".vcf" plain VCF, any other name the text format. A
// regular-file output is written to a temporary file beside it, its index
// to another, both created anew (never through an existing name), synced to
// disk and renamed over the output and its index (index first) only when
// the run completes, so an earlier output survives any failed run or crash.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace tessellar {

enum class OutputKind {
  text,     // the text format (or any text, written as it is)
  text_gz,  // text compressed with BGZF, no index
  vcf,
  vcf_gz,
  bcf,
};

// The kind that the output's name asks for.
OutputKind output_kind(const std::string& path);

// A run of whole records, prepared for writing (compressed into BGZF blocks
// for a .vcf.gz output) on any thread, then written in order.
struct OutputChunk {
  std::string text;                   // the records' lines
  std::string blocks;                 // .vcf.gz: text as BGZF blocks of up to 0xff00 bytes each
  std::vector<uint32_t> block_sizes;  // their compressed sizes
  void clear() {
    text.clear();
    blocks.clear();
    block_sizes.clear();
  }
};

class OutputFile {
 public:
  // Creates the output for path (a temporary file in the same directory, or
  // path itself when it names something other than a regular file, such as
  // /dev/stdout or a pipe); stops the run when that fails. threads > 1 lets
  // BGZF compress on that many threads.
  // what names the file in messages.
  OutputFile(const std::string& path, OutputKind kind, int threads = 1,
             const char* what = "output file");
  ~OutputFile();  // removes the temporary files of an output never committed
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  OutputKind kind() const { return kind_; }

  // VCF kinds: the header text (from ##fileformat to #CHROM), written before
  // any record. last_position: the highest position a record may have, so
  // that the index can hold it (a CSI index beyond tabix's 2^29).
  void write_header(const std::string& header, long long last_position = 0);

  // Compresses chunk.text where the output is bgzipped. Thread-safe.
  void prepare(OutputChunk& chunk) const;

  // Writes a prepared chunk after the ones written before.
  void write(const OutputChunk& chunk);

  // Writes what is left, closes, indexes, and renames the temporary files
  // over path and its index; stops the run on any failure.
  void commit();

 private:
  static constexpr std::size_t kFlushSize = std::size_t{1} << 20;
  struct Codec;  // the htslib handles of the compressed kinds
  void flush_if_full() {
    if (buffer_.size() >= kFlushSize) flush();
  }
  void flush();
  void write_plain(const char* data, std::size_t size);
  void write_bcf();
  void write_blocks(const OutputChunk& chunk, bool records);
  void index_record(const char* line, uint64_t end_offset);
  void make_temp_index(bool csi);
  void sync_to_disk();
  void discard() noexcept;
  [[noreturn]] void write_failed(int error) const;
  bool compressed() const {
    return kind_ == OutputKind::vcf_gz || kind_ == OutputKind::text_gz || kind_ == OutputKind::bcf;
  }

  std::string path_;
  const char* what_;
  std::string temp_path_;  // empty when writing to path_ directly
  int temp_slot_ = -1;     // its slot among the files removed on a signal
  int index_slot_ = -1;
  std::string temp_index_;          // the index built beside the temporary file
  int index_fd_ = -1;               // its descriptor, kept to sync it to disk
  std::string index_path_;          // where it goes on commit
  bool index_after_close_ = false;  // .bcf on threads: indexed once written
  int sync_fd_ = -1;                // a descriptor of the temporary file kept to sync it
                                    // once the codec has closed its own
  mode_t mode_ = 0;                 // the permission bits of the output and its index
  OutputKind kind_;
  int threads_;
  int fd_ = -1;
  std::unique_ptr<Codec> codec_;
  std::string buffer_;          // text, plain VCF or BCF records not yet written
  uint64_t block_address_ = 0;  // .vcf.gz: compressed bytes written so far
};

}  // namespace tessellar
