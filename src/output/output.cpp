// Output file handling: temporary file, buffered writes (plain, BGZF or
// BCF through htslib), index, rename on commit.
#include "output/output.h"

#include <fcntl.h>
#include <htslib/bgzf.h>
#include <htslib/hfile.h>
#include <htslib/hts.h>
#include <htslib/tbx.h>
#include <htslib/vcf.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "core/fatal.h"
#include "core/temp_files.h"
#include "output/output_path.h"

namespace tessellar {

namespace {

// Compression level 1: several times faster than the default, for files
// about a quarter larger.
constexpr int kCompressionLevel = 1;

// Positions from here on need a CSI index: tabix indexes up to 2^29 bp.
constexpr long long kTabixLimit = 1LL << 29;

// The CSI index's smallest bin: 2^14 bp, as tabix's and bcftools'.
constexpr int kCsiMinShift = 14;

// Makes the renames into path's folder durable: syncs the folder where the
// file system can (the files' data are synced already).
void sync_folder_of(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  const std::string folder =
      slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

}  // namespace

OutputKind output_kind(const std::string& path) {
  if (path.ends_with(".vcf.gz")) return OutputKind::vcf_gz;
  if (path.ends_with(".bcf")) return OutputKind::bcf;
  if (path.ends_with(".vcf")) return OutputKind::vcf;
  return OutputKind::text;
}

struct OutputFile::Codec {
  htsFile* file = nullptr;      // BGZF-compressed VCF or BCF
  bcf_hdr_t* header = nullptr;  // the header, for the index and BCF records
  bcf1_t* record = nullptr;     // bcf
  std::string contig;           // the contig of the last record indexed
  int contig_id = -1;           // and its id in the header
  ~Codec() {
    if (record != nullptr) bcf_destroy(record);
    if (header != nullptr) bcf_hdr_destroy(header);
    if (file != nullptr) hts_close(file);
  }
};

OutputFile::OutputFile(const std::string& path, OutputKind kind, int threads, const char* what)
    : path_(path), what_(what), kind_(kind), threads_(threads) {
  std::fflush(stdout);
  const OutputTarget target = resolve_output(path, what);
  switch (target.how) {
    case OutputTarget::How::descriptor:
      fd_ = ::fcntl(target.fd, F_DUPFD_CLOEXEC, 3);
      if (fd_ < 0)
        fatal("cannot write to the %s '%s': %s.", what, path.c_str(), std::strerror(errno));
      break;
    case OutputTarget::How::direct:
      fd_ = ::open(target.path.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
      if (fd_ < 0) fatal("cannot open the %s '%s': %s.", what, path.c_str(), std::strerror(errno));
      break;
    case OutputTarget::How::temp_file: {
      path_ = target.path;
      std::string name = path_ + ".tmp.XXXXXX";
      fd_ = make_temp_file(name, &temp_slot_);
      if (fd_ < 0)
        fatal("cannot create the %s '%s': %s.", what, path.c_str(), std::strerror(errno));
      temp_path_ = name;
      mode_ = target.mode;
      ::fchmod(fd_, mode_);
      break;
    }
  }
  if (compressed()) {
    codec_ = std::make_unique<Codec>();
    const int fd = fd_;
    fd_ = -1;  // from here the codec owns the descriptor
    if (!temp_path_.empty()) {
      sync_fd_ = ::fcntl(fd, F_DUPFD_CLOEXEC, 3);
      if (sync_fd_ < 0) {
        ::close(fd);
        write_failed(errno);
      }
    }
    hFILE* h = hdopen(fd, "w");
    if (h == nullptr) {
      ::close(fd);
      write_failed(errno);
    }
    codec_->file = hts_hopen(h, path_.c_str(), kind_ == OutputKind::bcf ? "wb1" : "wz1");
    if (codec_->file == nullptr) {
      if (hclose(h) != 0) write_failed(errno);
      write_failed(errno);
    }
    // The header is written as text below, not by htslib, which would
    // otherwise mark the file as VCF; its index needs to know.
    if (kind_ == OutputKind::vcf_gz) codec_->file->format.format = htsExactFormat::vcf;
    if (kind_ == OutputKind::text_gz) return;
    if (threads_ > 1 && kind_ == OutputKind::bcf) hts_set_threads(codec_->file, threads_);
  }
}

OutputFile::~OutputFile() {
  discard();
}

void OutputFile::discard() noexcept {
  codec_.reset();
  for (int* fd : {&fd_, &sync_fd_, &index_fd_}) {
    if (*fd >= 0) ::close(*fd);
    *fd = -1;
  }
  if (!temp_path_.empty()) ::unlink(temp_path_.c_str());
  if (!temp_index_.empty()) ::unlink(temp_index_.c_str());
  unregister_temp_file(temp_slot_);
  unregister_temp_file(index_slot_);
  temp_slot_ = index_slot_ = -1;
  temp_path_.clear();
  temp_index_.clear();
}

void OutputFile::write_failed(int error) const {
  fatal("cannot write to the %s '%s': %s.", what_, path_.c_str(),
        std::strerror(error != 0 ? error : EIO));
}

void OutputFile::write_header(const std::string& header, long long last_position) {
  if (codec_ == nullptr || kind_ == OutputKind::text_gz) {
    OutputChunk chunk;
    chunk.text = header;
    prepare(chunk);
    write(chunk);
    return;
  }
  codec_->header = bcf_hdr_init("r");
  std::vector<char> text(header.begin(), header.end());
  text.push_back('\0');
  if (codec_->header == nullptr || bcf_hdr_parse(codec_->header, text.data()) != 0)
    fatal("cannot make the header of the output file '%s'.", path_.c_str());
  errno = 0;
  if (kind_ == OutputKind::bcf) {
    if (bcf_hdr_write(codec_->file, codec_->header) != 0) write_failed(errno);
    codec_->record = bcf_init();
  } else {
    OutputChunk chunk;
    chunk.text = header;
    prepare(chunk);
    write_blocks(chunk, false);
  }
  if (temp_path_.empty()) return;  // a pipe or device has no index
  // Positions beyond what tabix can index (2^29 bp), in records or in the
  // contigs' lengths, need a CSI index.
  bool csi = kind_ == OutputKind::bcf || last_position >= kTabixLimit;
  for (int c = 0; c < codec_->header->n[BCF_DT_CTG]; ++c) {
    const bcf_idpair_t& pair = codec_->header->id[BCF_DT_CTG][c];
    csi = csi || (pair.val != nullptr && pair.val->info[0] >= kTabixLimit);
  }
  make_temp_index(csi);
  // htslib 1.16 indexes records as it writes them, but loses the block
  // addresses when it compresses BCF on threads: then the index is built
  // from the file once written (a read of the file: 0.5 s for 17 MB).
  index_after_close_ = kind_ == OutputKind::bcf && threads_ > 1;
  if (index_after_close_) return;
  if (bcf_idx_init(codec_->file, codec_->header, csi ? kCsiMinShift : 0, temp_index_.c_str()) != 0)
    fatal("cannot index the output file '%s'.", path_.c_str());
}

// The index's temporary file, created anew beside the output's, so that
// htslib, which opens it by name, writes into a file of this run.
void OutputFile::make_temp_index(bool csi) {
  std::string name = path_ + ".tmp.XXXXXX";
  index_fd_ = make_temp_file(name, &index_slot_);
  if (index_fd_ < 0)
    fatal("cannot create the index of the output file '%s': %s.", path_.c_str(),
          std::strerror(errno));
  temp_index_ = name;
  index_path_ = path_ + (csi ? ".csi" : ".tbi");
  ::fchmod(index_fd_, mode_);
}

void OutputFile::write_plain(const char* data, std::size_t left) {
  if (temp_path_.empty()) std::fflush(stdout);  // keep the order when writing to the terminal
  while (left > 0) {
    ssize_t written = ::write(fd_, data, left);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) write_failed(written < 0 ? errno : EIO);
    data += written;
    left -= static_cast<std::size_t>(written);
  }
}

void OutputFile::prepare(OutputChunk& chunk) const {
  if (kind_ != OutputKind::vcf_gz && kind_ != OutputKind::text_gz) return;
  chunk.blocks.clear();
  chunk.block_sizes.clear();
  for (std::size_t at = 0; at < chunk.text.size(); at += BGZF_BLOCK_SIZE) {
    const std::size_t length = std::min<std::size_t>(BGZF_BLOCK_SIZE, chunk.text.size() - at);
    const std::size_t old = chunk.blocks.size();
    chunk.blocks.resize(old + BGZF_MAX_BLOCK_SIZE);
    std::size_t size = BGZF_MAX_BLOCK_SIZE;
    if (bgzf_compress(chunk.blocks.data() + old, &size, chunk.text.data() + at, length,
                      kCompressionLevel) != 0)
      fatal("cannot compress the output file '%s'.", path_.c_str());
    chunk.blocks.resize(old + size);
    chunk.block_sizes.push_back(static_cast<uint32_t>(size));
  }
}

void OutputFile::write(const OutputChunk& chunk) {
  if (kind_ == OutputKind::vcf_gz || kind_ == OutputKind::text_gz) {
    write_blocks(chunk, kind_ == OutputKind::vcf_gz);
    return;
  }
  buffer_ += chunk.text;
  flush_if_full();
}

// The blocks as they are, with the index entries of the records: a
// record ending at byte e of the chunk ends in block e / 0xff00 at e % 0xff00
// (at the start of the next block when it fills its block exactly, as BGZF
// readers and writers count).
void OutputFile::write_blocks(const OutputChunk& chunk, bool records) {
  BGZF* bgzf = codec_->file->fp.bgzf;
  if (records && codec_->file->idx != nullptr) {
    std::vector<uint64_t> starts(chunk.block_sizes.size() + 1, block_address_);
    for (std::size_t k = 0; k < chunk.block_sizes.size(); ++k)
      starts[k + 1] = starts[k] + chunk.block_sizes[k];
    std::size_t line = 0;
    while (line < chunk.text.size()) {
      const std::size_t end = chunk.text.find('\n', line) + 1;
      const uint64_t block = starts[end / BGZF_BLOCK_SIZE];
      index_record(chunk.text.data() + line, (block << 16) | (end % BGZF_BLOCK_SIZE));
      line = end;
    }
  }
  errno = 0;
  if (!chunk.blocks.empty() && bgzf_raw_write(bgzf, chunk.blocks.data(), chunk.blocks.size()) !=
                                   static_cast<ssize_t>(chunk.blocks.size()))
    write_failed(errno);
  block_address_ += chunk.blocks.size();
  bgzf->block_address = static_cast<int64_t>(block_address_);  // where BGZF goes on from
}

void OutputFile::write_bcf() {
  Codec& c = *codec_;
  std::size_t at = 0;
  while (at < buffer_.size()) {
    std::size_t end = buffer_.find('\n', at);
    if (end == std::string::npos) end = buffer_.size();
    kstring_t line = {end - at, end - at + 1, buffer_.data() + at};
    buffer_[end] = '\0';
    if (vcf_parse(&line, c.header, c.record) != 0)
      fatal("cannot encode a record of the output file '%s' as BCF.", path_.c_str());
    errno = 0;
    if (bcf_write(c.file, c.header, c.record) != 0) write_failed(errno);
    at = end + 1;
  }
}

void OutputFile::index_record(const char* line, uint64_t end_offset) {
  Codec& c = *codec_;
  const char* tab = std::strchr(line, '\t');
  if (c.contig_id < 0 || c.contig.compare(0, std::string::npos, line, tab - line) != 0) {
    c.contig.assign(line, tab);
    c.contig_id = bcf_hdr_name2id(c.header, c.contig.c_str());
    if (c.contig_id < 0 || hts_idx_tbi_name(c.file->idx, c.contig_id, c.contig.c_str()) < 0)
      fatal("cannot index the output file '%s': contig %s.", path_.c_str(), c.contig.c_str());
  }
  const long long pos = std::strtoll(tab + 1, nullptr, 10);
  if (hts_idx_push(c.file->idx, c.contig_id, pos - 1, pos, end_offset, 1) < 0)
    fatal("cannot index the output file '%s' at contig %s position %lld.", path_.c_str(),
          c.contig.c_str(), pos);
}

void OutputFile::flush() {
  if (kind_ == OutputKind::bcf) {
    write_bcf();
  } else {
    write_plain(buffer_.data(), buffer_.size());
  }
  buffer_.clear();
}

// The temporary file (its codec closed) and its index written and synced
// to disk, so that a crash after the renames cannot leave an output without
// its data.
void OutputFile::sync_to_disk() {
  if (sync_fd_ >= 0) {
    if (::fsync(sync_fd_) != 0) write_failed(errno);
    ::close(sync_fd_);
    sync_fd_ = -1;
  }
  if (index_fd_ < 0) return;
  errno = 0;
  if (index_after_close_ && bcf_index_build3(temp_path_.c_str(), temp_index_.c_str(), kCsiMinShift,
                                             threads_ > 1 ? threads_ : 0) != 0)
    fatal("cannot write the index of the output file '%s': %s.", path_.c_str(),
          std::strerror(errno != 0 ? errno : EIO));
  if (::fsync(index_fd_) != 0)
    fatal("cannot write the index of the output file '%s': %s.", path_.c_str(),
          std::strerror(errno));
  ::close(index_fd_);
  index_fd_ = -1;
}

void OutputFile::commit() {
  if (kind_ != OutputKind::vcf_gz && kind_ != OutputKind::text_gz) flush();
  errno = 0;
  if (codec_ != nullptr) {
    if (codec_->file->idx != nullptr && bcf_idx_save(codec_->file) != 0)
      fatal("cannot write the index of the output file '%s': %s.", path_.c_str(),
            std::strerror(errno != 0 ? errno : EIO));
    const int closed = hts_close(codec_->file);
    codec_->file = nullptr;
    if (closed != 0) write_failed(errno);
  } else {
    if (!temp_path_.empty() && ::fsync(fd_) != 0) write_failed(errno);
    const int fd = fd_;
    fd_ = -1;
    if (::close(fd) != 0) write_failed(errno);
  }
  if (temp_path_.empty()) return;
  sync_to_disk();
  if (!temp_index_.empty()) {
    if (::rename(temp_index_.c_str(), index_path_.c_str()) != 0)
      fatal("cannot replace the index '%s': %s.", index_path_.c_str(), std::strerror(errno));
    temp_index_.clear();
    unregister_temp_file(index_slot_);
    index_slot_ = -1;
    // An index of the other kind would describe the earlier file.
    const std::string other = path_ + (index_path_.ends_with(".tbi") ? ".csi" : ".tbi");
    ::unlink(other.c_str());
  }
  if (::rename(temp_path_.c_str(), path_.c_str()) != 0)
    fatal("cannot replace the %s '%s': %s.", what_, path_.c_str(), std::strerror(errno));
  temp_path_.clear();
  unregister_temp_file(temp_slot_);
  temp_slot_ = -1;
  sync_folder_of(path_);
}

}  // namespace tessellar
