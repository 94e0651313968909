// The greedy first phase and one round's pair pass of the phasing, compiled
// for the baseline instruction set and for AVX2 like the copying kernel;
// both paths give the same bits (fixed lanes, no fused multiply-adds).
#include "hmm/phasing_kernels.h"

#include <algorithm>
#include <cstring>

#include "hmm/phasing_steps.h"

namespace tessellar::hmm {

namespace {

// 16 bytes as one vector (GCC and Clang vector extension; one register of
// every x86-64 instruction set).
typedef uint8_t Bytes __attribute__((vector_size(16)));

// The bytes of the plane whose rows are row[0 .. 8) at sites [m, m + 16):
// row 7 first, doubling at each row (bit l from row l), masked.
void pack_sixteen(const uint8_t* const (&row)[8], std::size_t m, AlleleByte mask, AlleleByte* to) {
  Bytes plane = {};
  for (int l = 7; l >= 0; --l) {
    Bytes r;
    std::memcpy(&r, row[l] + m, sizeof r);
    plane = plane + plane + r;
  }
  plane &= mask;
  std::memcpy(to + m, &plane, sizeof plane);
}

}  // namespace

void pack_states(const uint8_t* const* rows, int states, int sites, AlleleByte* out) {
  for (int q = 0; q < 2 * blocks_of(states); ++q) {
    // The rows of the plane; past the last state the last row, masked off.
    const uint8_t* row[8];
    unsigned mask = 0;
    for (int l = 0; l < 8; ++l) {
      const int j = 8 * q + l;
      row[l] = rows[j < states ? j : states - 1];
      if (j < states) mask |= 1u << l;
    }
    AlleleByte* to = out + static_cast<std::size_t>(q) * sites;
    int first = 0;
    for (; first + 16 <= sites; first += 16)
      pack_sixteen(row, static_cast<std::size_t>(first), static_cast<AlleleByte>(mask), to);
    for (int m = first; m < sites; ++m) {
      unsigned byte = 0;
      for (int l = 0; l < 8; ++l) byte |= static_cast<unsigned>(row[l][m]) << l;
      to[m] = static_cast<AlleleByte>(byte & mask);
    }
  }
}

void PhasingWorkspace::reserve(int sites, int states) {
  const std::size_t k = padded(states);
  const std::size_t chunks = (static_cast<std::size_t>(sites) + kChunk - 1) / kChunk;
  if (carry_.size() < 2 * k) carry_.resize(2 * k);
  if (back_.size() < 2 * k) back_.resize(2 * k);
  if (checkpoints_.size() < 2 * chunks * k) checkpoints_.resize(2 * chunks * k);
  if (chunk_.size() < 2 * kChunk * k) chunk_.resize(2 * kChunk * k);
  if (totals_.size() < 2 * static_cast<std::size_t>(sites)) totals_.resize(2 * sites);
}

// The passes; a friend of the workspace, inlined into each path below.
struct PhasingKernel {
  static constexpr int kChunk = PhasingWorkspace::kChunk;

  // The transition into site m from a site whose carried values sum to
  // previous (the uniform start at site 0).
  TSL_KERNEL_INLINE static Transition<float> into(const PackedStates& model, float previous,
                                                  int m) {
    if (m == 0) return {0.0f, 1.0f / static_cast<float>(model.states)};
    return transition(model.switches[m], previous, model.states);
  }

  // Buffers of both haplotypes side by side, each of p values (the states
  // padded to whole blocks).
  TSL_KERNEL_INLINE static PairBuffers pair_at(float* at, std::size_t p) { return {at, at + p}; }

  TSL_KERNEL_INLINE static void initial(const PackedStates& model, const int8_t* genotypes,
                                        PhasingWorkspace& work, uint8_t* a, uint8_t* b) {
    const int k = model.states;
    work.reserve(model.sites, k);
    const std::size_t p = PhasingWorkspace::padded(k);
    const PairBuffers carry = pair_at(work.carry_.data(), p);
    std::fill(carry.a, carry.a + 2 * p, 0.0f);
    PairOf total{1.0f, 1.0f};
    const float match = 1.0f - model.error;
    const float miss = model.error;
    for (int m = 0; m < model.sites; ++m) {
      const SiteAlleles alleles = model.at(m);
      const Transition<float> ta = into(model, total.a, m), tb = into(model, total.b, m);
      const int g = genotypes[m];
      if (g == 0 || g == 2) {
        const Emission<float> e = emission(g / 2, model.error);
        total = pair_step(alleles, k, e, e, ta, tb, carry, carry);
        a[m] = b[m] = static_cast<uint8_t>(g / 2);
        continue;
      }
      Prediction pa, pb;
      pair_predict(alleles, k, ta, tb, carry, pa, pb);
      if (g < 0) {
        a[m] = pa.one > pa.total - pa.one;
        b[m] = pb.one > pb.total - pb.one;
        total = {pa.total, pb.total};
        continue;
      }
      // P(a haplotype's allele = u) from its prediction, u = 0 and 1.
      const auto given = [&](const Prediction& q, int u) {
        const double one = q.one;
        const double zero = static_cast<double>(q.total) - one;
        return u == 1 ? one * match + zero * miss : zero * match + one * miss;
      };
      const double a0b1 = given(pa, 0) * given(pb, 1);
      const double a1b0 = given(pa, 1) * given(pb, 0);
      a[m] = a1b0 > a0b1 ? 1 : 0;
      b[m] = static_cast<uint8_t>(1 - a[m]);
      total =
          pair_emit(alleles, k, emission(a[m], model.error), emission(b[m], model.error), carry);
    }
  }

  TSL_KERNEL_INLINE static std::size_t chunks(int sites) {
    return (static_cast<std::size_t>(sites) + kChunk - 1) / kChunk;
  }

  // The forward passes of both haplotypes: the totals of every site and the
  // carries entering every chunk.
  TSL_KERNEL_INLINE static void forward(const PackedStates& model, const PairAlleles& pair,
                                        PhasingWorkspace& work) {
    const int k = model.states;
    const std::size_t p = PhasingWorkspace::padded(k);
    const PairBuffers carry = pair_at(work.carry_.data(), p);
    float* totals = work.totals_.data();
    float* checkpoints = work.checkpoints_.data();
    std::fill(carry.a, carry.a + 2 * p, 0.0f);
    PairOf total{1.0f, 1.0f};
    for (int m = 0; m < model.sites; ++m) {
      if (m % kChunk == 0)
        std::copy(carry.a, carry.a + 2 * p, checkpoints + std::size_t(m / kChunk) * 2 * p);
      total = pair_step(model.at(m), k, emission(pair.a[m], model.error),
                        emission(pair.b[m], model.error), into(model, total.a, m),
                        into(model, total.b, m), carry, carry);
      totals[2 * m] = total.a;
      totals[2 * m + 1] = total.b;
    }
  }

  // The chunk row of site m: y of both haplotypes.
  TSL_KERNEL_INLINE static PairBuffers row(PhasingWorkspace& work, std::size_t p, int m) {
    return pair_at(work.chunk_.data() + std::size_t(m % kChunk) * 2 * p, p);
  }

  // y of both haplotypes at the sites [first, last) of one chunk, into the
  // chunk rows, with the bits of the forward pass.
  TSL_KERNEL_INLINE static void recompute(const PackedStates& model, const PairAlleles& pair,
                                          PhasingWorkspace& work, int first, int last) {
    const int k = model.states;
    const std::size_t p = PhasingWorkspace::padded(k);
    const float* totals = work.totals_.data();
    float* start = work.checkpoints_.data() + std::size_t(first / kChunk) * 2 * p;
    for (int m = first; m < last; ++m) {
      const PairBuffers y = row(work, p, m);
      const PairBuffers previous = m == first ? pair_at(start, p) : row(work, p, m - 1);
      const PairOf before =
          m == 0 ? PairOf{1.0f, 1.0f} : PairOf{totals[2 * m - 2], totals[2 * m - 1]};
      pair_step(model.at(m), k, emission(pair.a[m], model.error), emission(pair.b[m], model.error),
                into(model, before.a, m), into(model, before.b, m), previous, y);
    }
  }

  TSL_KERNEL_INLINE static void score(const PackedStates& model, const PairAlleles& pair,
                                      PhasingWorkspace& work, const PairScores& out) {
    if (pair.hets > 0) out.switch_prob[0] = 0.0f;
    if (pair.hets <= 1 && pair.missing == 0) return;
    const int k = model.states;
    work.reserve(model.sites, k);
    forward(model, pair, work);
    const std::size_t p = PhasingWorkspace::padded(k);
    const PairBuffers h = pair_at(work.carry_.data(), p);
    const PairBuffers back = pair_at(work.back_.data(), p);
    std::fill(h.a, h.a + 2 * p, 0.0f);
    Transition<float> ta{0.0f, 1.0f}, tb{0.0f, 1.0f};
    int het = pair.hets - 1;
    int missing = pair.missing - 1;
    for (int m = model.sites - 1; m >= 0; --m) {
      if (m == model.sites - 1 || (m + 1) % kChunk == 0)
        recompute(model, pair, work, m / kChunk * kChunk, m + 1);
      const SiteAlleles alleles = model.at(m);
      const Emission<float> ea = emission(pair.a[m], model.error);
      const Emission<float> eb = emission(pair.b[m], model.error);
      const bool boundary = het >= 1 && pair.het_sites[het] == m + 1;
      const bool unknown = missing >= 0 && pair.missing_sites[missing] == m;
      PairOf total;
      if (boundary || unknown) {
        total = pair_back_step(alleles, k, ea, eb, ta, tb, h, back);
        const PairBuffers y = row(work, p, m);
        if (boundary) out.switch_prob[het--] = switch_probability(cross_products(k, y, back));
        if (unknown) {
          const Prediction qa = allele_products(alleles, k, y.a, back.a);
          const Prediction qb = allele_products(alleles, k, y.b, back.b);
          out.missing_a[missing] = clamp01(qa.one / qa.total);
          out.missing_b[missing] = clamp01(qb.one / qb.total);
          --missing;
        }
      } else {
        total = pair_step(alleles, k, ea, eb, ta, tb, h, h);
      }
      if (m > 0) {
        ta = transition(model.switches[m], total.a, k);
        tb = transition(model.switches[m], total.b, k);
      }
    }
  }

  // The switch probability from the products of y and b at the site before
  // the boundary: L(x->y) = y_x . b_y up to factors that cancel.
  static float switch_probability(const CrossProducts& p) {
    const double stay = double(p.aa) * double(p.bb);
    const double change = double(p.ab) * double(p.ba);
    return stay + change > 0 ? static_cast<float>(change / (stay + change)) : 0.0f;
  }
};

namespace {

void initial_baseline(const PackedStates& model, const int8_t* genotypes, PhasingWorkspace& work,
                      uint8_t* a, uint8_t* b) {
  PhasingKernel::initial(model, genotypes, work, a, b);
}

void score_baseline(const PackedStates& model, const PairAlleles& pair, PhasingWorkspace& work,
                    const PairScores& out) {
  PhasingKernel::score(model, pair, work, out);
}

#if TSL_HMM_AVX2_PATH
[[gnu::target("avx2")]] void initial_avx2(const PackedStates& model, const int8_t* genotypes,
                                          PhasingWorkspace& work, uint8_t* a, uint8_t* b) {
  PhasingKernel::initial(model, genotypes, work, a, b);
}

[[gnu::target("avx2")]] void score_avx2(const PackedStates& model, const PairAlleles& pair,
                                        PhasingWorkspace& work, const PairScores& out) {
  PhasingKernel::score(model, pair, work, out);
}
#endif

}  // namespace

void initial_phase(KernelPath path, const PackedStates& model, const int8_t* genotypes,
                   PhasingWorkspace& work, uint8_t* a, uint8_t* b) {
#if TSL_HMM_AVX2_PATH
  if (path == KernelPath::kAvx2) return initial_avx2(model, genotypes, work, a, b);
#endif
  (void)path;
  initial_baseline(model, genotypes, work, a, b);
}

void score_pair(KernelPath path, const PackedStates& model, const PairAlleles& pair,
                PhasingWorkspace& work, const PairScores& out) {
#if TSL_HMM_AVX2_PATH
  if (path == KernelPath::kAvx2) return score_avx2(model, pair, work, out);
#endif
  (void)path;
  score_baseline(model, pair, work, out);
}

}  // namespace tessellar::hmm
