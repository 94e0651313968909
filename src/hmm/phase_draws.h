// The haplotype pairs drawn from a phased window for phase averaging: each
// draw switches the phase at each heterozygote boundary with the final
// round's switch probability. The random numbers come from a counter-based
// generator keyed by (seed, window, sample, draw, heterozygote): no shared
// stream, so a pair does not depend on the thread that draws it, on the
// other samples or draws, or on which windows a run computes.
#pragma once

#include <cstdint>

#include "hmm/phasing.h"

namespace tessellar::hmm {

// The part of the key that a run and a window fix.
struct DrawKey {
  uint64_t seed = 0;
  int64_t window = 0;
};

// A uniform number in [0, 1), a function of (key, sample, draw, het) alone.
double draw_uniform(const DrawKey& key, int sample, int draw, int het);

// Pair number `draw` of sample i of phased: its haplotypes with the phase
// switched at every heterozygote k >= 1 whose number draw_uniform(key, i,
// draw, k) is below switch_prob of k (the switches add up along the
// sample). genotypes [phased.sites] is the sample's row of the window
// (missing genotypes stay -1 in the pair); a and b [phased.sites] receive
// the alleles.
void draw_pair(const PhasedWindow& phased, const int8_t* genotypes, const DrawKey& key, int sample,
               int draw, int8_t* a, int8_t* b);

}  // namespace tessellar::hmm
