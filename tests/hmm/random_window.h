// Seeded random windows of the copying model for the tests and the
// benchmark: a reference panel at the typed sites, untyped sites whose
// carrier counts follow a 1/x-like spectrum (most sites rare), and study
// haplotypes copied from the panel with switches, errors and missing alleles.
// The window owns its arrays; model() and untyped() are views of them.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <numeric>
#include <random>
#include <vector>

#include "hmm/copying_model.h"

namespace tessellar::testing_support {

using hmm::CopyingModel;
using hmm::UntypedSites;

template <class Real>
class RandomWindow {
 public:
  RandomWindow(uint32_t seed, int states, int sites, int untyped, Real rho, Real error)
      : states_(states), sites_(sites), error_(error), random_(seed) {
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    alleles_.resize(std::size_t(states) * sites);
    for (int m = 0; m < sites; ++m) {
      const double p = frequency();
      for (int j = 0; j < states; ++j) alleles_[std::size_t(m) * states + j] = unit(random_) < p;
    }
    switches_.assign(sites, rho);
    make_untyped(untyped);
  }

  CopyingModel<Real> model() const {
    return {sites_, states_, alleles_.data(), switches_.data(), error_};
  }
  UntypedSites<Real> untyped() const {
    return {int(left_.size()),     left_.data(),     weight_.data(),
            carrier_begin_.data(), carriers_.data(), carried_.data()};
  }
  std::vector<Real>& switches() { return switches_; }
  std::vector<uint8_t>& alleles() { return alleles_; }  // of state j at site m: [m * states + j]

  // The allele of state j at untyped site u.
  int untyped_allele(int u, int j) const {
    const auto first = carriers_.begin() + carrier_begin_[u];
    const auto last = carriers_.begin() + carrier_begin_[u + 1];
    const bool listed = std::binary_search(first, last, j);
    return listed ? carried_[u] : 1 - carried_[u];
  }

  // A study haplotype copied from the panel: a jump at each interval with
  // probability rho, each allele flipped with probability error and missing
  // with probability missing.
  std::vector<int8_t> study(double rho, double error, double missing) {
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    std::uniform_int_distribution<int> pick(0, states_ - 1);
    std::vector<int8_t> observed(sites_);
    int state = pick(random_);
    for (int m = 0; m < sites_; ++m) {
      if (unit(random_) < rho) state = pick(random_);
      int allele = alleles_[std::size_t(m) * states_ + state];
      if (unit(random_) < error) allele = 1 - allele;
      observed[m] = unit(random_) < missing ? int8_t(-1) : int8_t(allele);
    }
    return observed;
  }

 private:
  // A 1/x-like carrier count in [1, states / 2] (at least 1).
  int carrier_count() {
    const double top = std::max(1, states_ / 2);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    return std::clamp(int(std::exp(unit(random_) * std::log(top + 1))), 1, int(top));
  }
  double frequency() { return double(carrier_count()) / states_; }

  void make_untyped(int count) {
    std::uniform_int_distribution<int> where(-1, sites_ - 1);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    left_.resize(count);
    for (int& l : left_) l = where(random_);
    std::sort(left_.begin(), left_.end());
    std::vector<int> order(states_);
    std::iota(order.begin(), order.end(), 0);
    carrier_begin_.assign(1, 0);
    for (int u = 0; u < count; ++u) {
      weight_.push_back(Real(unit(random_)));
      carried_.push_back(unit(random_) < 0.5);
      const int c = carrier_count();
      for (int i = 0; i < c; ++i)
        std::swap(order[i], order[std::uniform_int_distribution<int>(i, states_ - 1)(random_)]);
      std::sort(order.begin(), order.begin() + c);
      carriers_.insert(carriers_.end(), order.begin(), order.begin() + c);
      carrier_begin_.push_back(int(carriers_.size()));
    }
  }

  int states_;
  int sites_;
  Real error_;
  std::mt19937 random_;
  std::vector<uint8_t> alleles_;
  std::vector<Real> switches_;
  std::vector<int> left_;
  std::vector<Real> weight_;
  std::vector<int> carrier_begin_;
  std::vector<int> carriers_;
  std::vector<uint8_t> carried_;
};

}  // namespace tessellar::testing_support
