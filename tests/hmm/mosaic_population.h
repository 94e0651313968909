// Seeded populations with known phase for the phasing tests and benchmark:
// every haplotype is a mosaic of a few founder haplotypes (a jump to a
// random founder with probability `jump` per site, each allele mutated with
// probability `mutation`), so that haplotypes share long stretches as real
// ones do. The first `references` haplotypes are the reference panel; the
// others pair up into study samples, whose genotypes (with missing ones)
// are what the phasing sees.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "hmm/phasing.h"

namespace tessellar::testing_support {

struct PopulationShape {
  int sites = 200;
  int references = 60;
  int samples = 20;
  int founders = 12;
  double jump = 0.02;
  double mutation = 0.002;
  double missing = 0.0;
  float switch_prob = 0.03f;
  float error = 0.01f;
};

class MosaicPopulation {
 public:
  MosaicPopulation(uint32_t seed, const PopulationShape& shape) : shape_(shape), random_(seed) {
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    const int t = shape.sites;
    std::vector<uint8_t> founders(std::size_t(shape.founders) * t);
    for (int m = 0; m < t; ++m) {
      // Founder frequencies between 1 / founders and one half, 1/x-like.
      const double p = std::exp(std::log(0.5) * unit(random_));
      for (int f = 0; f < shape.founders; ++f) founders[std::size_t(f) * t + m] = unit(random_) < p;
    }
    const int haplotypes = shape.references + 2 * shape.samples;
    std::uniform_int_distribution<int> pick(0, shape.founders - 1);
    truth_.resize(std::size_t(haplotypes) * t);
    for (int h = 0; h < haplotypes; ++h) {
      int f = pick(random_);
      for (int m = 0; m < t; ++m) {
        if (unit(random_) < shape.jump) f = pick(random_);
        uint8_t allele = founders[std::size_t(f) * t + m];
        if (unit(random_) < shape.mutation) allele ^= 1;
        truth_[std::size_t(h) * t + m] = allele;
      }
    }
    reference_.resize(std::size_t(shape.references) * t);
    for (int m = 0; m < t; ++m)
      for (int j = 0; j < shape.references; ++j)
        reference_[std::size_t(m) * shape.references + j] = truth_[std::size_t(j) * t + m];
    genotypes_.resize(std::size_t(shape.samples) * t);
    for (int i = 0; i < shape.samples; ++i)
      for (int m = 0; m < t; ++m) {
        const int g = study(i, 0)[m] + study(i, 1)[m];
        genotypes_[std::size_t(i) * t + m] = unit(random_) < shape.missing ? -1 : int8_t(g);
      }
    switches_.assign(t, shape.switch_prob);
  }

  hmm::GenotypeWindow window() const {
    return {shape_.sites,      shape_.references, reference_.data(), shape_.samples,
            genotypes_.data(), switches_.data(),  shape_.error};
  }
  // The true haplotype x of study sample i, [sites].
  const uint8_t* study(int i, int x) const {
    return truth_.data() + std::size_t(shape_.references + 2 * i + x) * shape_.sites;
  }
  const std::vector<int8_t>& genotypes() const { return genotypes_; }
  const std::vector<uint8_t>& reference() const { return reference_; }

  // The switch-error rate of phased against the truth: the share of the
  // boundaries between consecutive heterozygotes (missing genotypes passed
  // over) where the phase relation differs.
  double switch_errors(const hmm::PhasedWindow& phased) const {
    long long switches = 0, boundaries = 0;
    for (int i = 0; i < shape_.samples; ++i) {
      int previous = -1;  // the relation at the previous heterozygote
      for (int m = 0; m < shape_.sites; ++m) {
        if (genotypes_[std::size_t(i) * shape_.sites + m] != 1) continue;
        const int relation = phased.haplotype(i, 0)[m] == study(i, 0)[m];
        boundaries += previous >= 0;
        switches += previous >= 0 && relation != previous;
        previous = relation;
      }
    }
    return boundaries ? double(switches) / double(boundaries) : 0.0;
  }

 private:
  PopulationShape shape_;
  std::mt19937 random_;
  std::vector<uint8_t> truth_;      // [haplotypes * sites]
  std::vector<uint8_t> reference_;  // [sites * references]
  std::vector<int8_t> genotypes_;   // [samples * sites]
  std::vector<float> switches_;
};

}  // namespace tessellar::testing_support
