// Imputing one SNP in mode 0 (untyped) or mode 1 (typed, with missing codes).
#include "run/impute.h"

#include "haplo/em.h"
#include "haplo/imputation.h"
#include "run/output.h"

namespace tessellar {

namespace {

// The EM estimate is smoothed towards uniform before the posteriors:
// (f + kSmoothingAdd) / kSmoothingDivide, the divisor being 1 + 32 times the
// addition (the default K of 32, whatever K is).
constexpr double kSmoothingAdd = 0.000001;
constexpr double kSmoothingDivide = 1.000032;

}  // namespace

SnpImputer::SnpImputer(const Settings& settings, const RunTables& tables)
    : s_(settings),
      t_(tables),
      tag_tables_{tables.snp_union,  tables.haps,       tables.hap_index, tables.panel.geno,
                  tables.panel.ncol, tables.study.geno, tables.study.nind},
      tag_list_(static_cast<std::size_t>(settings.geometry.M), 0),
      study_tags_(static_cast<std::size_t>(tables.study.nind) * settings.geometry.M, 0),
      panel_tags_(static_cast<std::size_t>(tables.panel.ncol) * settings.geometry.M, 0),
      scratch_(make_tag_scratch()),
      hapfreq_(static_cast<std::size_t>(settings.geometry.K)),
      smoothed_(static_cast<std::size_t>(settings.geometry.K)) {
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
  double score = 0.0;
  getMD_max(s_, tag_list_.data(), &score, j, mode, tag_tables_,
            WindowRows{panel_tags_.data(), study_tags_.data()}, *scratch_);
  return score >= kMinTagScore;
}

void SnpImputer::fill_window_rows(Mode mode) {
  const int m = s_.geometry.M;
  const SnpUnion& u = t_.snp_union;
  for (int k = 0; k < m; ++k) {
    const int snp = tag_list_[static_cast<std::size_t>(k)];
    if (mode == Mode::untyped && k == 0) {
      for (int i = 0; i < t_.study.nind; ++i) study_tags_[static_cast<std::size_t>(i) * m] = 9;
    } else {
      const int8_t* codes = t_.study.geno.row(u.study_row[snp]);
      for (int i = 0; i < t_.study.nind; ++i)
        study_tags_[static_cast<std::size_t>(i) * m + k] = codes[i];
    }
    if (mode == Mode::untyped) {
      const int8_t* codes = t_.panel.geno.row(u.panel_row[snp]);
      for (int r = 0; r < t_.panel.ncol; ++r)
        panel_tags_[static_cast<std::size_t>(r) * m + k] = codes[r];
    }
  }
}

void SnpImputer::estimate_and_impute(Mode mode) {
  const WindowGeometry& g = s_.geometry;
  const bool untyped = mode == Mode::untyped;
  makelist(g, study_list_, study_tags_.data(), t_.study.nind);
  if (untyped) makelist_ex(g, family_list_, panel_tags_.data(), s_.nTR, s_.nDU, s_.nUN);
  hapfreq_.assign(static_cast<std::size_t>(g.K), 1.0 / g.K);
  EmUnits units;  // untyped: the panel's families alone; incomplete: the study alone
  if (untyped) {
    units.families = &family_list_;
  } else {
    units.study = &study_list_;
  }
  estimate_frequencies(g.K, hapfreq_.data(), units);
  for (int h = 0; h < g.K; ++h)
    smoothed_[static_cast<std::size_t>(h)] =
        (hapfreq_[static_cast<std::size_t>(h)] + kSmoothingAdd) / kSmoothingDivide;
  imputation(g, smoothed_.data(), study_list_, {prob_[0].data(), prob_[1].data(), prob_[2].data()});
  freelink(study_list_);
  if (untyped) freelink_ex(family_list_);
}

void SnpImputer::append_record(Mode mode, std::string& out) const {
  const int m = s_.geometry.M;
  const SnpUnion& u = t_.snp_union;
  const int target = tag_list_[0];
  if (mode == Mode::untyped) {
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
