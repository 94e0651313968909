// The EM over the pattern lists. Each unit's E-step and M-step are fused:
// one pass sums the configuration probabilities into S, a second pass
// recomputes each probability (the same expression, hence the same value),
// divides it by S and adds half of the weight to the founder haplotypes.
// Every entry of the new vector thus receives the same additions in the
// same order as in the plain two-step algorithm (study individuals, then
// family units, in list order; hap1 to hap4 within a record), which fixes
// its value bit for bit.
#include "haplo/em.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <initializer_list>

namespace tessellar {

namespace {

constexpr int kMaxIterations = 500;
constexpr double kThreshold = 0.0001;

// Multiplicity of an unordered pair: 2.0 when the haplotypes differ.
inline double mult(int a, int b) {
  return a != b ? 2.0 : 1.0;
}

// Probability of a duo configuration.
inline double duo_prob(const double* f, const node_ex& c) {
  return mult(c.hap1, c.hap2) * f[c.hap1] * f[c.hap2] * f[c.hap3];
}

// Probability of a trio configuration; m12 * m34 is exact, so one factor.
inline double trio_prob(const double* f, const node_ex& c) {
  const double m = static_cast<double>((c.hap1 != c.hap2 ? 2 : 1) * (c.hap3 != c.hap4 ? 2 : 1));
  return m * f[c.hap1] * f[c.hap2] * f[c.hap3] * f[c.hap4];
}

// Whether study individual ind takes part under the group filter.
inline bool takes_part(const node0& ind, const EmUnits& units) {
  if (units.groups == nullptr) return true;
  const int g = units.groups[ind.index];
  return g == units.group_a || g == units.group_b;
}

// A unit with a single record: its weight is p / p, exactly 1, so each of
// its founder haplotypes receives exactly 0.5; with p = 0 the weight is 0
// and adding it changes nothing. True when the record was handled so.
inline bool single_record(double p, double* fresh, std::initializer_list<int> haps) {
  if (p == 0.0) return true;
  if (!std::isfinite(p)) return false;  // NaN or infinite: the general steps
  for (int h : haps) fresh[h] += 0.5;
  return true;
}

// E-step and M-step of one study individual: pairs [b, e), into fresh.
void study_unit(const double* f, const node* b, const node* e, double* fresh) {
  if (e - b == 1 && single_record(pair_prob(f, b->hap1, b->hap2), fresh, {b->hap1, b->hap2}))
    return;
  double s = 0.0;
  for (const node* p = b; p != e; ++p) s += pair_prob(f, p->hap1, p->hap2);
  if (s == 0.0) s = 1.0;
  for (const node* p = b; p != e; ++p) {
    const double half = pair_prob(f, p->hap1, p->hap2) / s / 2.0;
    fresh[p->hap1] += half;
    fresh[p->hap2] += half;
  }
}

// E-step and M-step of one family unit of the given kind: configs [b, e).
template <int Kind>
void family_unit(const double* f, const node_ex* b, const node_ex* e, double* fresh) {
  auto prob = [f](const node_ex& c) {
    if constexpr (Kind == 3) return trio_prob(f, c);
    if constexpr (Kind == 2) return duo_prob(f, c);
    if constexpr (Kind == 1) return pair_prob(f, c.hap1, c.hap2);
  };
  if (e - b == 1) {
    const double p = prob(*b);
    bool done;
    if constexpr (Kind == 3) done = single_record(p, fresh, {b->hap1, b->hap2, b->hap3, b->hap4});
    if constexpr (Kind == 2) done = single_record(p, fresh, {b->hap1, b->hap2, b->hap3});
    if constexpr (Kind == 1) done = single_record(p, fresh, {b->hap1, b->hap2});
    if (done) return;
  }
  double s = 0.0;
  for (const node_ex* c = b; c != e; ++c) s += prob(*c);
  if (s == 0.0) s = 1.0;
  for (const node_ex* c = b; c != e; ++c) {
    const double half = prob(*c) / s / 2.0;
    fresh[c->hap1] += half;
    fresh[c->hap2] += half;
    if constexpr (Kind >= 2) fresh[c->hap3] += half;
    if constexpr (Kind == 3) fresh[c->hap4] += half;
  }
}

// Counts of the units that take part; the same in every iteration.
struct UnitCounts {
  int study = 0;
  int trios = 0;
  int duos = 0;
  int singletons = 0;
  bool any() const { return study + trios + duos + singletons > 0; }
  double divisor() const { return (2 * trios + study) + duos * 3.0 / 2.0 + singletons; }
};

// One iteration's E-step and M-step over the units that take part.
void accumulate(const double* f, const EmUnits& units, double* fresh) {
  if (const StudyList* study = units.study) {
    const node* pairs = study->pairs.data();
    for (const node0& ind : study->individuals) {
      if (!takes_part(ind, units)) continue;
      study_unit(f, pairs + ind.begin, pairs + ind.end, fresh);
    }
  }
  if (const FamilyList* families = units.families) {
    const node_ex* configs = families->configs.data();
    for (const node_ex0& u : families->units) {
      const node_ex* b = configs + u.begin;
      const node_ex* e = configs + u.end;
      if (u.kind == 3) family_unit<3>(f, b, e, fresh);
      if (u.kind == 2) family_unit<2>(f, b, e, fresh);
      if (u.kind == 1) family_unit<1>(f, b, e, fresh);
    }
  }
}

UnitCounts count_units(const EmUnits& units) {
  UnitCounts n;
  if (units.study) {
    for (const node0& ind : units.study->individuals) {
      if (takes_part(ind, units)) ++n.study;
    }
  }
  if (units.families) {
    for (const node_ex0& u : units.families->units) {
      if (u.kind == 3) ++n.trios;
      if (u.kind == 2) ++n.duos;
      if (u.kind == 1) ++n.singletons;
    }
  }
  return n;
}

}  // namespace

double length(const double* v, int n) {
  double sum = 0.0;
  for (int k = 0; k < n; ++k) sum += std::fabs(v[k]);
  return sum;
}

EmResult estimate_frequencies(int K, double* hapfreq, const EmUnits& units) {
  EmResult result;
  const UnitCounts counts = count_units(units);
  if (!counts.any()) return result;
  const double D = counts.divisor();
  std::array<double, std::size_t{1} << kMaxM> fresh;
  std::array<double, std::size_t{1} << kMaxM> change;
  std::fill_n(change.begin(), K, 1.0);
  int& count = result.iterations;
  while (length(change.data(), K) > kThreshold && count < kMaxIterations) {
    ++count;
    std::fill_n(fresh.begin(), K, 0.0);
    accumulate(hapfreq, units, fresh.data());
    for (int k = 0; k < K; ++k) {
      fresh[k] = fresh[k] / D;
      change[k] = fresh[k] - hapfreq[k];
      hapfreq[k] = fresh[k];
    }
  }
  result.converged = count < kMaxIterations;
  return result;
}

int A1(int K, double* hapfreq, const StudyList* study, const FamilyList* families, int group_a,
       int group_b, int use_study, int use_families, const int* groups, int group_mode) {
  EmUnits units;
  units.study = use_study == 1 ? study : nullptr;
  units.families = use_families == 1 ? families : nullptr;
  if (group_mode == 1) {
    units.groups = groups;
    units.group_a = group_a;
    units.group_b = group_b;
  }
  return estimate_frequencies(K, hapfreq, units).converged ? 1 : 0;
}

}  // namespace tessellar
