// Plain reference versions of the pattern lists, the EM and the posterior
// step: singly linked heap records and the straightforward loops, kept to
// check the fast versions in src/haplo bit for bit.
#pragma once

#include <array>
#include <memory>
#include <vector>

#include "haplo/pattern_lists.h"

namespace tessellar::literal {

// One compatible pair of a study individual; weight is A1's scratch.
struct node {
  int hap1 = 0;
  int hap2 = 0;
  double weight = 0.0;
  std::unique_ptr<node> next;
  ~node();  // releases the rest of the chain without recursion
};

// One study individual with the head of its pair chain.
struct node0 {
  std::unique_ptr<node> pairs;
  int index = 0;
  std::unique_ptr<node0> next;
  ~node0();
};

// One configuration of a family unit (hap3 / hap4 -1 where unused).
struct node_ex {
  int hap1 = 0;
  int hap2 = 0;
  int hap3 = -1;
  int hap4 = -1;
  double weight = 0.0;
  std::unique_ptr<node_ex> next;
  ~node_ex();
};

// One family unit: kind 3 trio, 2 duo, 1 singleton.
struct node_ex0 {
  int kind = 0;
  std::unique_ptr<node_ex> configs;
  std::unique_ptr<node_ex0> next;
  ~node_ex0();
};

// An owning study pattern list (head of the node0 chain; empty when null).
struct StudyList {
  std::unique_ptr<node0> head;
};

// An owning family pattern list: trios, then duos, then singletons.
struct FamilyList {
  std::unique_ptr<node_ex0> head;
};

// indicator's three tests, in order, at every window position.
int indicator(const WindowGeometry& g, const int* row, int h1, int h2);

// The study pattern list of n rows of M codes (rows[r * M ..]).
StudyList makelist(const WindowGeometry& g, const int* rows, int n);

// The family pattern list of 3 ntr + 2 ndu + nun rows in panel order.
FamilyList makelist_ex(const WindowGeometry& g, const int* rows, int ntr, int ndu, int nun);

// Release every record (also done by the lists' destructors).
void freelink(StudyList& list);
void freelink_ex(FamilyList& list);

// Sum of |v[k]| for k = 0 .. n-1 in order.
double length(const double* v, int n);

// The EM, with the weights kept in the records' weight fields; arguments as
// tessellar::A1. Returns 0 when 500 iterations ran, else 1; when no unit
// takes part hapfreq is left as it is and 1 is returned.
int A1(int K, double* hapfreq, StudyList* study, FamilyList* families, int group_a, int group_b,
       int use_study, int use_families, const int* groups = nullptr, int group_mode = 9);

// Posterior genotype probabilities; arguments as tessellar::imputation.
void imputation(const WindowGeometry& g, const double* hapfreq, const StudyList& study,
                const std::array<double*, 3>& prob);

// The lists flattened into the fast layout, to compare them.
tessellar::StudyList flatten(const StudyList& list);
tessellar::FamilyList flatten(const FamilyList& list);

}  // namespace tessellar::literal
