// VcfReader's indexes and restrictions: the index beside a file (not used
// when older than the file), reading one contig's range through it or past
// the other records, and whether a file holds records beyond a range.
#include <htslib/hts.h>
#include <htslib/tbx.h>
#include <htslib/vcf.h>
#include <sys/stat.h>

#include <cstring>
#include <string>
#include <vector>

#include "core/fatal.h"
#include "input/vcf_handles.h"
#include "input/vcf_reader.h"

namespace tessellar {

namespace {

// The index that htslib would load for path (a BCF file takes CSI only),
// "" when there is none: path + extension, or path with its last extension
// replaced.
std::string index_beside(const std::string& path, bool bcf) {
  std::vector<std::string> names;
  for (const char* ext : {".csi", ".tbi"}) {
    if (bcf && std::strcmp(ext, ".tbi") == 0) break;
    names.push_back(path + ext);
    const std::size_t dot = path.rfind('.');
    const std::size_t slash = path.rfind('/');
    if (dot != std::string::npos && (slash == std::string::npos || dot > slash))
      names.push_back(path.substr(0, dot) + ext);
  }
  struct stat st;
  for (const std::string& name : names)
    if (::stat(name.c_str(), &st) == 0 && S_ISREG(st.st_mode)) return name;
  return "";
}

// Whether the file index was last changed in a second before data was, as
// htslib tells a stale index.
bool older(const std::string& index, const std::string& data) {
  struct stat i;
  struct stat d;
  return ::stat(index.c_str(), &i) == 0 && ::stat(data.c_str(), &d) == 0 && i.st_mtime < d.st_mtime;
}

}  // namespace

// Called when reading through the index fails. A file that is damaged
// itself stops the run as it is read through in order; otherwise the index
// is not this file's.
void VcfReader::index_does_not_fit() const {
  if (std::unique_ptr<VcfReader> whole = open_if_vcf(path_, role_.c_str())) {
    while (whole->next()) {
    }
  }
  fatal(
      "'%s': its index '%s' does not fit it (an index of another file, or of an earlier version "
      "of it); make the index again",
      path_.c_str(), index_path_.c_str());
}

bool VcfReader::indexed() const {
  return h_->index != nullptr || h_->tabix != nullptr;
}

// An index is looked for beside a regular file that is BCF or BGZF; one
// older than the file is not used (it may miss records written since).
bool VcfReader::load_index() {
  if (index_tried_) return indexed();
  index_tried_ = true;
  const htsFormat* format = hts_get_format(h_->file);
  const bool bcf = format->format == htsExactFormat::bcf;
  if (!regular_ || (!bcf && format->compression != htsCompression::bgzf)) return false;
  const std::string found = index_beside(path_, bcf);
  if (found.empty()) return false;
  if (older(found, path_)) {
    stale_index_ = found;
    return false;
  }
  index_path_ = found;
  if (bcf) {
    h_->index = bcf_index_load3(path_.c_str(), found.c_str(), HTS_IDX_SILENT_FAIL);
  } else {
    h_->tabix = tbx_index_load3(path_.c_str(), found.c_str(), HTS_IDX_SILENT_FAIL);
  }
  return indexed();
}

void VcfReader::two_names(int first, int second) const {
  fatal(
      "'%s' holds records of contig %s and of contig %s, which are one contig (a leading "
      "\"chr\" is ignored); an input must name each contig one way",
      path_.c_str(), contigs_[static_cast<std::size_t>(first)].name.c_str(),
      contigs_[static_cast<std::size_t>(second)].name.c_str());
}

// Of the header contigs that match a restriction (key_match_), the one
// whose records the index holds; first_match when none has any. Two with
// records are one contig under two names.
int VcfReader::contig_with_records(int first_match) {
  int holding = -1;
  for (std::size_t c = 0; c < contigs_.size(); ++c) {
    if (!key_match_[c]) continue;
    const int id = static_cast<int>(c);
    if (!records_in(id, 1, HTS_POS_MAX)) continue;
    if (holding >= 0) two_names(holding, id);
    holding = id;
  }
  return holding >= 0 ? holding : first_match;
}

bool VcfReader::restrict_to(std::string_view contig, long long from, long long to,
                            Outside* outside) {
  restricted_ = true;
  only_from_ = from;
  only_to_ = to;
  outside_ = outside;
  key_match_.assign(contigs_.size(), false);
  int matches = 0;
  for (std::size_t c = 0; c < contigs_.size(); ++c) {
    key_match_[c] = contig_key(contigs_[c].name) == contig_key(contig);
    matches += key_match_[c];
  }
  only_contig_ = header_contig(contig);
  if (!load_index()) return false;
  if (matches > 1) only_contig_ = contig_with_records(only_contig_);
  if (h_->iterator != nullptr) hts_itr_destroy(h_->iterator);
  h_->iterator = nullptr;
  if (only_contig_ >= 0)
    h_->iterator = h_->query(
        only_contig_, contigs_[static_cast<std::size_t>(only_contig_)].name.c_str(), from, to);
  text_ = false;  // records read through an index have no line numbers
  return true;
}

bool VcfReader::records_in(int id, long long from, long long to) {
  if (from > to) return false;
  hts_itr_t* it = h_->query(id, contigs_[static_cast<std::size_t>(id)].name.c_str(), from, to);
  if (it == nullptr) return false;
  const bool any = h_->next_of(it) >= 0;
  hts_itr_destroy(it);
  return any;
}

bool VcfReader::has_records(std::string_view contig, long long from, long long to) {
  if (!load_index()) return true;
  for (std::size_t c = 0; c < contigs_.size(); ++c)
    if (contig_key(contigs_[c].name) == contig_key(contig) &&
        records_in(static_cast<int>(c), from, to))
      return true;
  return false;
}

// Without an index, whether a record read lies outside the restriction and
// is passed over; those of the restriction's contig are noted in outside_.
bool VcfReader::passed_over(int rid, long long pos) {
  const bool match = rid >= 0 && rid < static_cast<int>(key_match_.size()) &&
                     key_match_[static_cast<std::size_t>(rid)];
  if (!match) return true;
  if (matched_contig_ >= 0 && rid != matched_contig_) two_names(matched_contig_, rid);
  matched_contig_ = rid;
  const bool before = pos < only_from_;
  const bool after = pos > only_to_;
  if (outside_ != nullptr) {
    outside_->before = outside_->before || before;
    outside_->after = outside_->after || after;
  }
  return before || after;
}

}  // namespace tessellar
