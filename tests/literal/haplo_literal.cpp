// Reference pattern lists, EM and posterior step, written as the plain
// record-by-record algorithm. Appends keep a tail pointer (walking from the
// head would make long lists quadratic); everything else is verbatim.
#include "literal/haplo_literal.h"

#include <cmath>
#include <vector>

namespace tessellar::literal {

node::~node() {
  std::unique_ptr<node> p = std::move(next);
  while (p) p = std::move(p->next);
}
node0::~node0() {
  std::unique_ptr<node0> p = std::move(next);
  while (p) p = std::move(p->next);
}
node_ex::~node_ex() {
  std::unique_ptr<node_ex> p = std::move(next);
  while (p) p = std::move(p->next);
}
node_ex0::~node_ex0() {
  std::unique_ptr<node_ex0> p = std::move(next);
  while (p) p = std::move(p->next);
}

namespace {

// A chain under construction: its head and the last record.
template <typename T>
struct Chain {
  std::unique_ptr<T> head;
  T* tail = nullptr;
  void add(std::unique_ptr<T> item) {
    T* raw = item.get();
    if (tail) {
      tail->next = std::move(item);
    } else {
      head = std::move(item);
    }
    tail = raw;
  }
};

std::unique_ptr<node> mknode(int h1, int h2) {
  auto n = std::make_unique<node>();
  n->hap1 = h1;
  n->hap2 = h2;
  n->weight = 0.0;
  return n;
}

std::unique_ptr<node_ex> mknode_ex(int h1, int h2, int h3, int h4) {
  auto n = std::make_unique<node_ex>();
  n->hap1 = h1;
  n->hap2 = h2;
  n->hap3 = h3;
  n->hap4 = h4;
  return n;
}

void bounds(const WindowGeometry& cfg, const int* row, int& lo, int& hi) {
  lo = 0;
  hi = 0;
  for (int s = 0; s < cfg.M; ++s) {
    if (row[s] == 2) lo += cfg.pow2[cfg.M - 1 - s];
    if (row[s] != 0) hi += cfg.pow2[cfg.M - 1 - s];
  }
}

double m_of(int a, int b) {
  return a != b ? 2.0 : 1.0;
}

double config_prob(const double* f, const node_ex& c, int kind) {
  if (kind == 3) {
    return m_of(c.hap1, c.hap2) * m_of(c.hap3, c.hap4) * f[c.hap1] * f[c.hap2] * f[c.hap3] *
           f[c.hap4];
  }
  if (kind == 2) return m_of(c.hap1, c.hap2) * f[c.hap1] * f[c.hap2] * f[c.hap3];
  return m_of(c.hap1, c.hap2) * f[c.hap1] * f[c.hap2];
}

bool passes(const node0& ind, int group_a, int group_b, const int* groups, int group_mode) {
  return group_mode != 1 || groups[ind.index] == group_a || groups[ind.index] == group_b;
}

std::unique_ptr<node_ex0> trio(const WindowGeometry& g, const int* p1, const int* p2,
                               const int* ch) {
  Chain<node_ex> configs;
  int lo1, hi1, lo2, hi2;
  bounds(g, p1, lo1, hi1);
  bounds(g, p2, lo2, hi2);
  for (int h1 = lo1; h1 <= hi1; ++h1) {
    for (int h2 = h1; h2 <= hi1; ++h2) {
      if (literal::indicator(g, p1, h1, h2) != 1) continue;
      for (int h3 = lo2; h3 <= hi2; ++h3) {
        for (int h4 = h3; h4 <= hi2; ++h4) {
          if (literal::indicator(g, p2, h3, h4) != 1) continue;
          if (literal::indicator(g, ch, h1, h3) == 1 || literal::indicator(g, ch, h1, h4) == 1 ||
              literal::indicator(g, ch, h2, h3) == 1 || literal::indicator(g, ch, h2, h4) == 1) {
            configs.add(mknode_ex(h1, h2, h3, h4));
          }
        }
      }
    }
  }
  auto unit = std::make_unique<node_ex0>();
  unit->kind = 3;
  unit->configs = std::move(configs.head);
  return unit;
}

std::unique_ptr<node_ex0> duo(const WindowGeometry& g, const int* a, const int* b) {
  Chain<node_ex> configs;
  int loa, hia, lob, hib;
  bounds(g, a, loa, hia);
  bounds(g, b, lob, hib);
  for (int h1 = loa; h1 <= hia; ++h1) {
    for (int h2 = h1; h2 <= hia; ++h2) {
      if (literal::indicator(g, a, h1, h2) != 1) continue;
      for (int h3 = lob; h3 <= hib; ++h3) {
        if (literal::indicator(g, b, h1, h3) == 1 || literal::indicator(g, b, h2, h3) == 1) {
          configs.add(mknode_ex(h1, h2, h3, -1));
        }
      }
    }
  }
  auto unit = std::make_unique<node_ex0>();
  unit->kind = 2;
  unit->configs = std::move(configs.head);
  return unit;
}

std::unique_ptr<node_ex0> singleton(const WindowGeometry& g, const int* s) {
  Chain<node_ex> configs;
  int lo, hi;
  bounds(g, s, lo, hi);
  for (int h1 = lo; h1 <= hi; ++h1) {
    for (int h2 = h1; h2 <= hi; ++h2) {
      if (literal::indicator(g, s, h1, h2) == 1) configs.add(mknode_ex(h1, h2, -1, -1));
    }
  }
  auto unit = std::make_unique<node_ex0>();
  unit->kind = 1;
  unit->configs = std::move(configs.head);
  return unit;
}

}  // namespace

int indicator(const WindowGeometry& g, const int* row, int h1, int h2) {
  for (int s = 0; s < g.M; ++s) {
    const int j = g.M - 1 - s;
    const int x = (h1 >> j) & 1;
    const int y = (h2 >> j) & 1;
    const int code = row[s];
    if (x > code) return 0;
    if (code - x == 2) return 0;
    if ((code == 0 || code == 1 || code == 2) && x + y != code) return 0;
  }
  return 1;
}

StudyList makelist(const WindowGeometry& g, const int* rows, int n) {
  const int M = g.M;
  Chain<node0> inds;
  for (int i = 0; i < n; ++i) {
    const int* row = rows + static_cast<std::ptrdiff_t>(i) * M;
    int lo, hi;
    bounds(g, row, lo, hi);
    Chain<node> pairs;
    for (int h1 = lo; h1 <= hi; ++h1) {
      for (int h2 = h1; h2 <= hi; ++h2) {
        if (literal::indicator(g, row, h1, h2) == 1) pairs.add(mknode(h1, h2));
      }
    }
    auto ind = std::make_unique<node0>();
    ind->pairs = std::move(pairs.head);
    ind->index = i;
    inds.add(std::move(ind));
  }
  return StudyList{std::move(inds.head)};
}

FamilyList makelist_ex(const WindowGeometry& g, const int* rows, int ntr, int ndu, int nun) {
  const std::ptrdiff_t M = g.M;
  Chain<node_ex0> units;
  for (int t = 0; t < ntr; ++t) {
    const int* r = rows + 3 * t * M;
    units.add(trio(g, r, r + M, r + 2 * M));
  }
  for (int d = 0; d < ndu; ++d) {
    const int* r = rows + (3 * ntr + 2 * d) * M;
    units.add(duo(g, r, r + M));
  }
  for (int u = 0; u < nun; ++u) units.add(singleton(g, rows + (3 * ntr + 2 * ndu + u) * M));
  return FamilyList{std::move(units.head)};
}

void freelink(StudyList& list) {
  list.head.reset();
}
void freelink_ex(FamilyList& list) {
  list.head.reset();
}

double length(const double* v, int n) {
  double sum = 0.0;
  for (int k = 0; k < n; ++k) sum += std::fabs(v[k]);
  return sum;
}

int A1(int K, double* hapfreq, StudyList* study, FamilyList* families, int group_a, int group_b,
       int use_study, int use_families, const int* groups, int group_mode) {
  double* f = hapfreq;
  std::vector<double> fresh(static_cast<std::size_t>(K));
  std::vector<double> change(static_cast<std::size_t>(K), 1.0);
  int count = 0;
  while (length(change.data(), K) > 0.0001 && count < 500) {
    ++count;
    int n_study = 0, n_trio = 0, n_duo = 0, n_single = 0;
    if (use_study == 1 && study) {
      for (node0* ind = study->head.get(); ind; ind = ind->next.get()) {
        if (!passes(*ind, group_a, group_b, groups, group_mode)) continue;
        ++n_study;
        double S = 0.0;
        for (node* p = ind->pairs.get(); p; p = p->next.get()) {
          S += m_of(p->hap1, p->hap2) * f[p->hap1] * f[p->hap2];
        }
        if (S == 0.0) S = 1.0;
        for (node* p = ind->pairs.get(); p; p = p->next.get()) {
          p->weight = m_of(p->hap1, p->hap2) * f[p->hap1] * f[p->hap2] / S;
        }
      }
    }
    if (use_families == 1 && families) {
      for (node_ex0* u = families->head.get(); u; u = u->next.get()) {
        if (u->kind == 3) ++n_trio;
        if (u->kind == 2) ++n_duo;
        if (u->kind == 1) ++n_single;
        double S = 0.0;
        for (node_ex* c = u->configs.get(); c; c = c->next.get()) S += config_prob(f, *c, u->kind);
        if (S == 0.0) S = 1.0;
        for (node_ex* c = u->configs.get(); c; c = c->next.get()) {
          c->weight = config_prob(f, *c, u->kind) / S;
        }
      }
    }
    for (int k = 0; k < K; ++k) fresh[k] = 0.0;
    if (use_study == 1 && study) {
      for (node0* ind = study->head.get(); ind; ind = ind->next.get()) {
        if (!passes(*ind, group_a, group_b, groups, group_mode)) continue;
        for (node* p = ind->pairs.get(); p; p = p->next.get()) {
          fresh[p->hap1] += p->weight / 2.0;
          fresh[p->hap2] += p->weight / 2.0;
        }
      }
    }
    if (use_families == 1 && families) {
      for (node_ex0* u = families->head.get(); u; u = u->next.get()) {
        for (node_ex* c = u->configs.get(); c; c = c->next.get()) {
          fresh[c->hap1] += c->weight / 2.0;
          fresh[c->hap2] += c->weight / 2.0;
          if (u->kind >= 2) fresh[c->hap3] += c->weight / 2.0;
          if (u->kind == 3) fresh[c->hap4] += c->weight / 2.0;
        }
      }
    }
    const double D = (2 * n_trio + n_study) + n_duo * 3.0 / 2.0 + n_single;
    if (D == 0.0) return 1;  // no unit takes part: hapfreq keeps its start values
    for (int k = 0; k < K; ++k) {
      fresh[k] = fresh[k] / D;
      change[k] = fresh[k] - f[k];
      f[k] = fresh[k];
    }
  }
  return count == 500 ? 0 : 1;
}

void imputation(const WindowGeometry& cfg, const double* hapfreq, const StudyList& study,
                const std::array<double*, 3>& prob) {
  for (const node0* ind = study.head.get(); ind; ind = ind->next.get()) {
    const int i = ind->index;
    prob[0][i] = 0.0;
    prob[1][i] = 0.0;
    prob[2][i] = 0.0;
    double S = 0.0;
    for (const node* p = ind->pairs.get(); p; p = p->next.get()) {
      S += m_of(p->hap1, p->hap2) * hapfreq[p->hap1] * hapfreq[p->hap2];
    }
    for (const node* p = ind->pairs.get(); p; p = p->next.get()) {
      const int g = p->hap1 / cfg.pow2[cfg.M - 1] + p->hap2 / cfg.pow2[cfg.M - 1];
      prob[g][i] += m_of(p->hap1, p->hap2) * hapfreq[p->hap1] * hapfreq[p->hap2] / S;
    }
  }
}

tessellar::StudyList flatten(const StudyList& list) {
  tessellar::StudyList out;
  for (const node0* ind = list.head.get(); ind; ind = ind->next.get()) {
    const int begin = static_cast<int>(out.pairs.size());
    for (const node* p = ind->pairs.get(); p; p = p->next.get()) {
      out.pairs.push_back({p->hap1, p->hap2});
    }
    out.individuals.push_back({ind->index, begin, static_cast<int>(out.pairs.size())});
  }
  return out;
}

tessellar::FamilyList flatten(const FamilyList& list) {
  tessellar::FamilyList out;
  for (const node_ex0* u = list.head.get(); u; u = u->next.get()) {
    const int begin = static_cast<int>(out.configs.size());
    for (const node_ex* c = u->configs.get(); c; c = c->next.get()) {
      out.configs.push_back({c->hap1, c->hap2, c->hap3, c->hap4});
    }
    out.units.push_back({u->kind, begin, static_cast<int>(out.configs.size())});
  }
  return out;
}

}  // namespace tessellar::literal
