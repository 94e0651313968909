// Imputing one SNP in mode 0 (untyped) or mode 1 (typed, with missing codes).
#include "run/impute.h"

#include "haplo/em.h"
#include "haplo/imputation.h"
#include "run/output.h"
#include "run/settings.h"

namespace tessellar {

SnpImputer::SnpImputer(const RunTables& tables)
    : t_(tables),
      tag_list_(static_cast<std::size_t>(settings().M), 0),
      study_tags_(static_cast<std::size_t>(tables.study.nind) * settings().M, 0),
      panel_tags_(static_cast<std::size_t>(tables.panel.ncol) * settings().M, 0),
      scratch_(make_tag_scratch()),
      hapfreq_(static_cast<std::size_t>(settings().K)),
      smoothed_(static_cast<std::size_t>(settings().K)) {
  for (auto& p : prob_) p.assign(static_cast<std::size_t>(tables.study.nind), 0.0);
}

SnpImputer::~SnpImputer() = default;

void SnpImputer::impute(int j, Mode mode, std::string& out) {
  if (!choose_window(j, mode)) return;
  fill_window_rows(mode);
  estimate_and_impute(mode);
  append_record(mode, out);
}

bool SnpImputer::choose_window(int j, Mode mode) {
  const Settings& s = settings();
  const SnpUnion& u = t_.snp_union;
  double score = 0.0;
  getMD_max(tag_list_.data(), &score, j, mode, s.hap_flag, s.speed_flag, u.pos.data(), u.n, t_.haps,
            t_.hap_index, u.hap_row.data(), t_.haps.ncol, t_.panel.geno, panel_tags_.data(),
            u.panel_row.data(), t_.panel.ncol, t_.study.geno, study_tags_.data(),
            u.study_row.data(), t_.study.nind, *scratch_);
  return score >= 0.000001;
}

void SnpImputer::fill_window_rows(Mode mode) {
  const int m = settings().M;
  const SnpUnion& u = t_.snp_union;
  for (int k = 0; k < m; ++k) {
    const int snp = tag_list_[static_cast<std::size_t>(k)];
    if (mode == kUntyped && k == 0) {
      for (int i = 0; i < t_.study.nind; ++i) study_tags_[static_cast<std::size_t>(i) * m] = 9;
    } else {
      const int8_t* codes = t_.study.geno.row(u.study_row[snp]);
      for (int i = 0; i < t_.study.nind; ++i)
        study_tags_[static_cast<std::size_t>(i) * m + k] = codes[i];
    }
    if (mode == kUntyped) {
      const int8_t* codes = t_.panel.geno.row(u.panel_row[snp]);
      for (int r = 0; r < t_.panel.ncol; ++r)
        panel_tags_[static_cast<std::size_t>(r) * m + k] = codes[r];
    }
  }
}

void SnpImputer::estimate_and_impute(Mode mode) {
  const Settings& s = settings();
  makelist(study_list_, study_tags_.data(), t_.study.nind);
  if (mode == kUntyped) makelist_ex(family_list_, panel_tags_.data(), s.nTR, s.nDU, s.nUN);
  hapfreq_.assign(static_cast<std::size_t>(s.K), 1.0 / s.K);
  if (mode == kUntyped)
    A1(hapfreq_.data(), &study_list_, &family_list_, -1, -1, -1, 1, nullptr, 9);
  else
    A1(hapfreq_.data(), &study_list_, nullptr, -1, -1, 1, -1, nullptr, 9);
  for (int h = 0; h < s.K; ++h)
    smoothed_[static_cast<std::size_t>(h)] =
        (hapfreq_[static_cast<std::size_t>(h)] + 0.000001) / 1.000032;
  imputation(smoothed_.data(), study_list_, {prob_[0].data(), prob_[1].data(), prob_[2].data()});
  freelink(study_list_);
  if (mode == kUntyped) freelink_ex(family_list_);
}

void SnpImputer::append_record(Mode mode, std::string& out) const {
  const int m = settings().M;
  const SnpUnion& u = t_.snp_union;
  const int target = tag_list_[0];
  if (mode == kUntyped) {
    const int r = u.panel_row[target];
    append_untyped_head(out, t_.panel.name[r], t_.panel.pos[r], t_.panel.allele[r][0],
                        t_.panel.allele[r][1]);
  } else {
    const int s = u.study_row[target];
    append_typed_head(out, 1 - t_.study.miss[s], t_.study.name[s], t_.study.pos[s],
                      t_.study.allele[s][0], t_.study.allele[s][1]);
  }
  for (int i = 0; i < t_.study.nind; ++i) {
    const int code = study_tags_[static_cast<std::size_t>(i) * m];
    if (code == 9) {
      for (int g = 2; g >= 0; --g) append_probability(out, prob_[g][static_cast<std::size_t>(i)]);
    } else {
      append_indicators(out, code);
    }
  }
  out += '\n';
}

void append_written_through(const StudyTable& study, int s, std::string& out) {
  append_typed_head(out, 1 - study.miss[s], study.name[s], study.pos[s], study.allele[s][0],
                    study.allele[s][1]);
  const int8_t* codes = study.geno.row(s);
  for (int i = 0; i < study.nind; ++i) append_indicators(out, codes[i]);
  out += '\n';
}

}  // namespace tessellar
