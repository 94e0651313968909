// Imputing one SNP in mode 0 (untyped) or mode 1 (typed, with missing codes).
#include "run/impute.h"

#include <limits>

#include "haplo/em.h"
#include "haplo/imputation.h"

namespace tessellar {

namespace {

// The EM estimate is smoothed towards uniform before the posteriors:
// (f + kSmoothingAdd) / kSmoothingDivide, the divisor being 1 + 32 times the
// addition (the default K of 32, whatever K is).
constexpr double kSmoothingAdd = 0.000001;
constexpr double kSmoothingDivide = 1.000032;

}  // namespace

SnpImputer::SnpImputer(const Settings& settings, const RunTables& tables, bool names)
    : s_(settings),
      t_(tables),
      tag_tables_{tables.snp_union,  tables.haps,       tables.hap_index, tables.panel.geno,
                  tables.panel.ncol, tables.study.geno, tables.study.nind},
      tag_list_(static_cast<std::size_t>(settings.geometry.M), 0),
      study_tags_(static_cast<std::size_t>(tables.study.nind) * settings.geometry.M, 0),
      panel_tags_(static_cast<std::size_t>(tables.panel.ncol) * settings.geometry.M, 0),
      scratch_(make_tag_scratch()),
      hapfreq_(static_cast<std::size_t>(settings.geometry.K)),
      smoothed_(static_cast<std::size_t>(settings.geometry.K)),
      names_(names) {
  for (auto& p : prob_) p.assign(static_cast<std::size_t>(tables.study.nind), 0.0);
  target_codes_.assign(static_cast<std::size_t>(tables.study.nind), 9);
}

SnpImputer::~SnpImputer() = default;

bool SnpImputer::impute(int j, Mode mode) {
  if (!choose_window(j, mode)) return false;
  fill_window_rows(mode);
  estimate_and_impute(mode);
  make_record(mode);
  return true;
}

bool SnpImputer::choose_window(int j, Mode mode) {
  score_ = 0.0;
  getMD_max(s_, tag_list_.data(), &score_, j, mode, tag_tables_,
            WindowRows{panel_tags_.data(), study_tags_.data()}, *scratch_);
  return score_ >= kMinTagScore;
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

void SnpImputer::make_record(Mode mode) {
  const int m = s_.geometry.M;
  const SnpUnion& u = t_.snp_union;
  const int target = tag_list_[0];
  SnpRecord& r = record_;
  r.contig = t_.contig;
  r.nind = t_.study.nind;
  if (mode == Mode::untyped) {
    const int p = u.panel_row[target];
    r.kind = SnpRecord::Kind::untyped;
    r.name = t_.panel.name[p];
    r.pos = t_.panel.pos[p];
    r.letters = t_.panel.allele[p];
    r.first_counted = t_.panel.is_flipped(p);
    r.call_fraction = 0;
  } else {
    const int s = u.study_row[target];
    r.kind = SnpRecord::Kind::typed;
    r.name = t_.study.name[s];
    r.pos = t_.study.pos[s];
    r.letters = t_.study.allele[s];
    r.first_counted = false;
    r.call_fraction = 1 - t_.study.miss[s];
  }
  for (int i = 0; i < r.nind; ++i)
    target_codes_[static_cast<std::size_t>(i)] =
        static_cast<int8_t>(study_tags_[static_cast<std::size_t>(i) * m]);
  r.codes = target_codes_.data();
  r.prob = {prob_[0].data(), prob_[1].data(), prob_[2].data()};
  r.score = score_;
  // The tags by name (their position where they have none), in window order.
  tag_names_.clear();
  for (int k = 1; k < m && names_; ++k) {
    const int tag = tag_list_[static_cast<std::size_t>(k)];
    const int sr = u.study_row[tag];
    const std::string& name = t_.study.name[static_cast<std::size_t>(sr)];
    if (k > 1) tag_names_ += ',';
    if (name.empty() || name == ".") {
      tag_names_ += std::to_string(u.pos[tag]);
    } else {
      for (char c : name) tag_names_ += c == ',' || c == ';' || c == '=' ? '_' : c;
    }
  }
  r.tags = tag_names_;
  r.af = r.info = r.er2 = std::numeric_limits<double>::quiet_NaN();
}

SnpRecord written_through(const RunTables& tables, int s) {
  const StudyTable& study = tables.study;
  SnpRecord r;
  r.kind = SnpRecord::Kind::written_through;
  r.contig = tables.contig;
  r.name = study.name[s];
  r.pos = study.pos[s];
  r.letters = study.allele[s];
  r.call_fraction = 1 - study.miss[s];
  r.nind = study.nind;
  r.codes = study.geno.row(s);
  return r;
}

}  // namespace tessellar
