// The counter-based generator and the pairs drawn with it.
#include "hmm/phase_draws.h"

namespace tessellar::hmm {

namespace {

// The finaliser of SplitMix64: a bijection of 64-bit words that mixes every
// input bit into every output bit.
uint64_t mix(uint64_t z) {
  z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
  z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
  return z ^ (z >> 31);
}

// One more word of key absorbed into the state.
uint64_t absorb(uint64_t state, uint64_t word) {
  return mix(state + 0x9e3779b97f4a7c15ULL + word);
}

}  // namespace

double draw_uniform(const DrawKey& key, int sample, int draw, int het) {
  uint64_t state = mix(key.seed);
  state = absorb(state, static_cast<uint64_t>(key.window));
  state = absorb(state, static_cast<uint64_t>(static_cast<uint32_t>(sample)));
  state = absorb(state, static_cast<uint64_t>(static_cast<uint32_t>(draw)));
  state = absorb(state, static_cast<uint64_t>(static_cast<uint32_t>(het)));
  return static_cast<double>(state >> 11) * 0x1.0p-53;
}

void draw_pair(const PhasedWindow& phased, const int8_t* genotypes, const DrawKey& key, int sample,
               int draw, int8_t* a, int8_t* b) {
  const std::size_t i = static_cast<std::size_t>(sample);
  const int first = phased.het_begin[i];
  const int last = phased.het_begin[i + 1];
  const uint8_t* x = phased.haplotype(sample, 0);
  const uint8_t* y = phased.haplotype(sample, 1);
  bool flip = false;
  int het = first;
  for (int m = 0; m < phased.sites; ++m) {
    if (het < last && phased.het_sites[static_cast<std::size_t>(het)] == m) {
      const int k = het - first;
      if (k > 0 &&
          draw_uniform(key, sample, draw, k) < phased.switch_prob[static_cast<std::size_t>(het)])
        flip = !flip;
      ++het;
    }
    if (genotypes[m] < 0) {
      a[m] = b[m] = -1;
    } else {
      a[m] = static_cast<int8_t>(flip ? y[m] : x[m]);
      b[m] = static_cast<int8_t>(flip ? x[m] : y[m]);
    }
  }
}

}  // namespace tessellar::hmm
